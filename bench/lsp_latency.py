#!/usr/bin/env python3
"""Round trips of `compactor lsp`: from a didChange written to the server's pipe to the
publishDiagnostics of that version read back, as an editor sees them.

    bench/lsp_latency.py COMPACTOR DIR [ROUNDS]

DIR holds a scenario's two sources (`compactor sources DIR`, or `bench/gen_scenario --length
1000000 DIR`). The train source is opened as an editor opens it; the line source is read from the
disk by the server. Each round changes the train source's first signal keyword by one letter, to
"segnalx" and back (a warning comes and goes; the whole scenario is compiled either way), and
waits for the diagnostics of the new version. Then a burst: 20 changes written at once, and the
time until the diagnostics of the last of them, with how many compiles answered the burst.
"""
import json
import os
import statistics
import subprocess
import sys
import time


def frame(message):
    body = json.dumps(message).encode()
    return b"Content-Length: %d\r\n\r\n" % len(body) + body


class Server:
    def __init__(self, program):
        self.process = subprocess.Popen([program, "lsp"], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE)
        self.buffer = b""

    def send(self, message):
        self.process.stdin.write(frame(message))
        self.process.stdin.flush()

    def receive(self):
        while True:
            head, sep, rest = self.buffer.partition(b"\r\n\r\n")
            if sep:
                length = int(head.split(b":")[1])
                if len(rest) >= length:
                    self.buffer = rest[length:]
                    return json.loads(rest[:length])
            chunk = os.read(self.process.stdout.fileno(), 1 << 20)
            if not chunk:
                raise SystemExit("lsp_latency: the server closed its output")
            self.buffer += chunk

    def diagnostics_of(self, uri, version):
        """Reads messages until the diagnostics of `uri` at `version`; how many of `uri` came."""
        count = 0
        while True:
            m = self.receive()
            if m.get("method") != "textDocument/publishDiagnostics":
                continue
            if m["params"]["uri"] != uri:
                continue
            count += 1
            if m["params"].get("version") == version:
                return m["params"]["diagnostics"], count


def uri_of(path):
    from urllib.parse import quote
    return "file://" + quote(os.path.abspath(path))


def main():
    if len(sys.argv) not in (3, 4):
        raise SystemExit(__doc__)
    program, directory = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) == 4 else 50
    train = next(os.path.join(directory, n) for n in sorted(os.listdir(directory))
                 if n.endswith("-.txt"))
    text = open(train, "rb").read().decode("latin-1")
    lines = text.split("\r\n")
    row = next(i for i, l in enumerate(lines) if l.startswith("segnale"))
    uri = uri_of(train)

    server = Server(program)
    server.send({"jsonrpc": "2.0", "id": 1, "method": "initialize",
                 "params": {"capabilities": {}}})
    server.receive()
    server.send({"jsonrpc": "2.0", "method": "initialized", "params": {}})
    started = time.perf_counter()
    server.send({"jsonrpc": "2.0", "method": "textDocument/didOpen",
                 "params": {"textDocument": {"uri": uri, "languageId": "compactor",
                                             "version": 1, "text": text}}})
    server.diagnostics_of(uri, 1)
    opened_ms = (time.perf_counter() - started) * 1000

    def change(version):
        letter = "x" if version % 2 == 0 else "e"
        return {"jsonrpc": "2.0", "method": "textDocument/didChange",
                "params": {"textDocument": {"uri": uri, "version": version},
                           "contentChanges": [{"range": {
                               "start": {"line": row, "character": 6},
                               "end": {"line": row, "character": 7}}, "text": letter}]}}

    times = []
    version = 1
    for _ in range(rounds):
        version += 1
        message = change(version)
        started = time.perf_counter()
        server.send(message)
        diagnostics, _ = server.diagnostics_of(uri, version)
        times.append((time.perf_counter() - started) * 1000)
        expected = 1 if version % 2 == 0 else 0
        if len(diagnostics) != expected:
            raise SystemExit(f"lsp_latency: version {version} has {len(diagnostics)} diagnostics")

    burst = b"".join(frame(change(version + k)) for k in range(1, 21))
    version += 20
    started = time.perf_counter()
    server.process.stdin.write(burst)
    server.process.stdin.flush()
    _, compiles = server.diagnostics_of(uri, version)
    burst_ms = (time.perf_counter() - started) * 1000

    server.send({"jsonrpc": "2.0", "id": 2, "method": "shutdown"})
    while "id" not in server.receive():
        pass
    server.send({"jsonrpc": "2.0", "method": "exit"})
    status = server.process.wait(timeout=10)

    times.sort()
    print(f"{directory}: {os.path.getsize(train)} bytes of train source, {rounds} changes")
    print(f"  didOpen to diagnostics: {opened_ms:.1f} ms")
    print(f"  didChange to diagnostics: median {statistics.median(times):.1f} ms, "
          f"90th percentile {times[int(len(times) * 0.9) - 1]:.1f} ms, max {times[-1]:.1f} ms")
    print(f"  20 changes at once: {burst_ms:.1f} ms to the last one's diagnostics, "
          f"answered by {compiles} publication(s)")
    print(f"  exit status {status}")
    return 0 if status == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
