"""The controller session over real HTTPS against the local stand-in, and the password prompt on a
pseudo-terminal, both through the controller_driver program."""

import fcntl
import json
import os
import re
import select
import signal
import subprocess
import sys
import termios
import time

from support import harness
from support.controller_stand_in import DEFAULT_ACCOUNTS, DEFAULT_API_TOKEN, DEFAULT_CID, ControllerStandIn

DRIVER = str(harness.program("controller_driver"))
PASSWORD = "p&ss=w+rd%20 \u00e9\u20ac/?#"
PASSWORD_VARIABLE = "halvane_controller_password"


def environment(password=None):
    env = {k: v for k, v in os.environ.items() if k != PASSWORD_VARIABLE}
    if password is not None:
        env[PASSWORD_VARIABLE] = password
    return env


def header(request, name):
    values = [value for key, value in request["headers"] if key.lower() == name.lower()]
    return values[0] if values else None


class AccountListOverHttps(harness.ScratchTestCase):

    def run_session(self, controller, username="admin", password=PASSWORD):
        return subprocess.run([DRIVER, "accounts", controller.address, username], env=environment(password),
                              capture_output=True, text=True, timeout=60)

    def assert_no_secret(self, text):
        for secret in (PASSWORD, DEFAULT_API_TOKEN, DEFAULT_CID):
            self.assertNotIn(secret, text)

    def test_v2_token_login_and_account_list_carry_exactly_the_fields_they_should(self):
        with ControllerStandIn(self.scratch, token="v2", username="admin", password=PASSWORD) as controller:
            result = self.run_session(controller)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(json.loads(result.stdout), DEFAULT_ACCOUNTS)

        token, login, listing = controller.requests
        self.assertEqual((token["method"], token["path"]), ("GET", "/v2/api"))
        self.assertEqual(token["form"], [["action", "get_api_token"]])
        self.assertIsNone(header(token, "X-Access-Key"))

        self.assertEqual((login["method"], login["path"]), ("POST", "/v2/api"))
        self.assertEqual(header(login, "X-Access-Key"), DEFAULT_API_TOKEN)
        self.assertEqual(login["form"], [["action", "login"], ["username", "admin"], ["password", PASSWORD]])

        self.assertEqual((listing["method"], listing["path"]), ("POST", "/v1/api"))
        self.assertIsNone(header(listing, "X-Access-Key"))
        self.assertEqual(listing["form"],
                         [["action", "list_accounts"], ["CID", DEFAULT_CID], ["aws_iam_role_based", "True"]])

        for request in controller.requests:
            self.assertEqual(header(request, "Content-Type"), "application/x-www-form-urlencoded")
        # Every message of the session is issued in the name of get_account_list.
        self.assertIn("generator.generate:get_account_list Use controller login V2 api", result.stderr)
        self.assertIn("generator.generate:get_account_list Account List:", result.stderr)
        self.assert_no_secret(result.stderr)

    def test_controller_without_v2_token_is_used_over_v1_without_an_error(self):
        for mode in ("v1", "no-return"):
            with self.subTest(mode=mode), ControllerStandIn(self.scratch / mode, token=mode) as controller:
                result = self.run_session(controller)
                self.assertEqual(result.returncode, 0, result.stderr)
                login = controller.requests_for("login")[0]
                self.assertEqual(login["path"], "/v1/api")
                self.assertIsNone(header(login, "X-Access-Key"))
                self.assertIn("Use controller login V1 api", result.stderr)
                self.assertNotIn(" ERROR ", result.stderr)

    def test_token_endpoint_down_not_json_or_unusable_token_falls_back_to_v1_with_a_warning(self):
        cases = {"not-json": dict(token="not-json"), "drop": dict(token="drop"),
                 # A token that cannot travel in a request header.
                 "control character": dict(token="v2", api_token="t0ken\x1b[2J\r\nX-Injected: 1")}
        for name, options in cases.items():
            with self.subTest(case=name), ControllerStandIn(self.scratch / name, **options) as controller:
                result = self.run_session(controller)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(json.loads(result.stdout), DEFAULT_ACCOUNTS)
                self.assertEqual(controller.requests_for("login")[0]["path"], "/v1/api")
                lines = result.stderr.splitlines()
                warning = next(i for i, line in enumerate(lines) if "Failed to get V2 API token" in line)
                self.assertIn("ERROR", lines[warning])
                self.assertTrue(lines[warning].endswith("Failed to get V2 API token. Retry V1 login API."), lines)
                # The cause stands indented beneath it; no line reads as the error that ends a run.
                self.assertTrue(lines[warning + 1].startswith("  The Halvane Controller"), lines)
                self.assertEqual([line for line in lines if re.match(r"^\w+Error: ", line)], [])
                self.assertNotIn("\x1b", result.stderr)

    def test_refused_login_ends_the_run_with_the_login_failure(self):
        cases = {"no-cid": dict(login="no-cid"), "wrong-password": dict(token="v1", password="other")}
        for name, options in cases.items():
            with self.subTest(case=name), ControllerStandIn(self.scratch / name, **options) as controller:
                result = self.run_session(controller)
                self.assertEqual(result.returncode, 1)
                self.assertIn("Login failed. Please check Halvane Controller IP, username and password.", result.stderr)
                self.assertIn("HalvaneError: Failed to login to controller.\nUsername: admin\nController IP: "
                              + controller.address + "\n", result.stderr)
                self.assertEqual(controller.requests_for("list_accounts"), [])
                self.assert_no_secret(result.stderr)

    def test_unusable_account_list_answers_give_a_clear_error(self):
        cases = {"not-json": "is not JSON", "no-results": 'has no member "results"'}
        for mode, expected in cases.items():
            with self.subTest(mode=mode), ControllerStandIn(self.scratch / mode, list_accounts=mode) as controller:
                result = self.run_session(controller)
                self.assertEqual(result.returncode, 1)
                self.assertIn("HalvaneError: The Halvane Controller's answer to the list_accounts request (POST https://"
                              + controller.address + "/v1/api) " + expected, result.stderr)
                self.assert_no_secret(result.stderr)

    def test_no_controller_listening_fails_at_the_login_naming_what_was_tried(self):
        address = f"127.0.0.1:{harness.free_port()}"
        result = subprocess.run([DRIVER, "accounts", address, "admin"], env=environment(PASSWORD),
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 1)
        lines = result.stderr.splitlines()
        self.assertTrue(any("ERROR" in line and "Failed to get V2 API token. Retry V1 login API." in line
                            for line in lines), lines)
        refused = "Couldn't connect to server (Connection refused)"
        self.assertEqual(lines[-1], f"HalvaneError: The Halvane Controller at {address} did not answer: tried V2 "
                                    f"(the get_api_token request, GET /v2/api: {refused}), then V1 (the login "
                                    f"request, POST /v1/api: {refused})")
        self.assertEqual([line for line in lines if re.match(r"^\w+Error: ", line)], [lines[-1]])

    def test_recorded_requests_reach_the_record_file_in_command_line_mode(self):
        record = self.scratch / "requests.jsonl"
        accounts = self.scratch / "accounts.json"
        accounts.write_text(json.dumps([{"account_number": "333333333333", "account_name": "x"}]))
        stand_in = subprocess.Popen(
            [sys.executable, str(harness.SOURCE_DIR / "tests/support/controller_stand_in.py"), "--port", "0",
             "--folder", str(self.scratch), "--accounts", str(accounts), "--record", str(record),
             "--max-seconds", "120"], stdout=subprocess.PIPE, text=True)
        try:
            ready, _, _ = select.select([stand_in.stdout], [], [], 30)
            self.assertTrue(ready, "the stand-in did not start")
            address = stand_in.stdout.readline().split()[-1]
            result = subprocess.run([DRIVER, "accounts", address, "admin"], env=environment(PASSWORD),
                                    capture_output=True, text=True, timeout=60)
        finally:
            stand_in.terminate()
            stand_in.wait(timeout=30)
            stand_in.stdout.close()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(json.loads(result.stdout)[0]["account_number"], "333333333333")
        actions = [dict(json.loads(line)["form"])["action"] for line in record.read_text().splitlines()]
        self.assertEqual(actions, ["get_api_token", "login", "list_accounts"])


class PasswordPrompt(harness.ScratchTestCase):
    """The driver asks for the password on a pseudo-terminal that is its controlling terminal."""

    PROMPT = b"Halvane Controller ops@10.0.0.1:8443's password:"
    MODE = "password"
    STOP_SIGNAL = signal.SIGTERM

    def setUp(self):
        super().setUp()
        self.master, self.slave = os.openpty()
        self.process = subprocess.Popen(
            [DRIVER, self.MODE, "10.0.0.1:8443", "ops"], env=environment(), stdin=self.slave,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=self._take_terminal)
        self.screen = b""

    def tearDown(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.communicate(timeout=30)
        os.close(self.master)
        os.close(self.slave)
        super().tearDown()

    @staticmethod
    def _take_terminal():
        os.setsid()
        fcntl.ioctl(0, termios.TIOCSCTTY, 0)

    def read_screen_until(self, expected, seconds=20):
        deadline = time.monotonic() + seconds
        while expected not in self.screen and time.monotonic() < deadline:
            ready, _, _ = select.select([self.master], [], [], 0.1)
            if ready:
                self.screen += os.read(self.master, 4096)
        self.assertIn(expected, self.screen)

    def echo_is_on(self):
        return bool(termios.tcgetattr(self.slave)[3] & termios.ECHO)

    def finish(self):
        out, err = self.process.communicate(timeout=30)
        return self.process.returncode, out.decode(), err.decode()

    def test_typed_password_is_read_without_echo_and_echo_comes_back(self):
        self.read_screen_until(self.PROMPT)
        self.assertFalse(self.echo_is_on())
        os.write(self.master, "se cr&t \u00e9\n".encode())
        status, out, err = self.finish()
        self.assertEqual(status, 0, err)
        self.assertEqual(json.loads(out), "se cr&t \u00e9")
        self.read_screen_until(b"\n")
        self.assertNotIn(b"cr&t", self.screen)
        self.assertTrue(self.echo_is_on())

    def test_empty_line_is_an_empty_password(self):
        self.read_screen_until(self.PROMPT)
        os.write(self.master, b"\n")
        status, out, err = self.finish()
        self.assertEqual((status, json.loads(out)), (0, ""), err)

    def test_ctrl_c_ends_the_program_as_an_interrupt_with_echo_restored(self):
        self.read_screen_until(self.PROMPT)
        os.write(self.master, b"half")
        os.write(self.master, b"\x03")
        status, _, _ = self.finish()
        self.assertEqual(status, -signal.SIGINT)
        self.assertTrue(self.echo_is_on())

    def test_termination_signal_restores_echo(self):
        self.read_screen_until(self.PROMPT)
        self.process.send_signal(self.STOP_SIGNAL)
        status, _, _ = self.finish()
        self.assertEqual(status, -self.STOP_SIGNAL)
        self.assertTrue(self.echo_is_on())

    def test_end_of_input_without_a_password_is_an_error(self):
        self.read_screen_until(self.PROMPT)
        os.write(self.master, b"\x04")
        status, _, err = self.finish()
        self.assertEqual(status, 1)
        self.assertIn("No password was typed", err)
        self.assertTrue(self.echo_is_on())


class PasswordPromptOnAThread(PasswordPrompt):
    """The same prompt read on a thread of its own while the main thread waits: a signal sent to
    the process reaches the main thread, and must still end the prompt; so must any other signal
    that ends the process."""

    MODE = "password-on-a-thread"
    STOP_SIGNAL = signal.SIGUSR1


class NoTerminal(harness.ScratchTestCase):

    def run_detached(self, env):
        started = time.monotonic()
        result = subprocess.run([DRIVER, "password", "10.0.0.1", "ops"], env=env, stdin=subprocess.DEVNULL,
                                capture_output=True, text=True, timeout=30, start_new_session=True)
        return result, time.monotonic() - started

    def test_without_password_variable_or_terminal_the_program_fails_fast(self):
        result, seconds = self.run_detached(environment())
        self.assertEqual(result.returncode, 1)
        self.assertLess(seconds, 10)
        self.assertIn("OSError: No terminal to read the Halvane Controller password from", result.stderr)
        self.assertIn("halvane_controller_password", result.stderr)

    def test_password_variable_needs_no_terminal(self):
        result, _ = self.run_detached(environment(PASSWORD))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(json.loads(result.stdout), PASSWORD)
        self.assertNotIn("password:", result.stderr)


if __name__ == "__main__":
    harness.main()
