#!/usr/bin/env python3
"""Cost of real-time cycles on the device's processor (no floating-point unit).

Runs `rt_cycle_bench --fixed KIND N` under callgrind with per-instruction
counts, twice (N cycles and none, so start-up drops out), disassembles every
object the counts fall in, and sorts each executed x86 instruction into
integer work or a floating-point operation. The device has no FPU: there
each floating-point operation is a call into the soft-float library, so the
estimate weighs it by the cost below and counts every other instruction as
one.

    bench/device_cost.py [--build build/hw2] [--state default,show]
                         [--kinds idle,gain,geq,geq8,refresh] [--top N]

Cost model (ARM instructions per operation, from the size of the soft-float
routines of libgcc for ARM; libm calls such as sin are not given a figure of
their own: their instructions are sorted like any others, so they cost what
their own arithmetic costs):

    single precision  add, sub, mul, min, max 30   div 90    sqrt 150
    double precision  add, sub, mul, min, max 60   div 230   sqrt 400
    fused multiply-add: a mul and an add
    comparison 20 (single) / 30 (double); conversion between int, float and
    double 20 (single side) / 30 (double side); rounding to an integer 30
    packed operations count once per lane; x87 arithmetic as double
    string instructions with a repeat prefix (large memset and memcpy):
    callgrind counts one per byte, the device moves a word per store: 1/4

Time at 400 MHz assumes one instruction per clock.

States: `default` is the state a new device starts with (every band flat);
`show` has every graphic band, parametric band, shelf and high-pass of every
bus and output group in use.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
from collections import defaultdict

CLOCK_HZ = 400e6

# Cycles per run of each kind: enough that start-up noise is far below a cycle.
CYCLES = {"idle": 200, "gain": 200, "geq": 100, "geq8": 40, "refresh": 20}

COST = {
    ("arith", "s"): 30, ("arith", "d"): 60,
    ("div", "s"): 90, ("div", "d"): 230,
    ("sqrt", "s"): 150, ("sqrt", "d"): 400,
    ("cmp", "s"): 20, ("cmp", "d"): 30,
    ("cvt", "s"): 20, ("cvt", "d"): 30,
    ("round", "s"): 30, ("round", "d"): 30,
}

ARITH = {"add", "sub", "mul", "min", "max"}
X87_ARITH = re.compile(r"^f(add|sub|subr|mul|div|divr|sqrt|sin|cos|ptan|patan|yl2x|yl2xp1|2xm1|scale|prem|prem1|rndint)p?$")
X87_CMP = re.compile(r"^f(u?comi?p?p?|tst|ucom|ucomp|ucompp)$")
X87_CVT = re.compile(r"^fi(ld|stp?|sttp)$")


def lanes(suffix, operands):
    if suffix[0] == "s":
        return 1
    width = 8 if "%ymm" in operands else 4
    return width if suffix[1] == "s" else width // 2


def classify(mnemonic, operands):
    """(kind, precision, count) of one x86 instruction, or None for integer work."""
    m = mnemonic
    if m.startswith("v") and len(m) > 3:
        m = m[1:]
    if re.match(r"^f(n?m(add|sub))(132|213|231)(ss|sd|ps|pd)$", m):
        suf = m[-2:]
        n = lanes(suf, operands)
        return [("arith", suf[1], 2 * n)]
    mm = re.match(r"^(add|sub|mul|div|sqrt|min|max)(ss|sd|ps|pd)$", m)
    if mm:
        op, suf = mm.groups()
        kind = "arith" if op in ARITH else op
        return [(kind, suf[1], lanes(suf, operands))]
    mm = re.match(r"^u?comis([sd])$", m)
    if mm:
        return [("cmp", mm.group(1), 1)]
    mm = re.match(r"^cmp[a-z]*(ss|sd|ps|pd)$", m)
    if mm:
        suf = mm.group(1)
        return [("cmp", suf[1], lanes(suf, operands))]
    if m.startswith("cvt"):
        prec = "d" if ("sd" in m or "pd" in m or "dq" in m and "pd" in m) else "s"
        n = 1
        if re.match(r"^cvt(t?ps2dq|dq2ps|ps2pd|pd2ps|t?pd2dq|dq2pd)$", m):
            n = 4 if "ps" in m and "%ymm" not in operands else 2
        return [("cvt", prec, n)]
    mm = re.match(r"^round(ss|sd|ps|pd)$", m)
    if mm:
        suf = mm.group(1)
        return [("round", suf[1], lanes(suf, operands))]
    if X87_ARITH.match(mnemonic):
        kind = "div" if "div" in mnemonic else "sqrt" if "sqrt" in mnemonic else "arith"
        return [(kind, "d", 1)]
    if X87_CMP.match(mnemonic):
        return [("cmp", "d", 1)]
    if X87_CVT.match(mnemonic):
        return [("cvt", "d", 1)]
    return None


_disasm_cache = {}


def disassemble(path):
    """Address -> (mnemonic, operands, repeated) for every instruction of an object."""
    if path in _disasm_cache:
        return _disasm_cache[path]
    table = {}
    if os.path.exists(path):
        out = subprocess.run(["objdump", "-d", "--no-show-raw-insn", path],
                             capture_output=True, text=True, check=False).stdout
        for line in out.splitlines():
            mm = re.match(r"^\s*([0-9a-f]+):\s+(\S+)\s*(.*)$", line)
            if mm:
                # Prefixes (rep, lock, bnd, notrack, data16) do not change the kind.
                parts = (mm.group(2) + " " + mm.group(3)).split()
                repeated = False
                while parts and parts[0] in ("rep", "repz", "repnz", "repe", "repne", "lock", "bnd", "notrack", "data16", "cs", "ds"):
                    repeated = repeated or parts[0].startswith("rep")
                    parts = parts[1:]
                if parts:
                    table[int(mm.group(1), 16)] = (parts[0], " ".join(parts[1:]), repeated)
    _disasm_cache[path] = table
    return table


def parse_callgrind(path):
    """Self cost per (object, function, address) from a --dump-instr=yes profile."""
    names = {"ob": {}, "fn": {}}
    counts = defaultdict(int)
    ob = fn = None
    addr = 0
    skip_next = False
    with open(path) as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            c = line[0]
            if c.isdigit() or c in "+-*" or line.startswith("0x"):
                fields = line.split()
                a = fields[0]
                if a == "*":
                    pass
                elif a[0] in "+-":
                    addr += int(a, 0)
                else:
                    addr = int(a, 16)
                if skip_next:  # the inclusive cost of a call, not this line's own
                    skip_next = False
                    continue
                if len(fields) >= 3:
                    counts[(ob, fn, addr)] += int(fields[2])
                continue
            key, _, rest = line.partition("=")
            if key in ("ob", "fn"):
                mm = re.match(r"^\((\d+)\)\s*(.*)$", rest)
                if mm:
                    if mm.group(2):
                        names[key][mm.group(1)] = mm.group(2)
                    value = names[key].get(mm.group(1), "?")
                else:
                    value = rest
                if key == "ob":
                    ob = value
                else:
                    fn = value
            elif key in ("cob", "cfn"):
                mm = re.match(r"^\((\d+)\)\s*(.*)$", rest)
                if mm and mm.group(2):
                    names[key[1:]][mm.group(1)] = mm.group(2)
            elif key == "calls":
                skip_next = True
    return counts


def measure(bench, kind, n, state):
    """Total and per-function cost of a run of n cycles."""
    with tempfile.NamedTemporaryFile(prefix="device-cost-", suffix=".out", delete=False) as tmp:
        out = tmp.name
    cmd = ["valgrind", "--tool=callgrind", "--dump-instr=yes", "--callgrind-out-file=" + out,
           bench, "--fixed", kind, str(n)] + (["--show"] if state == "show" else [])
    r = subprocess.run(cmd, capture_output=True, text=True)
    if r.returncode != 0:
        sys.exit("%s failed:\n%s" % (" ".join(cmd), r.stderr[-2000:]))
    counts = parse_callgrind(out)
    os.unlink(out)
    total = empty()
    per_fn = defaultdict(empty)
    for (ob, fn, addr), cnt in counts.items():
        insn = disassemble(ob).get(addr) if ob else None
        cls = classify(insn[0], insn[1]) if insn else None
        for t in (total, per_fn[fn]):
            t["instr"] += cnt
            if insn and insn[2]:
                t["rep"] += cnt
            if cls:
                t["fpinstr"] += cnt
                for k, p, lanes_ in cls:
                    t["fp"][(k, p)] += cnt * lanes_
    return total, per_fn


def empty():
    return {"instr": 0, "fpinstr": 0, "rep": 0, "fp": defaultdict(int)}


def device_instr(t):
    return t["instr"] - t["fpinstr"] - 0.75 * t["rep"] + sum(v * COST[k] for k, v in t["fp"].items())


def diff(a, b, n):
    d = {"instr": (a["instr"] - b["instr"]) / n, "fpinstr": (a["fpinstr"] - b["fpinstr"]) / n,
         "rep": (a["rep"] - b["rep"]) / n, "fp": {}}
    for k in set(a["fp"]) | set(b["fp"]):
        d["fp"][k] = (a["fp"].get(k, 0) - b["fp"].get(k, 0)) / n
    return d


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--build", default="build/hw2")
    p.add_argument("--state", default="default,show")
    p.add_argument("--kinds", default="idle,gain,geq,geq8,refresh")
    p.add_argument("--top", type=int, default=0, help="also list the N costliest functions per kind")
    args = p.parse_args()
    bench = os.path.join(args.build, "bench", "rt_cycle_bench")
    if not os.path.exists(bench):
        sys.exit("no %s: build it first" % bench)

    print("| state | cycle | x86 instructions | floating-point ops (div) | device instructions | at 400 MHz |")
    print("| --- | --- | ---: | ---: | ---: | ---: |")
    tops = []
    for state in args.state.split(","):
        base, base_fn = measure(bench, "idle", 0, state)
        for kind in args.kinds.split(","):
            n = CYCLES[kind]
            run, run_fn = measure(bench, kind, n, state)
            d = diff(run, base, n)
            fp = sum(d["fp"].values())
            div = sum(v for k, v in d["fp"].items() if k[0] == "div")
            dev = device_instr(d)
            print("| %s | %s | %s | %s (%s) | %s | %.2f ms |" % (
                state, kind, "{:,.0f}".format(d["instr"]), "{:,.0f}".format(fp), "{:,.0f}".format(div),
                "{:,.0f}".format(dev), dev / CLOCK_HZ * 1e3))
            sys.stdout.flush()
            if args.top:
                rows = []
                for fn in set(run_fn) | set(base_fn):
                    fd = diff(run_fn.get(fn, empty()), base_fn.get(fn, empty()), n)
                    rows.append((device_instr(fd), fd["instr"], sum(fd["fp"].values()), fn))
                rows.sort(reverse=True)
                tops.append((state, kind, rows[:args.top]))
    for state, kind, rows in tops:
        print("\n%s / %s: costliest functions (own instructions; device estimate, x86, fp ops)" % (state, kind))
        for dev, ins, fp, fn in rows:
            print("  %12s %12s %10s  %s" % ("{:,.0f}".format(dev), "{:,.0f}".format(ins), "{:,.0f}".format(fp), fn))


if __name__ == "__main__":
    main()
