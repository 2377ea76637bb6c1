"""Reads an Authenticode signature (the PKCS #7 SignedData of a certificate table) for
display, without checking it: who signed, with which digest, the program name and link
of the opus info and the string forms they use, the timestamps, and the nested
signatures. Nothing here decides whether a signature is valid; osslsigncode and Windows
do that.

    describe(der_bytes) -> dict     (SignatureError when the bytes are no signature)

Timestamps come in two forms: an RFC 3161 token (a SignedData around a TSTInfo) in the
signer's unsigned attribute 1.3.6.1.4.1.311.3.3.1, and a PKCS #9 countersignature
(a SignerInfo whose signed attributes hold the signing time) in 1.2.840.113549.1.9.6.
Nested signatures are whole SignedData in 1.3.6.1.4.1.311.2.4.1.
"""

import datetime

from pe_image import PeError, der_header, der_children

OID_SIGNED_DATA = "1.2.840.113549.1.7.2"
OID_OPUS_INFO = "1.3.6.1.4.1.311.2.1.12"
OID_RFC3161 = "1.3.6.1.4.1.311.3.3.1"
OID_COUNTERSIGNATURE = "1.2.840.113549.1.9.6"
OID_NESTED = "1.3.6.1.4.1.311.2.4.1"
OID_SIGNING_TIME = "1.2.840.113549.1.9.5"
OID_TST_INFO = "1.2.840.113549.1.9.16.1.4"
DIGESTS = {"1.2.840.113549.2.5": "MD5", "1.3.14.3.2.26": "SHA-1", "2.16.840.1.101.3.4.2.1": "SHA-256",
           "2.16.840.1.101.3.4.2.2": "SHA-384", "2.16.840.1.101.3.4.2.3": "SHA-512"}
NAME_ATTRIBUTES = {"2.5.4.3": "CN", "2.5.4.6": "C", "2.5.4.7": "L", "2.5.4.8": "ST", "2.5.4.10": "O",
                   "2.5.4.11": "OU", "2.5.4.5": "serialNumber", "1.2.840.113549.1.9.1": "emailAddress"}
MAX_NESTING = 8


class SignatureError(Exception):
    pass


class _Element:
    def __init__(self, data, tag, start, content, end):
        self.data, self.tag, self.start, self.content, self.end = data, tag, start, content, end

    @property
    def value(self):
        return bytes(self.data[self.content:self.end])

    @property
    def whole(self):
        return bytes(self.data[self.start:self.end])

    def children(self):
        return [_Element(self.data, *c) for c in der_children(self.data, self.content, self.end)]


def _root(data):
    tag, content, end = der_header(data, 0)
    return _Element(data, tag, 0, content, end)


def _expect(element, tag, what):
    if element.tag != tag:
        raise SignatureError("%s: found tag 0x%02x where 0x%02x belongs" % (what, element.tag, tag))
    return element


def oid_text(value):
    numbers, current = [], 0
    for byte in value:
        current = (current << 7) | (byte & 0x7F)
        if not byte & 0x80:
            numbers.append(current)
            current = 0
    if not numbers:
        return ""
    first = min(numbers[0] // 40, 2)
    return ".".join(str(n) for n in [first, numbers[0] - 40 * first] + numbers[1:])


def _string(element):
    if element.tag == 0x1E:  # BMPString
        return element.value.decode("utf-16-be", errors="replace")
    if element.tag == 0x1C:  # UniversalString
        return element.value.decode("utf-32-be", errors="replace")
    return element.value.decode("utf-8" if element.tag == 0x0C else "latin-1", errors="replace")


def name_text(element):
    """A distinguished name as "CN=..., O=...", in the order of its encoding."""
    parts = []
    for rdn in element.children():
        for pair in rdn.children():
            kind, value = pair.children()[:2]
            oid = oid_text(kind.value)
            parts.append("%s=%s" % (NAME_ATTRIBUTES.get(oid, oid), _string(value)))
    return ", ".join(parts)


def _time(element):
    text = element.value.decode("ascii", errors="replace")
    try:
        if element.tag == 0x17:  # UTCTime, YYMMDDhhmmssZ
            moment = datetime.datetime.strptime(text, "%y%m%d%H%M%SZ")
        else:  # GeneralizedTime, YYYYMMDDhhmmss[.f]Z
            moment = datetime.datetime.strptime(text.split(".")[0].rstrip("Z"), "%Y%m%d%H%M%S")
    except ValueError:
        return text
    return moment.strftime("%Y-%m-%dT%H:%M:%SZ")


def _certificates(signed_data_children):
    """[(issuer element, serial bytes, subject text, issuer text)] of the certificates [0]."""
    out = []
    for child in signed_data_children:
        if child.tag != 0xA0:
            continue
        for cert in child.children():
            if cert.tag != 0x30:
                continue
            tbs = cert.children()[0].children()
            if tbs and tbs[0].tag == 0xA0:
                tbs = tbs[1:]
            serial, _, issuer, _, subject = tbs[:5]
            out.append((issuer.whole, serial.value, name_text(subject), name_text(issuer)))
    return out


def _attributes(element):
    """{oid: [value elements]} of an attribute set ([0] or [1] implicit)."""
    found = {}
    for attribute in element.children():
        kind, values = attribute.children()[:2]
        found.setdefault(oid_text(kind.value), []).extend(values.children())
    return found


def _serial_hex(value):
    return value.lstrip(b"\0").hex().upper() or "00"


def _signer_info(element, certificates):
    """(what the SignerInfo says, its signed attributes, its unsigned attributes)."""
    fields = element.children()
    if len(fields) < 5:
        raise SignatureError("a SignerInfo has %d fields" % len(fields))
    issuer_serial = fields[1]
    if issuer_serial.tag == 0x30:
        issuer, serial = issuer_serial.children()[:2]
        issuer_der, serial_value = issuer.whole, serial.value
        issuer_text = name_text(issuer)
    else:  # subjectKeyIdentifier [0]
        issuer_der, serial_value, issuer_text = None, b"", ""
    signer = ""
    for cert_issuer, cert_serial, subject, cert_issuer_text in certificates:
        if cert_issuer == issuer_der and cert_serial == serial_value:
            signer = subject
    signed = unsigned = {}
    for field in fields[3:]:
        if field.tag == 0xA0:
            signed = _attributes(field)
        elif field.tag == 0xA1:
            unsigned = _attributes(field)
    digest = oid_text(fields[2].children()[0].value)
    return ({"signer": signer, "issuer": issuer_text, "serial": _serial_hex(serial_value),
             "digest": DIGESTS.get(digest, digest)}, signed, unsigned)


def _signed_data(content_info):
    """The children of the SignedData inside a ContentInfo element."""
    kind, explicit = content_info.children()[:2]
    if oid_text(kind.value) != OID_SIGNED_DATA:
        raise SignatureError("the content is %s, not signed data" % oid_text(kind.value))
    return explicit.children()[0].children()


def _opus(values):
    result = {"program_name": None, "program_name_form": None, "link": None, "link_form": None}
    if not values:
        return result
    for field in values[0].children():
        if field.tag == 0xA0:  # programName: SpcString
            choice = field.children()[0]
            if choice.tag == 0x80:
                result["program_name"] = choice.value.decode("utf-16-be", errors="replace")
                result["program_name_form"] = "Unicode (BMPString)"
            else:
                result["program_name"] = choice.value.decode("latin-1")
                result["program_name_form"] = "ASCII (IA5String)"
        elif field.tag == 0xA1:  # moreInfo: SpcLink
            choice = field.children()[0]
            if choice.tag == 0x80:
                result["link"], result["link_form"] = choice.value.decode("latin-1"), "URL"
            elif choice.tag == 0xA2:
                inner = choice.children()[0]
                text = inner.value.decode("utf-16-be" if inner.tag == 0x80 else "latin-1", errors="replace")
                result["link"], result["link_form"] = text, "file"
            else:
                result["link"], result["link_form"] = choice.value.hex(), "moniker"
    return result


def _rfc3161(token):
    """{time, authority, digest, serial} of an RFC 3161 time-stamp token."""
    children = _signed_data(token)
    encapsulated = [c for c in children if c.tag == 0x30][0]
    tst = encapsulated.children()[1].children()[0]  # [0] EXPLICIT OCTET STRING
    tst_info = _root(tst.value).children()
    generalized = [c for c in tst_info if c.tag == 0x18][0]
    certificates = _certificates(children)
    signer_infos = [c for c in children if c.tag == 0x31]
    authority = ""
    if signer_infos and signer_infos[-1].children():
        info, _, _ = _signer_info(signer_infos[-1].children()[0], certificates)
        authority = info["signer"] or info["issuer"]
    for field in tst_info:
        if field.tag == 0xA0 and not authority:  # tsa GeneralName: directoryName [4]
            inner = field.children()[0]
            if inner.tag == 0xA4:
                authority = name_text(inner.children()[0])
    return {"kind": "RFC 3161", "time": _time(generalized), "authority": authority}


def _countersignature(element, certificates):
    info, signed, _ = _signer_info(element, certificates)
    times = signed.get(OID_SIGNING_TIME, [])
    return {"kind": "PKCS #9 countersignature", "time": _time(times[0]) if times else None,
            "authority": info["signer"] or info["issuer"]}


def _describe(content_info, depth):
    children = _signed_data(content_info)
    certificates = _certificates(children)
    signer_sets = [c for c in children if c.tag == 0x31]
    if not signer_sets or not signer_sets[-1].children():
        raise SignatureError("the signature has no signer")
    info, signed, unsigned = _signer_info(signer_sets[-1].children()[0], certificates)
    info.update(_opus(signed.get(OID_OPUS_INFO, [])))
    info["timestamps"] = [_rfc3161(t) for t in unsigned.get(OID_RFC3161, [])]
    info["timestamps"] += [_countersignature(c, certificates) for c in unsigned.get(OID_COUNTERSIGNATURE, [])]
    nested = unsigned.get(OID_NESTED, [])
    if depth >= MAX_NESTING and nested:
        raise SignatureError("signatures nested more than %d deep" % MAX_NESTING)
    info["nested"] = [_describe(n, depth + 1) for n in nested]
    return info


def describe(data):
    try:
        return _describe(_root(data), 0)
    except (PeError, IndexError, ValueError) as e:
        raise SignatureError("the signature cannot be read: %s" % (e or type(e).__name__)) from e
