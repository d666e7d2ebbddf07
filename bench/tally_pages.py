#!/usr/bin/env python3
"""What a thousand open tally pages cost the web view, roughly.

Starts web_fixture_server with a wall of DISPLAYS displays, opens PAGES
tally pages (/ws/tally/MON%20i, raw WebSockets on loopback), then changes
each followed display's tally once and waits until every page has read
its change. Prints the server's resident memory before and after the
pages opened, and the CPU time it took for the changes.

    bench/tally_pages.py build/bin/web_fixture_server [PAGES] [DISPLAYS]

Not a test: the figures depend on the machine and its load.
"""
import base64
import json
import os
import selectors
import socket
import subprocess
import sys
import time


def rss_kb(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def frames(buffer):
    """The text frames complete in `buffer`, and what is left of it."""
    texts = []
    while len(buffer) >= 2:
        length = buffer[1] & 0x7F
        header = 2
        if length == 126:
            if len(buffer) < 4:
                break
            length = int.from_bytes(buffer[2:4], "big")
            header = 4
        elif length == 127:
            if len(buffer) < 10:
                break
            length = int.from_bytes(buffer[2:10], "big")
            header = 10
        if len(buffer) < header + length:
            break
        if buffer[0] & 0x0F == 1:
            texts.append(buffer[header:header + length].decode())
        buffer = buffer[header + length:]
    return texts, buffer


def main():
    server = sys.argv[1]
    pages = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    displays = int(sys.argv[3]) if len(sys.argv) > 3 else 1000
    fixture = subprocess.Popen([server], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    port = int(fixture.stdout.readline())

    def send(command):
        fixture.stdin.write(json.dumps(command) + "\n")
        fixture.stdin.flush()
        assert fixture.stdout.readline().strip() == "ok"

    send({"op": "many", "count": displays, "prefix": "MON ", "text": "SRC "})
    time.sleep(0.2)
    before = rss_kb(fixture.pid)

    chooser = selectors.DefaultSelector()
    clients = []
    key = base64.b64encode(os.urandom(16)).decode()
    for i in range(pages):
        client = socket.create_connection(("127.0.0.1", port))
        target = f"/ws/tally/MON%20{i % displays + 1}"
        client.sendall((f"GET {target} HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                        f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n")
                       .encode())
        client.setblocking(False)
        state = {"buffer": b"", "opened": False, "messages": []}
        chooser.register(client, selectors.EVENT_READ, state)
        clients.append((client, state))

    def pump(until, limit=60):
        deadline = time.monotonic() + limit
        while not until() and time.monotonic() < deadline:
            for key_, _ in chooser.select(timeout=0.5):
                state = key_.data
                data = key_.fileobj.recv(65536)
                if not data:
                    chooser.unregister(key_.fileobj)
                    continue
                state["buffer"] += data
                if not state["opened"]:
                    end = state["buffer"].find(b"\r\n\r\n")
                    if end < 0:
                        continue
                    assert state["buffer"].startswith(b"HTTP/1.1 101"), state["buffer"][:40]
                    state["opened"] = True
                    state["buffer"] = state["buffer"][end + 4:]
                texts, state["buffer"] = frames(state["buffer"])
                state["messages"] += texts
        return until()

    assert pump(lambda: all(len(s["messages"]) >= 1 for _, s in clients)), "every page gets its state"
    time.sleep(0.2)
    opened = rss_kb(fixture.pid)
    start = cpu_seconds(fixture.pid)
    began = time.monotonic()
    for i in range(1, min(pages, displays) + 1):
        send({"op": "tile", "name": f"MON {i}", "text": f"SRC {i}", "tally": "program"})
    assert pump(lambda: all(len(s["messages"]) >= 2 for _, s in clients)), "every page gets its change"
    took = time.monotonic() - began
    spent = cpu_seconds(fixture.pid) - start
    print(f"{pages} tally pages on a wall of {displays} displays")
    print(f"resident: {before} KB before, {opened} KB with the pages open: "
          f"{(opened - before) / pages:.1f} KB a page")
    print(f"{min(pages, displays)} changes, each to its own page: {spent * 1000:.0f} ms of the server's CPU "
          f"({spent / min(pages, displays) * 1e6:.0f} µs a change, stdin commands included), {took:.2f} s in all")
    for client, _ in clients:
        client.close()
    fixture.stdin.close()
    fixture.wait(10)


if __name__ == "__main__":
    main()
