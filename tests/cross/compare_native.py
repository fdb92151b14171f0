"""Runs abi_probe of the ARM build under the emulator and abi_probe of the
native build of the same revision, and fails on the first output that is not
identical. The ARM build is the device's; the native one is what every other
test checks, so equal outputs carry those checks over to the device.

  compare_native.py NATIVE_PROBE ARM_PROBE WHAT

WHAT is a probe section (filters, curves, commands, dump) or state_file: the
state file after the command script must have the same bytes on both, and
each build must load the other's file to the same full dump and save it
again unchanged."""
import difflib
import os
import subprocess
import sys
import tempfile

EMULATOR = [a for a in os.environ.get("MIREL_TEST_EMULATOR", "").split("|") if a]
TIMEOUT = 300


def run(cmd):
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=TIMEOUT)
    if r.returncode != 0:
        sys.exit("%s failed (%d):\n%s%s" % (" ".join(cmd), r.returncode, r.stdout.decode(errors="replace"),
                                             r.stderr.decode(errors="replace")))
    return r.stdout.decode("latin-1")


def same(what, native, arm):
    if native == arm:
        print("%s: identical (%d lines)" % (what, native.count("\n")))
        return True
    diff = difflib.unified_diff(native.splitlines(), arm.splitlines(), "native", "arm", lineterm="", n=1)
    lines = list(diff)
    print("%s: ARM differs from native in %d lines:" % (what, sum(1 for l in lines if l.startswith("+"))))
    print("\n".join(lines[:80]))
    return False


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    native_probe, arm_probe, what = sys.argv[1:]
    if not os.access(native_probe, os.X_OK):
        sys.exit("no native abi_probe at %s: build the native revision first (tools/dev build)" % native_probe)
    if not EMULATOR:
        sys.exit("MIREL_TEST_EMULATOR is not set: this compares an emulated build")
    native = [native_probe]
    arm = EMULATOR + [arm_probe]
    if what != "state_file":
        return 0 if same(what, run(native + [what]), run(arm + [what])) else 1
    ok = True
    with tempfile.TemporaryDirectory(prefix="mirel-cross-") as tmp:
        native_file, arm_file = os.path.join(tmp, "native.state"), os.path.join(tmp, "arm.state")
        ok &= same("state file bytes", run(native + ["state", native_file]), run(arm + ["state", arm_file]))
        reference = run(native + ["load", native_file])
        ok &= "saved again: same bytes" in reference
        ok &= same("native file loaded by ARM", reference, run(arm + ["load", native_file]))
        ok &= same("ARM file loaded by native", reference, run(native + ["load", arm_file]))
    if "saved again: same bytes" not in reference:
        print("loading and saving the state file changes it:\n" + reference[-200:])
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
