"""A local HTTPS stand-in for the IAM Identity Center access portal (GetRoleCredentials) and its
SSO OIDC token service (CreateToken with a refresh token), for tests. It listens on 127.0.0.1 with a
certificate of the CertificateAuthority it is given, and records every request.

    with SsoStandIn(scratch, ca) as sso:
        token = sso.issue_access_token()
        sso.grant("111111111111", "Admin", {"accessKeyId": ..., "secretAccessKey": ..., "sessionToken": ...})
        refresh = sso.issue_refresh_token()              # valid with sso.client_id / sso.client_secret
        env["AWS_ENDPOINT_URL_SSO"] = env["AWS_ENDPOINT_URL_SSO_OIDC"] = sso.url
        write_token_cache(home, "my-session", access_token=token, expires_at=..., refresh_token=refresh,
                          client_id=sso.client_id, client_secret=sso.client_secret)

The cache file is named as `aws sso login` names it: the SHA-1 of the sso-session name (or of the
start URL for profiles of the older form) under ~/.aws/sso/cache/.
"""

import datetime
import hashlib
import json
import threading
import urllib.parse
import uuid
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

from support import harness


def write_token_cache(home, cache_key, access_token, expires_at, refresh_token=None, client_id=None,
                      client_secret=None, start_url="https://example.awsapps.com/start", region="us-east-1"):
    """Writes the token cache file for `cache_key` (session name or start URL) under `home`;
    `expires_at` is a datetime in UTC. Returns the file's path."""
    folder = Path(home) / ".aws" / "sso" / "cache"
    folder.mkdir(parents=True, exist_ok=True)
    document = {"startUrl": start_url, "region": region, "accessToken": access_token,
                "expiresAt": expires_at.strftime("%Y-%m-%dT%H:%M:%SZ")}
    if refresh_token is not None:
        later = datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(days=30)
        document.update(refreshToken=refresh_token, clientId=client_id, clientSecret=client_secret,
                        registrationExpiresAt=later.strftime("%Y-%m-%dT%H:%M:%SZ"))
    path = folder / (hashlib.sha1(cache_key.encode()).hexdigest() + ".json")
    path.write_text(json.dumps(document))
    return path


def utc_in(**delta):
    """The time in UTC that lies `delta` (datetime.timedelta arguments) from now."""
    return datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(**delta)


class SsoStandIn(harness.ThreadedServer):
    """The portal and the OIDC service on one HTTPS port."""

    def __init__(self, scratch, ca, echo_tokens=False):
        """`echo_tokens`: the portal's refusal of an unknown token quotes the token back, as a
        careless or hostile portal might."""
        self.echo_tokens = echo_tokens
        self.client_id, self.client_secret = "client-" + uuid.uuid4().hex, "client-secret-" + uuid.uuid4().hex
        self.requests = []  # {"operation", "query", "bearer", "body"}
        self._access_tokens, self._refresh_tokens, self._grants = set(), set(), {}
        self._lock = threading.Lock()
        self._cert = ca.issue("localhost", "127.0.0.1")
        self.url = None

    def issue_access_token(self):
        """A new access token that the portal accepts."""
        token = "sso-access-" + uuid.uuid4().hex
        with self._lock:
            self._access_tokens.add(token)
        return token

    def issue_refresh_token(self):
        """A new refresh token that CreateToken accepts once, with this stand-in's client."""
        token = "sso-refresh-" + uuid.uuid4().hex
        with self._lock:
            self._refresh_tokens.add(token)
        return token

    def grant(self, account_id, role_name, role_credentials):
        """Lets every valid access token take the role in the account."""
        with self._lock:
            self._grants[account_id, role_name] = role_credentials

    def operations(self):
        """The operations received, in order."""
        with self._lock:
            return [request["operation"] for request in self.requests]

    def start(self):
        stand_in = self

        class Handler(BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def answer(self, status, document, error_type=None):
                body = json.dumps(document).encode()
                self.send_response(status)
                self.send_header("Content-Type", "application/json")
                if error_type:
                    self.send_header("x-amzn-ErrorType", error_type)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def do_GET(self):
                url = urllib.parse.urlsplit(self.path)
                query = dict(urllib.parse.parse_qsl(url.query))
                bearer = self.headers.get("x-amz-sso_bearer_token")
                with stand_in._lock:
                    stand_in.requests.append({"operation": "GetRoleCredentials", "query": query,
                                              "bearer": bearer, "body": None})
                    known = bearer in stand_in._access_tokens
                    granted = stand_in._grants.get((query.get("account_id"), query.get("role_name")))
                if url.path != "/federation/credentials":
                    self.answer(404, {"message": "no such operation"}, "ResourceNotFoundException")
                elif not known:
                    quoted = f" ({bearer})" if stand_in.echo_tokens else ""
                    self.answer(401, {"message": f"Session token{quoted} not found or invalid"},
                                "UnauthorizedException")
                elif granted is None:
                    self.answer(403, {"message": "No access"}, "ForbiddenException")
                else:
                    expiration = int(utc_in(hours=1).timestamp() * 1000)
                    self.answer(200, {"roleCredentials": {**granted, "expiration": expiration}})

            def do_POST(self):
                body = json.loads(self.rfile.read(int(self.headers.get("Content-Length", 0))) or b"{}")
                with stand_in._lock:
                    stand_in.requests.append({"operation": "CreateToken", "query": None, "bearer": None,
                                              "body": body})
                    valid = (self.path == "/token" and body.get("grantType") == "refresh_token"
                             and body.get("clientId") == stand_in.client_id
                             and body.get("clientSecret") == stand_in.client_secret
                             and body.get("refreshToken") in stand_in._refresh_tokens)
                    if valid:
                        stand_in._refresh_tokens.discard(body["refreshToken"])
                if not valid:
                    self.answer(400, {"error": "invalid_grant", "error_description": "refresh refused"})
                    return
                self.answer(200, {"accessToken": stand_in.issue_access_token(), "expiresIn": 3600,
                                  "refreshToken": stand_in.issue_refresh_token(), "tokenType": "Bearer"})

        port = self.serve(ThreadingHTTPServer(("127.0.0.1", 0), Handler), certificate=self._cert)
        self.url = f"https://localhost:{port}"
        return self
