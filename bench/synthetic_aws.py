"""A synthetic AWS endpoint for benchmarks of whole organisations: STS AssumeRole and EC2
DescribeRegions, DescribeVpcs and DescribeSubnets for any number of accounts, each region of each
account with the VPCs every real account has (AWS's default VPC: 172.31.0.0/16 with three /20
subnets, isDefault true) and the same deterministic VPCs and subnets besides, each VPC and subnet
with an id of its own, every answer held back a fixed time, and a token bucket per account and
region that answers RequestLimitExceeded when it is empty (as EC2 throttles). Signatures are not
checked; the account is read from the access key (AssumeRole hands out "ASIA" + the account
number) and the region from the signature's scope.

    with SyntheticAws(delay=0.25, bucket=(100, 20)) as aws:
        run generate with AWS_ENDPOINT_URL=aws.url
        aws.stats()   # {"requests": {...}, "throttled": n}

The server runs on its own asyncio loop in a thread, listens on 127.0.0.1 only, and keeps
connections alive, so that hundreds of requests in flight cost no new connection each.
"""

import asyncio
import re
import threading
import time
import urllib.parse
from collections import Counter

_SCOPE = re.compile(rb"Credential=([^/]+)/\d{8}/([^/]+)/([^/]+)/aws4_request")
EC2_NS = "http://ec2.amazonaws.com/doc/2016-11-15/"
REGIONS = ["us-east-1", "us-east-2", "us-west-1", "us-west-2", "ca-central-1", "eu-west-1", "eu-west-2",
           "eu-west-3", "eu-central-1", "eu-north-1", "ap-south-1", "ap-northeast-1", "ap-northeast-2",
           "ap-northeast-3", "ap-southeast-1", "ap-southeast-2", "sa-east-1"]
THROTTLED = (b'<?xml version="1.0" encoding="UTF-8"?><Response><Errors><Error><Code>RequestLimitExceeded</Code>'
             b'<Message>Request limit exceeded.</Message></Error></Errors><RequestID>synthetic</RequestID></Response>')


DEFAULT_VPC = ("172.31.0.0/16", ["172.31.0.0/20", "172.31.16.0/20", "172.31.32.0/20"])


def vpcs_of(vpcs_per_region, default_vpc=True):
    """The VPCs of every region of every account: (is default, primary block, [subnet blocks])."""
    made = [(False, f"10.{n}.0.0/24", [f"10.{n}.0.{32 * s}/27" for s in range(3)]) for n in range(vpcs_per_region)]
    return ([(True, *DEFAULT_VPC)] if default_vpc else []) + made


def vpc_id(account, region, n):
    """The id of VPC `n` of an account's region: 17 hexadecimal digits, as AWS gives them, and unique."""
    region_number = REGIONS.index(region) if region in REGIONS else len(REGIONS)
    return f"vpc-{(int(account or 0) * 32 + region_number) * 64 + n:017x}"


class SyntheticAws:
    """`delay`: seconds before every answer; `bucket`: (capacity, refill per second) per account and
    region, or None for no throttling; `vpcs`: VPCs per region of every account besides its default
    VPC (`default_vpc`)."""

    def __init__(self, delay=0.25, bucket=(100, 20), vpcs=2, default_vpc=True):
        self.delay, self.bucket = delay, bucket
        self.vpcs = vpcs_of(vpcs, default_vpc)
        self._buckets = {}
        self._counts = Counter()
        self._throttled = 0
        self._lock = threading.Lock()
        self._loop = None
        self._thread = None
        self._server = None
        self.url = None

    # -- answers ---------------------------------------------------------------------------------

    def _render_vpcs(self, account, region):
        items = []
        for n, (default, block, _) in enumerate(self.vpcs):
            vpc = vpc_id(account, region, n)
            name = "" if default else f"<tagSet><item><key>Name</key><value>spoke {n}</value></item></tagSet>"
            items.append(
                f"<item><vpcId>{vpc}</vpcId><ownerId>{account}</ownerId><state>available</state>"
                f"<cidrBlock>{block}</cidrBlock><cidrBlockAssociationSet><item><cidrBlock>{block}</cidrBlock>"
                f"<associationId>a-{vpc}</associationId><cidrBlockState><state>associated</state></cidrBlockState>"
                f"</item></cidrBlockAssociationSet><isDefault>{'true' if default else 'false'}</isDefault>{name}</item>")
        return (f'<?xml version="1.0" encoding="UTF-8"?><DescribeVpcsResponse xmlns="{EC2_NS}">'
                f"<requestId>r</requestId><vpcSet>{''.join(items)}</vpcSet></DescribeVpcsResponse>").encode()

    def _render_subnets(self, account, region):
        items = "".join(
            f"<item><subnetId>subnet-{vpc_id(account, region, n)[4:]}{s}</subnetId>"
            f"<vpcId>{vpc_id(account, region, n)}</vpcId><cidrBlock>{block}</cidrBlock></item>"
            for n, (_, _, blocks) in enumerate(self.vpcs) for s, block in enumerate(blocks))
        return (f'<?xml version="1.0" encoding="UTF-8"?><DescribeSubnetsResponse xmlns="{EC2_NS}">'
                f"<requestId>r</requestId><subnetSet>{items}</subnetSet></DescribeSubnetsResponse>").encode()

    @staticmethod
    def _assume_role(fields):
        account = fields.get("RoleArn", [""])[0].split(":")[4] if fields.get("RoleArn") else "000000000000"
        return (f'<AssumeRoleResponse xmlns="https://sts.amazonaws.com/doc/2011-06-15/"><AssumeRoleResult>'
                f"<Credentials><AccessKeyId>ASIA{account}</AccessKeyId><SecretAccessKey>synthetic</SecretAccessKey>"
                f"<SessionToken>token-{account}</SessionToken><Expiration>2100-01-01T00:00:00Z</Expiration>"
                f"</Credentials></AssumeRoleResult></AssumeRoleResponse>").encode()

    @staticmethod
    def _regions():
        items = "".join(f"<item><regionName>{r}</regionName></item>" for r in REGIONS)
        return (f'<DescribeRegionsResponse xmlns="{EC2_NS}"><regionInfo>{items}</regionInfo>'
                f"</DescribeRegionsResponse>").encode()

    def _take_token(self, key, now):
        capacity, refill = self.bucket
        tokens, since = self._buckets.get(key, (capacity, now))
        tokens = min(capacity, tokens + (now - since) * refill)
        if tokens < 1:
            self._buckets[key] = (tokens, now)
            return False
        self._buckets[key] = (tokens - 1, now)
        return True

    def _answer(self, headers, body):
        fields = urllib.parse.parse_qs(body.decode("utf-8", "replace"))
        action = fields.get("Action", [""])[0]
        scope = _SCOPE.search(headers.get(b"authorization", b""))
        key, region, service = scope.groups() if scope else (b"", b"", b"")
        with self._lock:
            self._counts[action] += 1
            if service == b"ec2" and self.bucket and not self._take_token((key, region), time.monotonic()):
                self._throttled += 1
                return 503, THROTTLED
        if action == "AssumeRole":
            return 200, self._assume_role(fields)
        account = key.decode()[4:] if key.startswith(b"ASIA") else ""
        if action == "DescribeVpcs":
            return 200, self._render_vpcs(account, region.decode())
        if action == "DescribeSubnets":
            return 200, self._render_subnets(account, region.decode())
        if action == "DescribeRegions":
            return 200, self._regions()
        return 400, b"<Response><Errors><Error><Code>InvalidAction</Code><Message>not synthetic</Message></Error></Errors></Response>"

    # -- HTTP --------------------------------------------------------------------------------------

    async def _serve(self, reader, writer):
        try:
            while True:
                head = await reader.readuntil(b"\r\n\r\n")
                headers = {}
                for line in head.split(b"\r\n")[1:]:
                    name, _, value = line.partition(b":")
                    if name:
                        headers[name.strip().lower()] = value.strip()
                body = await reader.readexactly(int(headers.get(b"content-length", b"0")))
                status, answer = self._answer(headers, body)
                await asyncio.sleep(self.delay)
                writer.write(b"HTTP/1.1 %d %s\r\nContent-Type: text/xml\r\nContent-Length: %d\r\n\r\n"
                             % (status, b"OK" if status == 200 else b"Error", len(answer)) + answer)
                await writer.drain()
        except (asyncio.IncompleteReadError, ConnectionError, asyncio.LimitOverrunError):
            pass
        finally:
            writer.close()

    def start(self):
        ready = threading.Event()

        def run():
            self._loop = asyncio.new_event_loop()
            self._server = self._loop.run_until_complete(
                asyncio.start_server(self._serve, "127.0.0.1", 0, backlog=1024, limit=1 << 20))
            self.url = f"http://127.0.0.1:{self._server.sockets[0].getsockname()[1]}"
            ready.set()
            self._loop.run_forever()
            self._server.close()
            self._loop.run_until_complete(self._server.wait_closed())
            self._loop.close()

        self._thread = threading.Thread(target=run, daemon=True)
        self._thread.start()
        if not ready.wait(30):
            raise RuntimeError("the synthetic AWS did not start")
        return self

    def stop(self):
        if self._loop is not None:
            self._loop.call_soon_threadsafe(self._loop.stop)
            self._thread.join(30)
            self._loop = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def stats(self):
        """Requests by action and EC2 requests answered RequestLimitExceeded, since the last call."""
        with self._lock:
            stats = {"requests": dict(self._counts), "throttled": self._throttled}
            self._counts.clear()
            self._throttled = 0
            return stats
