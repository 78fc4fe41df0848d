#!/usr/bin/env python3
"""tavo-server's HTTP side under clients that misbehave, over real sockets on loopback: every
connection gives its slot back, answers come in order, nothing waits or grows without bound.
The server and the simulator it drives are started here, on free ports; TAVO_SERVER and
TAVO_PROJECTOR_SIM name them."""

import base64
import os
import re
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import time
import unittest

MIB = 1024 * 1024
socket.setdefaulttimeout(60)  # a server that never answers fails the case rather than hangs it


def wait_for(condition, seconds=60):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


class Server:
    def __init__(self, *options):
        self.home = tempfile.TemporaryDirectory()
        env = dict(os.environ, XDG_CONFIG_HOME=self.home.name, XDG_RUNTIME_DIR=self.home.name)
        self.sim = subprocess.Popen([os.environ["TAVO_PROJECTOR_SIM"], "--pty"], stdout=subprocess.PIPE, text=True)
        pty = self.sim.stdout.readline().split()[1]
        self.log = open(os.path.join(self.home.name, "log"), "w+")
        self.process = subprocess.Popen([os.environ["TAVO_SERVER"], "-p", pty, "--pjlink", "off", "--poll", "0",
                                         "--http", "127.0.0.1:0", *options], stderr=self.log, env=env)
        if not wait_for(lambda: "for HTTP" in self.text()):
            # The simulator shares the test's output: left running, it would keep CTest waiting.
            text = self.text()
            self.close()
            raise AssertionError(text)
        self.port = int(re.search(r"listening on \S+:(\d+) for HTTP", self.text()).group(1))

    def text(self):
        self.log.seek(0)
        return self.log.read()

    def close(self):
        for process in (self.process, self.sim):
            process.terminate()
            process.wait()
        self.log.close()
        self.home.cleanup()

    def resident(self):
        with open(f"/proc/{self.process.pid}/status") as status:
            return int(re.search(r"VmRSS:\s+(\d+) kB", status.read()).group(1)) * 1024

    def connect(self):
        return socket.create_connection(("127.0.0.1", self.port))

    def ask(self, raw):
        with self.connect() as connection:
            connection.sendall(raw)
            return read_answer(connection)

    def clients(self, front_end):
        body = self.ask(b"GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")[2]
        return int(re.search(rf'tavo_clients{{front_end="{front_end}"}} (\d+)', body.decode()).group(1))


def read_answer(connection, buffered=b""):
    """(status, head, body, what follows) of one answer; status 0 when the connection ends first."""
    data = buffered
    while b"\r\n\r\n" not in data:
        more = connection.recv(65536)
        if not more:
            return 0, data, b"", b""
        data += more
    head, rest = data.split(b"\r\n\r\n", 1)
    length = int(re.search(rb"(?i)content-length: *(\d+)", head).group(1))
    while len(rest) < length:
        rest += connection.recv(65536)
    return int(head.split()[1]), head, rest[:length], rest[length:]


def upgrade(host=b"127.0.0.1", path=b"/api/events", origin=b""):
    key = base64.b64encode(os.urandom(16))
    return (b"GET " + path + b" HTTP/1.1\r\nHost: " + host + b"\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
            b"Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: " + key + b"\r\n" +
            (b"Origin: " + origin + b"\r\n" if origin else b"") + b"\r\n")


def frame(payload, opcode=1, declared=None):
    """A masked client frame; `declared` lies about the length."""
    length = len(payload) if declared is None else declared
    head = bytes([0x80 | opcode])
    if length < 126:
        head += bytes([0x80 | length])
    elif length < 65536:
        head += bytes([0x80 | 126]) + struct.pack(">H", length)
    else:
        head += bytes([0x80 | 127]) + struct.pack(">Q", length)
    mask = os.urandom(4)
    return head + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload))


def open_events(server):
    connection = server.connect()
    connection.sendall(upgrade())
    data = b""
    while b"\r\n\r\n" not in data:
        data += connection.recv(4096)
    assert data.startswith(b"HTTP/1.1 101"), data
    return connection


def ended(connection):
    """Reads until the server closes the connection; True once it has."""
    connection.settimeout(60)
    try:
        while connection.recv(65536):
            pass
    except ConnectionResetError:
        pass
    return True


class HttpLimits(unittest.TestCase):
    def serve(self, *options):
        server = Server(*options)
        self.addCleanup(server.close)
        return server

    def test_slots_come_back_however_a_socket_ends(self):
        server = self.serve("--http-clients", "16")
        get = b"GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
        refusals = {(b"127.0.0.1", b"/api/events", b"http://elsewhere.example"): 403,
                    (b"attacker.example", b"/api/events", b""): 421,
                    (b"127.0.0.1", b"/api/other", b""): 404}
        for round in range(200):
            # Refused, before any upgrade: a plain HTTP answer.
            for (host, path, origin), status in refusals.items():
                self.assertEqual(server.ask(upgrade(host, path, origin))[0], status)
            # Accepted, then closed politely, or dropped.
            events = open_events(server)
            if round % 2:
                events.sendall(frame(b"", opcode=8))
            events.close()
            # Ordinary requests, the connection dropped mid-answer or kept.
            connection = server.connect()
            connection.sendall(get)
            connection.close()
            if round % 10 == 9:
                self.assertTrue(wait_for(lambda: server.clients("http") == 1))
        self.assertEqual(server.ask(get)[0], 200)
        self.assertTrue(wait_for(lambda: server.clients("http") == 1 and server.clients("events") == 0))

    def test_pipelined_requests_are_answered_in_order(self):
        server = self.serve()
        with server.connect() as connection:
            command = b'{"command": "status"}'
            connection.sendall(b"POST /api/commands HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                               b"Content-Length: %d\r\n\r\n%s" % (len(command), command) +
                               b"GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
                               b"GET /nothing-here HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" +
                               b"".join(b"GET /api/nothing-%d HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" % i for i in range(20)))
            status, _, body, rest = read_answer(connection)
            self.assertEqual((status, b'"command":"CR0"' in body), (200, True))
            status, _, body, rest = read_answer(connection, rest)
            self.assertEqual((status, b"tavo_up " in body), (200, True))
            status, _, body, rest = read_answer(connection, rest)
            self.assertEqual((status, body), (404, b'{"error":"nothing at /nothing-here"}\n'))
            for i in range(20):
                status, _, body, rest = read_answer(connection, rest)
                self.assertEqual((status, b"/api/nothing-%d\"" % i in body), (404, True))

    def test_idle_half_sent_and_unread_connections_are_closed(self):
        server = self.serve("--http-head-timeout", "1", "--http-idle-timeout", "2", "--http-send-timeout", "1")
        half = [server.connect() for _ in range(48)]
        for connection in half[:32]:
            connection.sendall(b"GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n")  # the head never ends
        idle = server.connect()
        idle.sendall(b"GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        self.assertEqual(read_answer(idle)[0], 200)
        for connection in half + [idle]:
            self.assertTrue(ended(connection))
        # A client that asks and asks and never reads.
        reader = server.connect()
        reader.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        reader.settimeout(60)
        try:
            while True:
                reader.sendall(b"GET /api/catalogues HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" * 100)
        except (ConnectionResetError, BrokenPipeError, socket.timeout):
            pass
        self.assertTrue(wait_for(lambda: server.clients("http") == 1))

    def test_smaller_faults(self):
        server = self.serve()
        # An upgrade under a name that is not the server's is refused as HTTP, not after a 101.
        self.assertEqual(server.ask(upgrade(host=b"attacker.example:8735"))[0], 421)
        # An IPv6 address is logged (and recorded for the panel) as it is.
        if socket.has_ipv6 and os.path.exists("/proc/net/if_inet6"):
            six = self.serve("--http", "[::1]:0")
            self.assertRegex(six.text(), r"listening on \[::1\]:\d+ for HTTP")

    def test_https_alone_on_its_listener(self):
        work = tempfile.TemporaryDirectory()
        self.addCleanup(work.cleanup)
        cert, key, password = (os.path.join(work.name, name) for name in ("cert.pem", "key.pem", "password"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                        "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert],
                       check=True, capture_output=True)
        with open(password, "w") as out:
            out.write("secret\n")
        os.chmod(password, 0o600)
        server = self.serve("--http-cert", cert, "--http-key", key, "--http-password-file", password,
                            "--http-head-timeout", "1")
        trusted = ssl.create_default_context(cafile=cert)

        def ask(raw):
            with trusted.wrap_socket(server.connect(), server_hostname="127.0.0.1") as connection:
                connection.sendall(raw)
                return read_answer(connection)

        status, _, body, _ = ask(b"GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        self.assertEqual((status, b'"power"' in body), (200, True))
        status, _, body, _ = ask(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        self.assertEqual((status, b"<title>TAVO QT735 CONTROL</title>" in body), (200, True))
        login = b'{"password": "secret"}'
        status, head, _, _ = ask(b"POST /api/session HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                                 b"Content-Length: %d\r\n\r\n%s" % (len(login), login))
        cookie = re.search(rb"(?i)set-cookie: *(tavo_session=\w+)[^\r]*; Secure", head)
        self.assertEqual((status, bool(cookie)), (200, True), head)
        # The events socket as wss: the page's origin is https; the same host over http is another origin.
        host = b"127.0.0.1:%d" % server.port
        origin = b"https://" + host
        with trusted.wrap_socket(server.connect(), server_hostname="127.0.0.1") as events:
            events.sendall(upgrade(host, origin=origin).replace(b"\r\n\r\n", b"\r\nCookie: " + cookie.group(1) + b"\r\n\r\n"))
            data = b""
            while b"\r\n\r\n" not in data or len(data.split(b"\r\n\r\n", 1)[1]) < 2:
                data += events.recv(4096)
            self.assertTrue(data.startswith(b"HTTP/1.1 101"), data)
            self.assertEqual(data.split(b"\r\n\r\n", 1)[1][:1], b"\x81")  # the status, as a text frame
        self.assertEqual(ask(upgrade(host, origin=b"http://" + host))[0], 403)
        # Plain HTTP on that port gets nothing in clear; a handshake never begun is closed.
        self.assertEqual(server.ask(b"GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")[0], 0)
        self.assertTrue(wait_for(lambda: "refused: plain HTTP" in server.text()))
        self.assertTrue(ended(server.connect()))


class HttpMemory(unittest.TestCase):
    """Resident memory under each abuse stays within 32 MiB of the server at rest."""

    def test_memory_stays_bounded(self):
        server = Server("--events-ping", "1")
        self.addCleanup(server.close)
        server.ask(b"GET /api/catalogues HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        rest = server.resident()
        peak = rest

        def flood(head, total, chunk=b"x" * 65536):
            """Sends the head, then up to `total` bytes until the server stops taking them."""
            nonlocal peak
            with server.connect() as connection:
                connection.settimeout(5)
                sent = 0
                try:
                    connection.sendall(head)
                    while sent < total:
                        sent += connection.send(chunk)
                        if sent % (4 * MIB) < len(chunk):
                            peak = max(peak, server.resident())
                except (ConnectionResetError, BrokenPipeError, socket.timeout):
                    pass
                peak = max(peak, server.resident())
                try:
                    return read_answer(connection)[0]
                except (ConnectionResetError, socket.timeout):
                    return 0

        # Refused from its Content-Length, before any byte of the body: the answer comes
        # without one being sent.
        with server.connect() as connection:
            connection.sendall(b"POST /api/commands HTTP/1.1\r\nHost: attacker.example\r\n"
                               b"Content-Type: application/json\r\nContent-Length: %d\r\n\r\n" % (200 * MIB))
            self.assertEqual(read_answer(connection)[0], 413)
        self.assertIn(flood(b"POST /api/commands HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n",
                            200 * MIB, b"10000\r\n" + b"x" * 65536 + b"\r\n"), (413, 0))
        self.assertIn(flood(b"GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Filler: ", 100 * MIB), (431, 0))
        flood(b"", 490 * 1024, b"GET /api/catalogues HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        # An events socket: a frame declaring 1 GiB is refused from its header.
        events = open_events(server)
        events.sendall(frame(b"", declared=1 << 30))
        self.assertTrue(ended(events))
        # One that never reads and floods junk and pings: closed.
        events = open_events(server)
        events.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        events.settimeout(5)
        junk = (frame(b"x") + frame(b"", opcode=9)) * 4096
        try:
            for _ in range(40 * MIB // len(junk)):
                events.sendall(junk)
                peak = max(peak, server.resident())
        except (ConnectionResetError, BrokenPipeError, socket.timeout):
            pass
        events.close()
        self.assertTrue(wait_for(lambda: server.clients("events") == 0))
        peak = max(peak, server.resident())
        print(f"resident at rest {rest // 1024} KiB, at most {peak // 1024} KiB", file=sys.stderr)
        self.assertLess(peak - rest, 32 * MIB)


if __name__ == "__main__":
    unittest.main()
