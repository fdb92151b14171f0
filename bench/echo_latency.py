#!/usr/bin/env python3
"""Echo latency of the stream server under load.

Opens N raw-mode clients (default 8) to a running mirelserver; each changes
one parameter of its own bus at a steady rate and measures the time from
sending the command to receiving its own change report (the echo carries the
sender's connection id). Prints the median and 99th percentile per rate.

A report carries the connection id of the last command of its id, so each
client drives a parameter of its own (gain, threshold, knee, ...): with one
shared id, a command of another client in the same cycle would take over the
echo.

    bench/echo_latency.py [--port 24871] [--clients 8] [--rates 10,100] [--seconds 10]

Changes of one real-time cycle (25 ms) coalesce into one report, so at more
than one command per cycle the earlier ones of a cycle are never echoed; the
run counts them apart.

Needs the whole loop: dispatcher and real-time thread. Without them no echo
comes back and the run ends with an error after --timeout seconds.
"""
import argparse
import asyncio
import statistics
import sys
import time


# Per bus: the command it changes and the top of its range of values.
PARAMETERS = [(2, -10.0), (4, -10.0), (6, 10.0), (7, 10.0), (113, 100.0), (114, 150.0), (115, 100.0), (12, 10.0)]


async def client(port, rate, seconds, timeout, results):
    reader, writer = await asyncio.open_connection("127.0.0.1", port)
    writer.write(b"<mode>unix</mode>\n")
    conn_id = int((await asyncio.wait_for(reader.readline(), timeout)).decode())
    bus = (conn_id - 1) % 8
    cmd, base = PARAMETERS[bus]
    pending = {}  # expected report line -> send time

    async def receive():
        while True:
            line = (await reader.readline()).decode(errors="replace")
            if not line:
                return
            sent = pending.pop(line, None)
            if sent is not None:
                results.append(time.perf_counter() - sent)

    receiver = asyncio.ensure_future(receive())
    period = 1.0 / rate
    start = time.perf_counter()
    n = 0
    while time.perf_counter() - start < seconds:
        # Every value differs from the one before, so each command is a change.
        value = base - (n % 100) / 10.0
        fields = "%d,%d,%d,%s" % (cmd, conn_id, bus, "5," if cmd == 12 else "")
        pending[fields + "%2.1f\n" % value] = time.perf_counter()
        writer.write((fields + "%.1f\n" % value).encode())
        n += 1
        await asyncio.sleep(max(0.0, start + n * period - time.perf_counter()))
    deadline = time.perf_counter() + timeout
    while pending and time.perf_counter() < deadline:
        await asyncio.sleep(0.01)
    receiver.cancel()
    writer.close()
    return n, len(pending)


async def run(args, rate):
    results = []
    counts = await asyncio.gather(*(client(args.port, rate, args.seconds, args.timeout, results)
                                    for _ in range(args.clients)))
    sent = sum(c[0] for c in counts)
    lost = sum(c[1] for c in counts)
    if not results:
        sys.exit("no echo received at %d commands/s: is the whole loop (dispatcher, real-time thread) there?" % rate)
    results.sort()
    p99 = results[min(len(results) - 1, int(len(results) * 0.99))]
    print("%3d clients x %4d cmd/s: sent %6d, echoed %6d, median %7.2f ms, p99 %7.2f ms"
          % (args.clients, rate, sent, sent - lost, statistics.median(results) * 1e3, p99 * 1e3))


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--port", type=int, default=24871)
    p.add_argument("--clients", type=int, default=8)
    p.add_argument("--rates", default="10,100")
    p.add_argument("--seconds", type=float, default=10)
    p.add_argument("--timeout", type=float, default=2)
    args = p.parse_args()
    for rate in (int(r) for r in args.rates.split(",")):
        asyncio.run(run(args, rate))


if __name__ == "__main__":
    main()
