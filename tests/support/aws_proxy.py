"""A proxy in front of moto_server that makes AWS behave like a far-away, busy or hostile service:
every answer waits a chosen time, chosen regions refuse their VPC listing (or are closed by a service
control policy, as organizations close the regions they do not use), every n-th EC2 request is
first answered with a throttling error, chosen listings page without end through a cycle of tokens,
STS echoes the web identity token or the external ID it was sent in its refusal, and requests are
counted by action (with the regions they were signed for, and the roles AssumeRole asked for).

Typical use:

    with AwsProxy(moto.url, delay=0.25, throttle_every=7) as proxy:
        run_program(..., env=moto.environment(key, secret, AWS_ENDPOINT_URL=proxy.url))
        proxy.counts()    # {"AssumeRole": 3, "DescribeVpcs": 6, ...}

Requests pass through unchanged (the Host header included, so signatures still match).
"""

import http.client
import http.server
import re
import threading
import time
import urllib.parse
from collections import Counter

from support import harness

_SCOPE = re.compile(r"Credential=([^/]+)/\d{8}/([^/]+)/([^/]+)/aws4_request")

THROTTLING = (b'<?xml version="1.0" encoding="UTF-8"?><Response><Errors><Error><Code>RequestLimitExceeded'
              b'</Code><Message>Request limit exceeded.</Message></Error></Errors>'
              b'<RequestID>proxy-throttle</RequestID></Response>')
REFUSAL = (b'<?xml version="1.0" encoding="UTF-8"?><Response><Errors><Error><Code>UnauthorizedOperation'
           b'</Code><Message>You are not authorized to perform this operation.</Message></Error></Errors>'
           b'<RequestID>proxy-refusal</RequestID></Response>')


def _closed_region_refusal(action):
    """EC2's refusal of a listing that a service control policy denies, as AWS words it."""
    return (f'<?xml version="1.0" encoding="UTF-8"?><Response><Errors><Error><Code>UnauthorizedOperation</Code>'
            f'<Message>You are not authorized to perform this operation. User: arn:aws:sts::000000000000:'
            f'assumed-role/Discovery/session is not authorized to perform: ec2:{action} with an explicit deny '
            f'in a service control policy. Encoded authorization failure message: proxy-encoded</Message>'
            f'</Error></Errors><RequestID>proxy-closed</RequestID></Response>').encode()


def _error_document(code, message):
    """A Query API error answer."""
    escaped = message.replace("&", "&amp;").replace("<", "&lt;")
    return (f'<?xml version="1.0" encoding="UTF-8"?><ErrorResponse><Error><Type>Sender</Type><Code>{code}</Code>'
            f'<Message>{escaped}</Message></Error><RequestId>proxy-echo</RequestId></ErrorResponse>').encode()


class AwsProxy(harness.ThreadedServer):
    """`delay`: seconds before every answer; `region_delays`: seconds per signing region instead;
    `refuse_regions`: regions whose DescribeVpcs is refused (403 UnauthorizedOperation);
    `closed_regions`: regions whose DescribeVpcs and DescribeSubnets are refused by an explicit deny in
    a service control policy;
    `throttle_every`: every n-th EC2 request is answered RequestLimitExceeded once (0: never);
    `cycling_tokens`: {(region, "DescribeVpcs" or "DescribeSubnets"): [tokens]}, listings answered
    here with empty pages whose next token follows the request's own in that cycle, for ever;
    `echo_web_identity`: AssumeRoleWithWebIdentity is refused with the token quoted back;
    `external_id`: AssumeRole without this ExternalId is refused (403 AccessDenied), as a role's
    trust policy with an sts:ExternalId condition refuses it, quoting back the ExternalId it was sent;
    `bucket`: (capacity, refill per second) of a token bucket per access key and region, as EC2
    keeps one per account and region: an EC2 request that finds it empty is answered
    RequestLimitExceeded."""

    def __init__(self, target_url, delay=0.0, region_delays=None, refuse_regions=(), closed_regions=(),
                 throttle_every=0, cycling_tokens=None, echo_web_identity=False, external_id=None, bucket=None):
        self.target = urllib.parse.urlsplit(target_url)
        self.delay = delay
        self.region_delays = dict(region_delays or {})
        self.refuse_regions = set(refuse_regions)
        self.closed_regions = set(closed_regions)
        self.throttle_every = throttle_every
        self.cycling_tokens = dict(cycling_tokens or {})
        self.echo_web_identity = echo_web_identity
        self.external_id = external_id
        self.bucket = bucket
        self._buckets = {}  # (access key, region): (tokens, time of the last refill)
        self._bucket_refusals = 0
        self._role_sessions = []
        self._role_arns = []
        self._signing_regions = {}  # action: regions its requests were signed for
        self._mfa_codes = []
        self.port = None
        self.url = None
        self._lock = threading.Lock()
        self._counts = Counter()
        self._ec2_requests = 0

    def counts(self):
        """Requests that reached moto, by action (throttled first attempts and refusals not counted)."""
        with self._lock:
            return dict(self._counts)

    def bucket_refusals(self):
        """EC2 requests answered RequestLimitExceeded because their bucket was empty."""
        with self._lock:
            return self._bucket_refusals

    def _take_token(self, key):
        capacity, refill = self.bucket
        now = time.monotonic()
        tokens, since = self._buckets.get(key, (capacity, now))
        tokens = min(capacity, tokens + (now - since) * refill)
        if tokens < 1:
            self._buckets[key] = (tokens, now)
            return False
        self._buckets[key] = (tokens - 1, now)
        return True

    def mfa_codes(self):
        """The (SerialNumber, TokenCode) of every AssumeRole that reached moto with an MFA device."""
        with self._lock:
            return list(self._mfa_codes)

    def role_arns(self):
        """The RoleArn of every AssumeRole that reached moto, in order."""
        with self._lock:
            return list(self._role_arns)

    def signing_regions(self):
        """{action: the set of regions its requests that reached moto were signed for}."""
        with self._lock:
            return {action: set(regions) for action, regions in self._signing_regions.items()}

    def role_sessions(self):
        """The (RoleSessionName, DurationSeconds or None) of every AssumeRole that reached moto."""
        with self._lock:
            return list(self._role_sessions)

    def start(self):
        proxy = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
                status, headers, answer = proxy._answer(self.command, self.path, dict(self.headers), body)
                self.send_response(status)
                for name, value in headers:
                    if name.lower() not in ("content-length", "transfer-encoding", "connection"):
                        self.send_header(name, value)
                self.send_header("Content-Length", str(len(answer)))
                self.end_headers()
                self.wfile.write(answer)

            do_GET = do_POST

        self.port = self.serve(http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler))
        self.url = f"http://127.0.0.1:{self.port}"
        return self

    def _answer(self, method, path, headers, body):
        scope = _SCOPE.search(headers.get("Authorization", ""))
        access_key, region, service = scope.groups() if scope else ("", "", "")
        parameters = urllib.parse.parse_qs(body.decode("utf-8", "replace"))
        action = parameters.get("Action", [""])[0]
        time.sleep(self.region_delays.get(region, self.delay))
        if self.echo_web_identity and action == "AssumeRoleWithWebIdentity":
            return 400, [("Content-Type", "text/xml")], _error_document(
                "InvalidIdentityToken", "Token " + parameters.get("WebIdentityToken", [""])[0] + " is not valid")
        cycle = self.cycling_tokens.get((region, action))
        if cycle:
            with self._lock:
                self._counts[action] += 1
            given = parameters.get("NextToken", [None])[0]
            following = cycle[(cycle.index(given) + 1) % len(cycle)] if given in cycle else cycle[0]
            listing = "vpcSet" if action == "DescribeVpcs" else "subnetSet"
            return 200, [("Content-Type", "text/xml")], (
                f"<{action}Response><{listing}/><nextToken>{following}</nextToken></{action}Response>").encode()
        with self._lock:
            if service == "ec2":
                self._ec2_requests += 1
                if self.throttle_every and self._ec2_requests % self.throttle_every == 0:
                    return 503, [("Content-Type", "text/xml")], THROTTLING
                if self.bucket and not self._take_token((access_key, region)):
                    self._bucket_refusals += 1
                    return 503, [("Content-Type", "text/xml")], THROTTLING
            if service == "ec2" and action == "DescribeVpcs" and region in self.refuse_regions:
                return 403, [("Content-Type", "text/xml")], REFUSAL
            if service == "ec2" and action in ("DescribeVpcs", "DescribeSubnets") and region in self.closed_regions:
                return 403, [("Content-Type", "text/xml")], _closed_region_refusal(action)
            if action == "AssumeRole" and self.external_id is not None:
                if parameters.get("ExternalId") != [self.external_id]:
                    given = parameters.get("ExternalId", [""])[0]
                    return 403, [("Content-Type", "text/xml")], _error_document(
                        "AccessDenied", "Not authorized to perform sts:AssumeRole (external ID)"
                        + (f" with ExternalId={given}" if given else ""))
            if action == "AssumeRole":
                self._role_arns.append(parameters["RoleArn"][0])
                self._role_sessions.append((parameters["RoleSessionName"][0],
                                            parameters.get("DurationSeconds", [None])[0]))
                if "SerialNumber" in parameters:
                    self._mfa_codes.append((parameters["SerialNumber"][0], parameters.get("TokenCode", [None])[0]))
            self._counts[action] += 1
            self._signing_regions.setdefault(action, set()).add(region)
        connection = http.client.HTTPConnection(self.target.hostname, self.target.port, timeout=120)
        try:
            connection.request(method, path, body=body, headers=headers)
            answer = connection.getresponse()
            return answer.status, answer.getheaders(), answer.read()
        finally:
            connection.close()
