#!/usr/bin/env python3
"""Loudspeaker library through the real mirelserver.

Starts the server in a fresh simulation root and, over one raw-mode client:

1. creates CREATES new entries one by one (command 70), each followed by a
   one-entry listing request (1026 for entry 0) whose answer marks the end
   of the command: the time per entry is command, database commit
   (synchronous) and answer;
2. fills the library up to ENTRIES entries and folders, about 50 entries to
   a folder, each renamed (command 64) to a label of the usual length
   ("Brand%2007%20Model%200123");
3. requests the whole listing (1026, -1) RUNS times and measures the time to
   its end line, the bytes of the answer and the entries it holds.

It also reads the bytes the whole listing would have from the database file.
Usage: bench/library.py [path/to/mirelserver] [--entries 2000] [--creates 1000] [--runs 50]
"""
import argparse
import os
import sqlite3
import statistics
import sys
import time

from benchlib import DEFAULT_SERVER, Client, percentile, server_in_sim_root


def marked_command(cl, line):
    """One command line, then a small request whose answer ends after it."""
    c = cl.conn
    cl.sock.sendall((f"{line}\n" if line else "").encode() + f"1026,{c},0\n".encode())
    cl.until(b"65,0,1\n")
    cl.until(b"66,0\n")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("server", nargs="?", default=DEFAULT_SERVER)
    ap.add_argument("--entries", type=int, default=2000)
    ap.add_argument("--creates", type=int, default=1000)
    ap.add_argument("--runs", type=int, default=50)
    args = ap.parse_args()

    with server_in_sim_root(args.server) as (root, port, _server):
        try:
            cl = Client(port)
            c = cl.conn

            # The marking request alone, to tell the command's share.
            times = []
            for _ in range(200):
                t0 = time.perf_counter()
                marked_command(cl, "")
                times.append(time.perf_counter() - t0)
            print(f"marking request alone (1026 for entry 0): median {statistics.median(times) * 1e3:.2f} ms")

            times = []
            for _ in range(args.creates):
                t0 = time.perf_counter()
                marked_command(cl, f"70,{c},0,0")
                times.append(time.perf_counter() - t0)
            print(f"new entry, one by one ({args.creates}): median {statistics.median(times) * 1e3:.2f} ms, "
                  f"mean {statistics.mean(times) * 1e3:.2f} ms, p99 {percentile(times, 0.99) * 1e3:.2f} ms")

            # Folders of about 50; every entry in one, renamed.
            nfolders = max(1, args.entries // 50)
            nentries = args.entries - nfolders
            first_folder = args.creates + 1
            folders = list(range(first_folder, first_folder + nfolders))
            for _ in folders:
                marked_command(cl, f"70,{c},1,0")
            home = [folders[i * nfolders // nentries] for i in range(nentries)]
            entries = list(range(1, args.creates + 1)) + list(range(first_folder + nfolders, args.entries + 1))
            for i, e in enumerate(entries):
                if e <= args.creates:
                    marked_command(cl, f"118,{c},{e},{home[i]}")
                else:
                    marked_command(cl, f"70,{c},0,{home[i]}")
            for i, e in enumerate(entries):
                marked_command(cl, f"64,{c},{e},{home[i]},3,0,0,0,Brand%20{home[i] - first_folder:02d}%20Model%20{i:04d}")
            for i, f in enumerate(folders):
                marked_command(cl, f"64,{c},{f},0,0,0,0,0,Brand%20{i:02d}")

            times, size, rows = [], 0, 0
            for _ in range(args.runs):
                t0 = time.perf_counter()
                cl.sock.sendall(f"1026,{c},-1\n".encode())
                cl.until(b"65,0,0\n")
                body = cl.until(b"66,0\n")
                times.append(time.perf_counter() - t0)
                size = len(body) + len(b"65,0,0\n66,0\n")
                rows = body.count(b"\n64,0,") + body.startswith(b"64,0,")
            db = sqlite3.connect(f"file:{root}/mnt/userdata/db_current.db?mode=ro", uri=True)
            total, full = db.execute(
                "SELECT count(*), sum(length(printf('64,0,%d,%d,%d,%d,%d,%d,', id, id_parent, version, is_folder,"
                " locked != 0, ways)) + length(label) + 1) FROM lsp").fetchone()
            db.close()
            print(f"listing of {total} entries (1026,-1, {args.runs} runs): median {statistics.median(times) * 1e3:.2f} ms, "
                  f"p99 {percentile(times, 0.99) * 1e3:.2f} ms; {size} bytes holding {rows} entries "
                  f"(the whole listing would be {full + 12} bytes)")
        finally:
            with open(os.path.join(root, "tmp", "server.err")) as f:
                cut = [l.strip() for l in f if "listing cut" in l]
            if cut:
                print(f"server: {cut[-1]}")


if __name__ == "__main__":
    sys.exit(main())
