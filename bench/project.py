#!/usr/bin/env python3
"""Project save and load through the real mirelserver, command to last report.

Starts the server in a fresh simulation root (database on the machine's
disk, write-ahead log synced at every commit) and makes two projects, A and
B, that differ in every bus and output-group value. Then, RUNS times each,
at a random point of the 25 ms real-time cycle:

- save (101): the time to the "Project saved." message, which the server
  sends right after the transaction is committed, and to the list-changed
  report 105 that the next cycle brings to every client;
- load (99), alternating A and B: the time to the last report of the load,
  the 105 the project step writes after every bus and output pass of the
  load. The run checks that bus 7's and group 7's gain lines came before
  it (the load changed them) and counts the level-line batches in between:
  the real-time cycles the load took.

Usage: bench/project.py [path/to/mirelserver] [--runs 100]
"""
import argparse
import random
import statistics
import sys
import time

from benchlib import DEFAULT_SERVER, Client, percentile, server_in_sim_root


def mix(c, v):
    """Every bus and group value from v (0 or 1): the two projects differ everywhere."""
    lines = []
    for b in range(8):
        lines += [f"10,{c},{b},-1", f"2,{c},{b},{-3 - b - 10 * v}", f"4,{c},{b},{-10 - b - v}",
                  f"9,{c},{b},Bus%20{b}%20{v}", f"18,{c},{b},{30 + b + v},{(b + v) % 5},0"]
        lines += [f"12,{c},{b},{g},{(g + b + 5 * v) % 25 - 12}" for g in range(31)]
        lines += [f"16,{c},{b},{p},{100 * (p + 1) + b + v},1.5,{-3 + v},0" for p in range(5)]
    for g in range(8):
        lines += [f"38,{c},{g},{-2 - g - v}", f"43,{c},{g},{1.25 + g + v}", f"47,{c},{g},{45 + g + v},{(4 - g + v) % 5},0"]
        lines += [f"45,{c},{g},{p},{200 * (p + 1) + g + v},1.5,{4 - p - v},0" for p in range(4)]
    return ("\n".join(lines) + "\n").encode()


def report(name, values, extra=""):
    print(f"{name}: median {statistics.median(values) * 1e3:.2f} ms, p99 {percentile(values, 0.99) * 1e3:.2f} ms, "
          f"max {max(values) * 1e3:.2f} ms ({len(values)} runs){extra}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("server", nargs="?", default=DEFAULT_SERVER)
    ap.add_argument("--runs", type=int, default=100)
    args = ap.parse_args()

    with server_in_sim_root(args.server) as (_root, port, _server):
        cl = Client(port)
        c = cl.conn
        saved = f"25,{c},0,Project%20saved.\n".encode()
        ids = []
        for v in range(2):
            cl.sock.sendall(mix(c, v) + f"102,{c},0,Project%20{v}\n".encode())
            cl.until(saved)
            cl.until(f"\n100,{c},".encode())
            ids.append(int(cl.until(b",").decode()))

        to_message, to_report = [], []
        for _ in range(args.runs):
            time.sleep(random.uniform(0.0, 0.025))
            t0 = time.perf_counter()
            cl.sock.sendall(f"101,{c},0\n".encode())
            cl.until(saved)
            to_message.append(time.perf_counter() - t0)
            cl.until(b"\n105,0\n")
            to_report.append(time.perf_counter() - t0)

        to_last, cycles = [], []
        for i in range(args.runs):
            time.sleep(random.uniform(0.0, 0.025))
            t0 = time.perf_counter()
            cl.sock.sendall(f"99,{c},{ids[i % 2]}\n".encode())
            between = cl.until(b"\n105,0\n")
            to_last.append(time.perf_counter() - t0)
            if b"\n2,0,7," not in between or b"\n38,0,7," not in between:
                print(f"load {i}: bus 7 or group 7 came after the load's last report", file=sys.stderr)
                return 1
            cycles.append(between.count(b"\n31,7,"))

        report("save (101) to \"Project saved.\"", to_message)
        report("save (101) to its report 105", to_report)
        report("load (99) to its last report", to_last,
               f"; level batches before it: median {statistics.median(cycles)}, max {max(cycles)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
