# Sourced by every shim: finds the simulation root (the folder above bin/)
# and records the call in DIR/tmp/shim.log, so tests can see what ran.
shim_name=${0##*/}
shim_bin=${0%/*}
case $shim_bin in /*) ;; *) shim_bin=$PWD/$shim_bin ;; esac
SIM_ROOT=${shim_bin%/bin}
printf '%s' "$shim_name" >> "$SIM_ROOT/tmp/shim.log" 2>/dev/null
for a in "$@"; do printf ' %s' "$a" >> "$SIM_ROOT/tmp/shim.log" 2>/dev/null; done
printf '\n' >> "$SIM_ROOT/tmp/shim.log" 2>/dev/null
# A path the simulation may touch: inside the root only.
shim_inside() {
    case $1 in "$SIM_ROOT"/*) return 0 ;; *) echo "$shim_name: $1: outside the simulation root" >&2; return 1 ;; esac
}
# Lets a test make a tool fail: DIR/etc/fail/<tool> holds its exit status.
if [ -f "$SIM_ROOT/etc/fail/$shim_name" ]; then
    read -r shim_status < "$SIM_ROOT/etc/fail/$shim_name"
    exit "${shim_status:-1}"
fi
