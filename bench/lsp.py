#!/usr/bin/env python3
"""The language server workload: tarvo --lsp opens a document, then takes
incremental changes of one line; each is timed from the didChange sent to
the publishDiagnostics of its version received.

    lsp.py TARVO FILE   prints the median seconds of 9 changes after a
                        warm-up, and the server's peak resident KiB
"""
import json
import os
import resource
import subprocess
import sys
import time


def main():
    tarvo, path = sys.argv[1], os.path.abspath(sys.argv[2])
    with open(path, encoding="utf-8") as f:
        text = f.read()
    server = subprocess.Popen([tarvo, "--lsp"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    pending = b""

    def send(message):
        body = json.dumps(message).encode()
        server.stdin.write(b"Content-Length: %d\r\n\r\n%s" % (len(body), body))
        server.stdin.flush()

    def receive():
        nonlocal pending
        while True:
            end = pending.find(b"\r\n\r\n")
            if end >= 0:
                length = int(pending[:end].split(b":")[1])
                if len(pending) >= end + 4 + length:
                    body, pending = pending[end + 4:end + 4 + length], pending[end + 4 + length:]
                    return json.loads(body)
            chunk = os.read(server.stdout.fileno(), 1 << 16)
            if not chunk:
                sys.exit("the server stopped")
            pending += chunk

    def diagnostics(version):
        while True:
            m = receive()
            if m.get("method") == "textDocument/publishDiagnostics" and m["params"].get("version") == version:
                return m["params"]["diagnostics"]

    uri = "file://" + path
    send({"jsonrpc": "2.0", "id": 1, "method": "initialize", "params": {"capabilities": {}}})
    receive()
    send({"jsonrpc": "2.0", "method": "initialized", "params": {}})
    send({"jsonrpc": "2.0", "method": "textDocument/didOpen",
          "params": {"textDocument": {"uri": uri, "languageId": "v810", "version": 1, "text": text}}})
    diagnostics(1)
    line = text.count("\n") // 2
    times = []
    for version in range(2, 12):
        edit = "        mov $%d, $%d" % (version % 32, (version + 1) % 32)
        change = {"range": {"start": {"line": line, "character": 0}, "end": {"line": line + 1, "character": 0}},
                  "text": edit + "\n"}
        t0 = time.perf_counter()
        send({"jsonrpc": "2.0", "method": "textDocument/didChange",
              "params": {"textDocument": {"uri": uri, "version": version}, "contentChanges": [change]}})
        diagnostics(version)
        times.append(time.perf_counter() - t0)
    send({"jsonrpc": "2.0", "id": 2, "method": "shutdown"})
    receive()
    send({"jsonrpc": "2.0", "method": "exit"})
    server.wait()
    times = sorted(times[1:])
    print("%.4f %d" % (times[len(times) // 2], resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss))


if __name__ == "__main__":
    main()
