"""A local HTTPS proxy (HTTP CONNECT) for tests, on 127.0.0.1, that counts the tunnels it opens
for each target "host:port".

Targets named in `inspect` are handled as a company's TLS-inspecting proxy handles them: the proxy
ends the client's TLS itself with a certificate that its own CertificateAuthority signed, and
forwards the decrypted HTTP to the plain-HTTP address given. Every other target is tunnelled as it
is (resolved on this machine).

    with ProxyStandIn(ca, inspect={"aws.example.test:443": ("127.0.0.1", moto_port)}) as proxy:
        env["HTTPS_PROXY"] = proxy.url
        ... run the program ...
        assert proxy.tunnels["aws.example.test:443"] > 0
"""

import collections
import select
import socket
import socketserver
import ssl
import threading

from support import harness

IDLE_SECONDS = 60  # a tunnel that carries nothing for this long is closed


def _relay(first, second):
    """Copies bytes both ways until either side closes or both stay idle too long."""
    peers = {first: second, second: first}
    while True:
        ready = [s for s in peers if isinstance(s, ssl.SSLSocket) and s.pending()]
        if not ready:
            ready, _, _ = select.select(list(peers), [], [], IDLE_SECONDS)
            if not ready:
                return
        for sock in ready:
            try:
                data = sock.recv(65536)
            except (OSError, ssl.SSLError):
                return
            if not data:
                return
            peers[sock].sendall(data)


class ProxyStandIn(harness.ThreadedServer):
    """The proxy; `tunnels` counts CONNECT requests by target, `refused` the other requests."""

    def __init__(self, ca=None, inspect=None):
        self.inspect = dict(inspect or {})
        self.tunnels = collections.Counter()
        self.refused = 0
        self._lock = threading.Lock()
        self._tls = None
        if self.inspect:
            cert = ca.issue(*sorted({target.rsplit(":", 1)[0] for target in self.inspect}))
            self._tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self._tls.load_cert_chain(*map(str, cert))
        self.url = None

    def start(self):
        proxy = self

        class Handler(socketserver.BaseRequestHandler):
            def handle(self):
                client = self.request
                client.settimeout(IDLE_SECONDS)
                head = b""
                while b"\r\n\r\n" not in head and len(head) < 65536:
                    chunk = client.recv(4096)
                    if not chunk:
                        return
                    head += chunk
                method, target, _ = head.split(b"\r\n", 1)[0].decode("latin-1").split(" ", 2)
                if method != "CONNECT":
                    with proxy._lock:
                        proxy.refused += 1
                    client.sendall(b"HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n")
                    return
                with proxy._lock:
                    proxy.tunnels[target] += 1
                host, port = target.rsplit(":", 1)
                upstream_address = proxy.inspect.get(target, (host, int(port)))
                try:
                    upstream = socket.create_connection(upstream_address, timeout=IDLE_SECONDS)
                except OSError:
                    client.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")
                    return
                with upstream:
                    client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
                    if target not in proxy.inspect:
                        _relay(client, upstream)
                        return
                    try:
                        client = proxy._tls.wrap_socket(client, server_side=True)
                    except (OSError, ssl.SSLError):
                        return  # the client did not trust the inspection certificate
                    with client:
                        _relay(client, upstream)

        class Server(socketserver.ThreadingTCPServer):
            allow_reuse_address = True

        port = self.serve(Server(("127.0.0.1", 0), Handler))
        self.url = f"http://127.0.0.1:{port}"
        return self
