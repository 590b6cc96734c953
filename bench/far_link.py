#!/usr/bin/env python3
"""A far link for the benchmarks: relays every connection made to PORT to
127.0.0.1:UPSTREAM, each way DELAY_MS late and at most RATE bytes a
second a connection, as a long link behind a shaper carries one TCP
stream.

    far_link.py PORT UPSTREAM [DELAY_MS] [RATE]     (20 ms, 12 MB/s)
"""
import asyncio
import sys
import time

port, upstream = int(sys.argv[1]), int(sys.argv[2])
delay = (float(sys.argv[3]) if len(sys.argv) > 3 else 20.0) / 1000
rate = float(sys.argv[4]) if len(sys.argv) > 4 else 12e6
CHUNK = 64 << 10


async def carry(reader, writer):
    # What is read now arrives `delay` later, paced to `rate`; at most about
    # a round trip's worth waits on the way, so the sender feels the link.
    queue = asyncio.Queue(maxsize=max(4, int(rate * 2 * delay / CHUNK)))

    async def take():
        while data := await reader.read(CHUNK):
            await queue.put((time.monotonic() + delay, data))
        await queue.put((None, b""))

    async def give():
        free = time.monotonic()
        while True:
            due, data = await queue.get()
            if due is None:
                break
            free = max(free, due)
            if free > time.monotonic():
                await asyncio.sleep(free - time.monotonic())
            writer.write(data)
            await writer.drain()
            free += len(data) / rate
        writer.close()

    try:
        await asyncio.gather(take(), give())
    except (ConnectionError, OSError):
        writer.close()


async def relay(client_reader, client_writer):
    try:
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", upstream)
    except OSError:
        client_writer.close()
        return
    await asyncio.gather(carry(client_reader, server_writer), carry(server_reader, client_writer))


async def main():
    server = await asyncio.start_server(relay, "127.0.0.1", port)
    async with server:
        await server.serve_forever()


asyncio.run(main())
