"""Certificates made at test time with `openssl`: a certificate authority of its own (as a company's
TLS-inspecting proxy has) and server certificates that it signs.

    ca = CertificateAuthority(scratch / "ca")            # ca.cert is the bundle to trust
    cert, key = ca.issue("aws.example.test", "127.0.0.1")
"""

import subprocess
from pathlib import Path


def _openssl(*args):
    subprocess.run(["openssl", *map(str, args)], check=True, capture_output=True, timeout=60)


class CertificateAuthority:
    """A fresh CA key and self-signed CA certificate in `folder`."""

    def __init__(self, folder):
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.cert, self.key = self.folder / "ca-cert.pem", self.folder / "ca-key.pem"
        _openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                 "-keyout", self.key, "-out", self.cert, "-days", "1", "-subj", "/CN=Test Inspection CA",
                 "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        self._issued = 0

    def issue(self, *names):
        """A server certificate for the host names and IP addresses given, signed by this CA;
        returns (certificate path, key path)."""
        self._issued += 1
        stem = self.folder / f"server-{self._issued}"
        cert, key, request, extensions = (stem.with_suffix(s) for s in (".pem", ".key", ".csr", ".ext"))
        alt_names = ",".join(f"IP:{name}" if name.replace(".", "").isdigit() else f"DNS:{name}" for name in names)
        extensions.write_text(f"subjectAltName={alt_names}\nextendedKeyUsage=serverAuth\n")
        _openssl("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                 "-keyout", key, "-out", request, "-subj", f"/CN={names[0]}")
        _openssl("x509", "-req", "-in", request, "-CA", self.cert, "-CAkey", self.key, "-CAcreateserial",
                 "-out", cert, "-days", "1", "-extfile", extensions)
        return cert, key
