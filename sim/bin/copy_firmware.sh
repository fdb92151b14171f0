#!/usr/bin/env bash
# Simulated firmware preparation: succeeds when the stick holds a firmware
# folder, and leaves a marker the tests can look for.
. "${0%/*}/_shim.sh"
if [ -d "$SIM_ROOT/mnt/usb/firmware" ]; then
    : > "$SIM_ROOT/update/firmware/prepared"
    exit 0
fi
echo "copy_firmware.sh: no firmware on the stick" >&2
exit 1
