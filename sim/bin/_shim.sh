# Sourced by every shim: finds the simulation root (the folder above bin/)
# and records the call in DIR/tmp/shim.log, so tests can see what ran.
shim_name=${0##*/}
shim_bin=${0%/*}
case $shim_bin in /*) ;; *) shim_bin=$PWD/$shim_bin ;; esac
SIM_ROOT=${shim_bin%/bin}
# One line, written at once: shims that run side by side do not mix lines.
shim_log() {
    printf '%s\n' "$1" >> "$SIM_ROOT/tmp/shim.log" 2>/dev/null
}
# SIGTERM is recorded as "TOOL: SIGTERM" (set before the call is recorded,
# so a test that has seen the call sees the signal too).
shim_sleep=
trap 'shim_log "$shim_name: SIGTERM"; [ -n "$shim_sleep" ] && kill "$shim_sleep" 2>/dev/null; exit 0' TERM
shim_line=$shim_name
for a in "$@"; do shim_line+=" $a"; done
shim_log "$shim_line"
# A path the simulation may touch: inside the root only.
shim_inside() {
    case $1 in "$SIM_ROOT"/*) return 0 ;; *) echo "$shim_name: $1: outside the simulation root" >&2; return 1 ;; esac
}
# Lets a test make a tool fail: DIR/etc/fail/<tool> holds its exit status.
if [ -f "$SIM_ROOT/etc/fail/$shim_name" ]; then
    read -r shim_status < "$SIM_ROOT/etc/fail/$shim_name"
    exit "${shim_status:-1}"
fi
# A daemon stays in the foreground until SIGTERM. It also ends when the
# program that started it has gone, so no simulated daemon outlives its server.
shim_daemon() {
    while kill -0 "$PPID" 2>/dev/null; do
        sleep 2 &
        shim_sleep=$!
        wait "$shim_sleep"
    done
}
