"""RFC 3161 timestamps for Authenticode signatures.

The request asks for a SHA-256 imprint of the signature value (the signer's encrypted
digest), with a nonce and the authority's certificate. Each authority URL is tried in
turn, a few times each; the first answer that verifies wins. An answer verifies when its
status is granted, its TSTInfo carries the imprint and nonce asked for, and the token's
CMS signature verifies with the certificate the token carries (openssl cms). The token
goes into the signer's unsigned attributes as attribute 1.3.6.1.4.1.311.3.3.1, the way
signing tools add it, where Windows and osslsigncode look for it.
"""

import hashlib
import os
import subprocess
import tempfile
import time
import urllib.error
import urllib.request

import pe_image
from pe_image import PeError

OID_SHA256_DER = bytes.fromhex("0609608648016503040201")
OID_RFC3161_COUNTERSIGN = "1.3.6.1.4.1.311.3.3.1"
OID_TST_INFO_DER = bytes.fromhex("060b2a864886f70d0109100104")
ATTEMPTS = 3
TIMEOUT = 30


class TimestampError(Exception):
    pass


_der = pe_image.der


def request(imprint, nonce):
    """The DER TimeStampReq for a SHA-256 imprint: version 1, the imprint, the nonce, and
    certReq TRUE so that the token carries the certificate to verify it with."""
    algorithm = _der(0x30, OID_SHA256_DER + b"\x05\x00")
    message_imprint = _der(0x30, algorithm + _der(0x04, imprint))
    nonce_der = _der(0x02, nonce.to_bytes(nonce.bit_length() // 8 + 1, "big"))
    return _der(0x30, _der(0x02, b"\x01") + message_imprint + nonce_der + b"\x01\x01\xff")


def _children(data, start=0, end=None):
    return pe_image.der_children(data, start, len(data) if end is None else end)


def _content(data, element):
    return data[element[2]:element[3]]


def token_from_response(answer, imprint, nonce, workdir):
    """(the TimeStampToken's DER, its time as text) from a TimeStampResp; TimestampError
    with the reason when it does not verify."""
    try:
        response = _children(answer)
        if len(response) != 1 or response[0][0] != 0x30 or response[0][3] != len(answer):
            raise TimestampError("the answer is not a timestamp response")
        parts = _children(answer, response[0][2], response[0][3])
        status = _children(answer, parts[0][2], parts[0][3])
        code = int.from_bytes(_content(answer, status[0]), "big")
        if code not in (0, 1):
            raise TimestampError("the authority did not grant the timestamp (status %d)" % code)
        if len(parts) < 2:
            raise TimestampError("the answer holds no timestamp token")
        token = bytes(answer[parts[1][1]:parts[1][3]])
    except (PeError, IndexError):
        raise TimestampError("the answer is not a timestamp response")
    token_path = os.path.join(workdir, "token.der")
    info_path = os.path.join(workdir, "tstinfo.der")
    with open(token_path, "wb") as f:
        f.write(token)
    # -noverify: the authority's certificate chain is judged where the file is verified;
    # here the token's signature must verify with the certificate it carries.
    result = subprocess.run(["openssl", "cms", "-verify", "-inform", "DER", "-in", token_path, "-binary",
                             "-noverify", "-out", info_path], capture_output=True)
    if result.returncode != 0:
        lines = result.stderr.decode(errors="replace").strip().splitlines()
        raise TimestampError("the token's signature does not verify (%s)" % (lines[0] if lines else "openssl cms failed"))
    with open(info_path, "rb") as f:
        info = f.read()
    try:
        fields = _children(info, _children(info)[0][2], _children(info)[0][3])
        imprint_fields = _children(info, fields[2][2], fields[2][3])
        algorithm = _children(info, imprint_fields[0][2], imprint_fields[0][3])[0]
        got_algorithm = info[algorithm[1]:algorithm[3]]
        got_imprint = _content(info, imprint_fields[1])
        when = _content(info, fields[4]).decode("ascii")
        nonces = [f for f in fields[5:] if f[0] == 0x02]
        got_nonce = int.from_bytes(_content(info, nonces[0]), "big") if nonces else None
    except (PeError, IndexError, UnicodeDecodeError):
        raise TimestampError("the token's TSTInfo cannot be read")
    if got_algorithm != OID_SHA256_DER or got_imprint != imprint:
        raise TimestampError("the token is for another signature (its imprint differs)")
    if got_nonce != nonce:
        raise TimestampError("the token does not carry the nonce asked for")
    return token, "%s-%s-%s %s:%s:%s UTC" % (when[0:4], when[4:6], when[6:8], when[8:10], when[10:12], when[12:14])


def fetch(urls, signature_value, attempts=ATTEMPTS, pause=1.0):
    """(token DER, its time, the URL that gave it) for the signature value, from the first
    authority of urls whose answer verifies; TimestampError naming every URL and its
    reason when none does."""
    imprint = hashlib.sha256(signature_value).digest()
    reasons = []
    for url in urls:
        reason = ""
        for attempt in range(attempts):
            nonce = int.from_bytes(os.urandom(8), "big")
            body = request(imprint, nonce)
            http = urllib.request.Request(url, data=body, method="POST",
                                          headers={"Content-Type": "application/timestamp-query",
                                                   "Accept": "application/timestamp-reply"})
            try:
                with urllib.request.urlopen(http, timeout=TIMEOUT) as answer:
                    data = answer.read()
            except urllib.error.HTTPError as e:
                reason = "HTTP status %d %s" % (e.code, e.reason)
            except (urllib.error.URLError, OSError) as e:
                reason = str(getattr(e, "reason", e))
            except ValueError as e:
                reasons.append("%s: %s" % (url, e))
                break
            else:
                with tempfile.TemporaryDirectory(prefix="timestamp_") as workdir:
                    try:
                        token, when = token_from_response(data, imprint, nonce, workdir)
                        return token, when, url
                    except TimestampError as e:
                        reason = str(e)
            if attempt + 1 < attempts:
                time.sleep(pause * (attempt + 1))
        else:
            reasons.append("%s: %s" % (url, reason))
    raise TimestampError("no timestamp: " + "; ".join(reasons))
