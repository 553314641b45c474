"""Scratch folders that survive a failing test, the built programs (also at a pseudo-terminal), and free
loopback ports."""

import os
import pty
import select
import shutil
import socket
import ssl
import subprocess
import sys
import threading
import time
import unittest
from pathlib import Path

BIN_DIR = Path(os.environ.get("GENERATOR_BIN_DIR", "build/bin"))
SOURCE_DIR = Path(os.environ.get("GENERATOR_SOURCE_DIR", Path(__file__).resolve().parents[2]))
SCRATCH_ROOT = Path(os.environ.get("GENERATOR_SCRATCH_DIR", "build/test-scratch"))


def program(name):
    """Path of a built program ("generate", "convert")."""
    return BIN_DIR / name


def run_program(name, *args, env=None, cwd=None, input=None, timeout=120, extra_env=None):
    """Runs a built program and returns the completed process (text output, never raises on status)."""
    environment = dict(os.environ if env is None else env)
    environment.update(extra_env or {})
    return subprocess.run([str(program(name)), *map(str, args)], env=environment, cwd=cwd,
                          input=input, capture_output=True, text=True, timeout=timeout)


def run_at_terminal(argv, env, answers, timeout=120):
    """Runs `argv` with a pseudo-terminal as its controlling terminal, standard input and output;
    writes each reply of `answers` [(prompt, reply), ...] (bytes) once, when its prompt has appeared.
    Reads until the terminal closes, so that nothing written just before the program ended is lost,
    and returns (exit status, everything it wrote). A program still running at `timeout` is killed."""
    pid, terminal = pty.fork()
    if pid == 0:
        os.execve(str(argv[0]), [str(arg) for arg in argv], env)
    output, pending = b"", list(answers)
    deadline = time.monotonic() + timeout
    try:
        while time.monotonic() < deadline:
            if not select.select([terminal], [], [], 0.2)[0]:
                continue
            try:
                chunk = os.read(terminal, 65536)
            except OSError:  # the program ended and the terminal closed
                break
            if not chunk:
                break
            output += chunk
            for prompt, reply in [answer for answer in pending if answer[0] in output]:
                os.write(terminal, reply)
                pending.remove((prompt, reply))
        else:
            os.kill(pid, 9)
    finally:
        os.close(terminal)
        _, status = os.waitpid(pid, 0)
    return os.waitstatus_to_exitcode(status), output


def free_port():
    """A TCP port on 127.0.0.1 that nothing listens on right now."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as sock:
        sock.bind(("127.0.0.1", 0))
        return sock.getsockname()[1]


class BackgroundServer:
    """A local stand-in that runs while a `with` block lasts: start() on entry, stop() on exit."""

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()
        return False


class ThreadedServer(BackgroundServer):
    """A socketserver served on a thread of its own; a subclass builds it in start() and hands it
    to serve()."""

    _server = None
    _thread = None

    def serve(self, server, certificate=None):
        """Serves `server` until stop(), over TLS with `certificate` ((certificate, key) PEM paths)
        when given; returns the port it listens on."""
        if certificate is not None:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(*map(str, certificate))
            server.socket = context.wrap_socket(server.socket, server_side=True)
        server.daemon_threads = True
        self._server = server
        self._thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
        self._thread.start()
        return server.server_address[1]

    def stop(self):
        """Stops serving; safe to call twice."""
        if self._server is not None:
            self._server.shutdown()
            self._server.server_close()
            self._thread.join(timeout=10)
            self._server = None


class ScratchTestCase(unittest.TestCase):
    """Each test gets its own scratch folder; it is removed when the test passes and kept when it fails."""

    def setUp(self):
        super().setUp()
        self.scratch = SCRATCH_ROOT / self.id().replace("__main__.", "")
        shutil.rmtree(self.scratch, ignore_errors=True)
        self.scratch.mkdir(parents=True)

    def tearDown(self):
        outcome = getattr(self, "_outcome", None)
        failed = False
        if outcome is not None:
            result = getattr(outcome, "result", None)
            errors = list(getattr(result, "errors", [])) + list(getattr(result, "failures", []))
            failed = any(test is self for test, _ in errors) or not getattr(outcome, "success", True)
        if failed:
            print(f"\nscratch folder kept: {self.scratch}", file=sys.stderr)
        else:
            shutil.rmtree(self.scratch, ignore_errors=True)
        super().tearDown()


def main():
    """Runs the unittest cases of the calling script; exits non-zero when any fails."""
    unittest.main(verbosity=2)
