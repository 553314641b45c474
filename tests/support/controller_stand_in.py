"""A local HTTPS stand-in for the Halvane Controller API, for tests.

It answers the three actions the programs use ("get_api_token" on /v2/api, "login" on /v2/api or
/v1/api, "list_accounts" on /v1/api), records every request it receives, and can be told to answer
in the ways a real controller may: with or without a V2 token, refusing a login, leaving members out,
or answering with something that is not JSON. It can also play a hostile controller ("hostile"):
every answer nested far too deep, far too long, never given, or trickled a byte at a time. It listens
on 127.0.0.1 only, with a self-signed certificate made by `openssl` when it starts or one it is given
(an impostor's).

In a test:

    with ControllerStandIn(scratch_folder, token="v2") as controller:
        config["controller"]["ip"] = controller.address          # "127.0.0.1:<port>"
        ... run the program ...
        login = controller.requests_for("login")[0]
        assert login["form"] == [["action", "login"], ["username", "admin"], ["password", "p&ss"]]

From the command line (runs until interrupted or --max-seconds pass):

    python3 controller_stand_in.py --port 0 --accounts accounts.json --record requests.jsonl

It prints "listening on 127.0.0.1:<port>" once ready. Each recorded request is a JSON object with
"method", "path", "headers" (a list of [name, value] in arrival order), "body" (the raw body as text)
and "form" (the body decoded field by field as a list of [name, value], or null if it is no form).
"""

import argparse
import json
import signal
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

# How the token request is answered.
TOKEN_MODES = ("v2", "v1", "no-return", "not-json", "drop")
# How a login is answered (credentials are checked in "ok" mode when the stand-in was given them).
LOGIN_MODES = ("ok", "no-cid", "not-json")
# How the account-list request is answered.
LIST_MODES = ("ok", "no-results", "not-json")
# How a hostile stand-in answers every request instead.
HOSTILE_MODES = (None, "deep", "huge", "silent", "trickle")
# Bounds of the hostile answers, so that a test never waits or writes without end.
HOSTILE_SECONDS = 60
HUGE_BYTES = 40 << 20

DEFAULT_ACCOUNTS = [
    {"account_number": "111111111111", "account_name": "prod-network", "cloud_type": 1},
    {"account_number": "222222222222", "account_name": "dev-sandbox", "cloud_type": 1},
]
DEFAULT_API_TOKEN = "tok-7f3c9a1e5b2d48c6"
DEFAULT_CID = "cid-4b8e2f6a0d9c17e3"


def make_certificate(folder, name="controller"):
    """Writes a fresh self-signed certificate for 127.0.0.1 into `folder`; returns (cert, key) paths."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    cert, key = folder / f"{name}-cert.pem", folder / f"{name}-key.pem"
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
         "-nodes", "-keyout", str(key), "-out", str(cert), "-days", "1", "-subj", "/CN=127.0.0.1",
         "-addext", "subjectAltName=IP:127.0.0.1"],
        check=True, capture_output=True, timeout=60)
    return cert, key


def certificate_fingerprint(cert):
    """The SHA-256 fingerprint of a PEM certificate as openssl shows it ("AB:CD:...")."""
    result = subprocess.run(["openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in", str(cert)],
                            check=True, capture_output=True, text=True, timeout=60)
    return result.stdout.strip().split("=", 1)[1]


def _decode_form(body):
    """The form fields of an application/x-www-form-urlencoded body, or None when it is not one."""
    try:
        text = body.decode("ascii")
        return [list(pair) for pair in urllib.parse.parse_qsl(
            text, keep_blank_values=True, strict_parsing=True, encoding="utf-8", errors="strict")]
    except (UnicodeDecodeError, ValueError):
        return None


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "ControllerStandIn/1"

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass

    def do_GET(self):
        self._handle()

    def do_POST(self):
        self._handle()

    def _handle(self):
        stand_in = self.server.stand_in
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        form = _decode_form(body)
        record = {
            "method": self.command,
            "path": self.path,
            "headers": [[name, value] for name, value in self.headers.items()],
            "body": body.decode("utf-8", errors="replace"),
            "form": form,
        }
        stand_in._record(record)
        if stand_in.hostile:
            self._answer_hostile(stand_in)
            return
        answer = stand_in._answer(self.command, self.path, dict(self.headers.items()), form)
        if answer is None:
            # The endpoint is "down": drop the connection without a word.
            self.close_connection = True
            return
        status, content_type, payload = answer
        data = payload.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def _answer_hostile(self, stand_in):
        self.close_connection = True
        mode = stand_in.hostile
        if mode == "silent":
            stand_in._stopping.wait(HOSTILE_SECONDS)
            return
        if mode == "deep":
            data = ("[" * 100_000 + "]" * 100_000).encode()
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        if mode == "trickle":
            self.send_header("Content-Length", "1000")
        self.end_headers()
        # Without a length the answer runs until the connection closes: only a cap stops it.
        chunk = b" " * (1 << 20) if mode == "huge" else b" "
        sent, deadline = 0, time.monotonic() + HOSTILE_SECONDS
        try:
            while sent < HUGE_BYTES and time.monotonic() < deadline and not stand_in._stopping.is_set():
                self.wfile.write(chunk)
                self.wfile.flush()
                sent += len(chunk)
                if mode == "trickle":
                    stand_in._stopping.wait(0.5)
        except OSError:
            pass  # the client gave up, as it should


class ControllerStandIn:
    """The controller stand-in; usable as a context manager that starts and stops it."""

    def __init__(self, folder, *, port=0, accounts=None, token="v2", login="ok", list_accounts="ok",
                 username=None, password=None, api_token=DEFAULT_API_TOKEN, cid=DEFAULT_CID, record_path=None,
                 hostile=None, certificate=None, refusal_reason="Invalid username or password."):
        if token not in TOKEN_MODES or login not in LOGIN_MODES or list_accounts not in LIST_MODES or \
                hostile not in HOSTILE_MODES:
            raise ValueError(f"unknown mode: token={token} login={login} list_accounts={list_accounts} "
                             f"hostile={hostile}")
        self.folder = Path(folder)
        self.port = port
        self.accounts = DEFAULT_ACCOUNTS if accounts is None else accounts
        self.token, self.login, self.list_accounts = token, login, list_accounts
        self.username, self.password = username, password
        self.api_token, self.cid = api_token, cid
        self.record_path = Path(record_path) if record_path else None
        self.hostile = hostile
        # (certificate, key) PEM paths to serve; a fresh self-signed pair when not given.
        self.certificate = certificate
        self.refusal_reason = refusal_reason
        self._stopping = threading.Event()
        self.requests = []
        self._lock = threading.Lock()
        self._server = None
        self._thread = None

    @property
    def address(self):
        """The controller address as the configuration names it: "127.0.0.1:<port>"."""
        return f"127.0.0.1:{self.port}"

    def start(self):
        if self.certificate is None:
            self.certificate = make_certificate(self.folder)
        cert, key = self.certificate
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        self._server = ThreadingHTTPServer(("127.0.0.1", self.port), _Handler)
        self._server.daemon_threads = True
        self._server.socket = context.wrap_socket(self._server.socket, server_side=True)
        self._server.stand_in = self
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever, kwargs={"poll_interval": 0.1},
                                        daemon=True)
        self._thread.start()
        return self

    def stop(self):
        self._stopping.set()
        if self._server is not None:
            self._server.shutdown()
            self._server.server_close()
            self._thread.join(timeout=10)
            self._server = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def requests_for(self, action):
        """The recorded requests whose form field "action" is `action`, in arrival order."""
        with self._lock:
            return [r for r in self.requests if r["form"] and dict(r["form"]).get("action") == action]

    def _record(self, record):
        with self._lock:
            self.requests.append(record)
            if self.record_path:
                with open(self.record_path, "a", encoding="utf-8") as out:
                    out.write(json.dumps(record) + "\n")

    def _answer(self, method, path, headers, form):
        """(status, content type, text) for a request, or None to drop the connection."""
        fields = dict(form or [])
        action = fields.get("action")
        if path not in ("/v1/api", "/v2/api"):
            return 404, "text/html", "<html><body>Not Found</body></html>"
        if form is None:
            return 400, "application/json", json.dumps({"return": False, "reason": "Malformed form body."})
        if action == "get_api_token" and path == "/v2/api" and method == "GET":
            return self._token_answer()
        if action == "login" and method == "POST":
            return self._login_answer(path, headers, fields)
        if action == "list_accounts" and path == "/v1/api" and method == "POST":
            return self._list_answer(fields)
        return 200, "application/json", json.dumps({"return": False, "reason": f"Unknown action {action!r}."})

    def _token_answer(self):
        if self.token == "drop":
            return None
        if self.token == "not-json":
            return 502, "text/html", "<html><body>Bad Gateway</body></html>"
        if self.token == "no-return":
            return 200, "application/json", json.dumps({"results": "V2 API not enabled"})
        if self.token == "v1":
            return 200, "application/json", json.dumps({"return": False, "reason": "V2 API not enabled"})
        return 200, "application/json", json.dumps({"return": True, "results": {"api_token": self.api_token}})

    def _login_answer(self, path, headers, fields):
        if self.login == "not-json":
            return 500, "text/html", "<html><body>Internal Server Error</body></html>"
        refused = None
        if path == "/v2/api" and headers.get("X-Access-Key") != self.api_token:
            refused = "Invalid API token."
        elif (self.username is not None and fields.get("username") != self.username) or \
                (self.password is not None and fields.get("password") != self.password):
            refused = self.refusal_reason
        if refused:
            return 200, "application/json", json.dumps({"return": False, "reason": refused})
        if self.login == "no-cid":
            return 200, "application/json", json.dumps({"return": True, "results": "Logged in."})
        return 200, "application/json", json.dumps(
            {"return": True, "results": "User login:admin in account:admin has been authorized successfully",
             "CID": self.cid})

    def _list_answer(self, fields):
        if self.list_accounts == "not-json":
            return 502, "text/html", "<html><body>Bad Gateway</body></html>"
        if fields.get("CID") != self.cid:
            return 200, "application/json", json.dumps({"return": False, "reason": "CID is invalid or expired."})
        if self.list_accounts == "no-results":
            return 200, "application/json", json.dumps({"return": True})
        return 200, "application/json", json.dumps({"return": True, "results": {"account_list": self.accounts}})


def _main(argv=None):
    parser = argparse.ArgumentParser(description="Local HTTPS stand-in for the Halvane Controller API.")
    parser.add_argument("--port", type=int, default=0, help="port on 127.0.0.1; 0 picks a free one")
    parser.add_argument("--accounts", type=Path, help="JSON file with the account list to return")
    parser.add_argument("--record", type=Path, help="JSON-lines file that receives every request")
    parser.add_argument("--folder", type=Path, default=Path("."), help="where the certificate is written")
    parser.add_argument("--token", choices=TOKEN_MODES, default="v2")
    parser.add_argument("--login", choices=LOGIN_MODES, default="ok")
    parser.add_argument("--list-accounts", choices=LIST_MODES, default="ok")
    parser.add_argument("--username", help="the only user name accepted (any when not given)")
    parser.add_argument("--password", help="the only password accepted (any when not given)")
    parser.add_argument("--api-token", default=DEFAULT_API_TOKEN)
    parser.add_argument("--cid", default=DEFAULT_CID)
    parser.add_argument("--max-seconds", type=float, default=600, help="stop by itself after this long")
    options = parser.parse_args(argv)
    accounts = json.loads(options.accounts.read_text(encoding="utf-8")) if options.accounts else None
    stand_in = ControllerStandIn(options.folder, port=options.port, accounts=accounts, token=options.token,
                                 login=options.login, list_accounts=options.list_accounts,
                                 username=options.username, password=options.password,
                                 api_token=options.api_token, cid=options.cid, record_path=options.record)
    stopping = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stopping.set())
    signal.signal(signal.SIGINT, lambda *_: stopping.set())
    with stand_in:
        print(f"listening on {stand_in.address}", flush=True)
        deadline = time.monotonic() + options.max_seconds
        while not stopping.is_set() and time.monotonic() < deadline:
            stopping.wait(0.2)
    return 0


if __name__ == "__main__":
    sys.exit(_main())
