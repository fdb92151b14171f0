#!/usr/bin/env python3
"""Time from command 36 to the last report of the assignment, through the
real mirelserver.

Starts the server in a fresh simulation root, stores a 4-way loudspeaker
text (filters on every way) as a library entry, then RUNS times assigns it
to output group 0 and entry 0 back in turn (each assignment takes or frees
three outputs). Each command line goes out together with the key-lock query
"27,c,-1", whose answer the server writes in the device step, after the
group map, the group blocks and the output passes of the same cycle: its
arrival marks the last report of the assignment. The run checks that the
group map and group 0's output pass came before it. A group gain change
(command 38) timed the same way shows what any command takes.

Commands reach the real-time thread at a random point of its 25 ms cycle,
so "applied within the next cycle" means under 25 ms plus the delivery.
Usage: bench/lsp_assign.py [path/to/mirelserver] [--runs 200]
"""
import argparse
import random
import statistics
import sys
import time
import urllib.parse

from benchlib import DEFAULT_SERVER, Client, percentile, server_in_sim_root

FOUR_WAY = """LABEL "Four-way"
SUB
  HPF 28HZ BW24
  LPF 90HZ LR24
  PEQ 45HZ 3DB Q2,5
  POWER 2000W 4000W 4R
LOW
  HPF 90HZ LR24
  LPF 500HZ LR24
  PEQ 160HZ -3,5DB 0,7OCT
  POWER 800W 1600W 8R
MID
  HPF 500HZ LR24
  LPF 3,2KHZ BS24
  PEQ 1,2KHZ -2DB Q4
  POWER 300W 600W 8R
HIGH
  HPF 3,2KHZ BW36
  PEQ 8KHZ 2DB 0,5OCT
  HSHELF 14KHZ 3DB Q0.6
  POWER 100W 200W 16R
"""


def line_of(cl, prefix):
    """Reads up to the next line starting with prefix; returns what came before and that line."""
    before = cl.until(b"\n" + prefix)
    rest = cl.until(b"\n")
    return before, prefix + rest


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("server", nargs="?", default=DEFAULT_SERVER)
    ap.add_argument("--runs", type=int, default=200)
    args = ap.parse_args()

    with server_in_sim_root(args.server) as (_root, port, _server):
        cl = Client(port)
        c = cl.conn
        cl.sock.sendall(f"70,{c},0,0\n".encode())
        _, made = line_of(cl, f"70,{c},".encode())
        entry = int(made.split(b",")[2])
        text = urllib.parse.quote(FOUR_WAY, safe="-._~")
        cl.sock.sendall(f"67,{c},{entry},0,{text}\n".encode())
        line_of(cl, f"69,{c},{entry},4,12,".encode())

        to_map, to_last, plain = [], [], []
        for i in range(args.runs):
            # A plain group-gain change the same way, for comparison.
            time.sleep(random.uniform(0.0, 0.025))
            t0 = time.perf_counter()
            cl.sock.sendall(f"38,{c},3,{-(i % 40) - 1}\n27,{c},-1\n".encode())
            line_of(cl, f"27,{c},".encode())
            plain.append(time.perf_counter() - t0)

            time.sleep(random.uniform(0.0, 0.025))  # any point of the cycle
            target = entry if i % 2 == 0 else 0
            t0 = time.perf_counter()
            cl.sock.sendall(f"36,{c},0,{target}\n27,{c},-1\n".encode())
            before_map, _ = line_of(cl, b"32,0,")
            t_map = time.perf_counter()
            between, _ = line_of(cl, f"27,{c},".encode())
            t_last = time.perf_counter()
            # Group 0's phase line: once in its block, once from its output pass.
            if between.count(b"\n39,0,0,") < 2:
                print(f"run {i}: the assignment's reports did not all come before the marker", file=sys.stderr)
                return 1
            to_map.append(t_map - t0)
            to_last.append(t_last - t0)

        for name, v in (("group map (32)", to_map), ("last report of the assignment", to_last),
                        ("a group gain change, for comparison", plain)):
            print(f"{name}: median {statistics.median(v) * 1e3:.1f} ms, p99 {percentile(v, 0.99) * 1e3:.1f} ms, "
                  f"max {max(v) * 1e3:.1f} ms ({len(v)} assignments)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
