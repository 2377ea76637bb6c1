#!/usr/bin/env python3
"""Signs a PE file with an Authenticode signature.

    sign_exe.py IN OUT --cert CERT --key KEY [--chain CHAIN] [--name TEXT] [--url URL]
                       [--timestamp URL]...
    sign_exe.py IN OUT --cert CERT --key pkcs11:URI --pkcs11-module LIB [...as above]
    sign_exe.py IN OUT --command TEMPLATE

CERT is the signing (leaf) certificate, first in its file, and CHAIN a file of further
certificates to carry in the signature (the issuing CA and any intermediates), both PEM.
KEY is the leaf's RSA private key: a PEM file without a pass phrase, or a key on a token
named by an RFC 7512 pkcs11: URI, used through openssl's PKCS#11 engine with the module
LIB; the token's PIN is read from the environment variable CARRYALL_PKCS11_PIN and never
appears on a command line. The signature holds:

  - the SHA-256 Authenticode hash of the file: every byte up to the certificate table,
    except the optional header's checksum and the security directory entry;
  - signed attributes: content type, message digest, the opus info (program name TEXT as
    a Unicode SpcString, which Windows and Wine both decode; more-info link URL; each
    left out when not given) and the statement type "individual code signing";
  - an RSA signature over those attributes, made with the openssl command;
  - the certificates: CERT's file, then CHAIN's, in file order, each once;
  - with --timestamp, an RFC 3161 timestamp of the signature value as the signer's
    unsigned attribute 1.3.6.1.4.1.311.3.3.1 (see timestamp.py). The authorities are
    tried in order; when none gives a timestamp that verifies, nothing is written.

Without a timestamp, a signature stops verifying when its certificate expires; signing
with any certificate but the development one without --timestamp warns of that.

--command TEMPLATE signs with the publisher's own tool instead (see sign_command.py):
{file} is a file it signs in place, {in} and {out} the file it signs and the one it
writes. That tool sets the program name, link and timestamp.

OUT is IN with any old certificate table removed, zero bytes up to a multiple of 8, then
one WIN_CERTIFICATE entry (revision 0x0200, PKCS #7 signed data) padded to a multiple of
8; the security directory points at it and the PE checksum is recomputed. IN and OUT may
be the same file. OUT is written whole or not at all.

An information block that tools/tag_exe.py wrote is kept, so that the bootstrapper still
hands it to the wizard: it goes at the end of the new certificate table, after the
signature and the zero bytes that keep the table a multiple of 8 bytes long, as
tag_exe.py puts it into a signed file. The block of a signed IN is what follows its
signature inside its certificate table; that of an unsigned IN, a block that ends the
file after its PE image (other data after the image stays part of the signed image).
A signed IN whose certificate table cannot be read, holds a second entry or other bytes
after its signature, or is followed by data is refused rather than have those bytes
dropped.

Errors end the program with exit status 1, usage errors with 2.
"""

import argparse
import base64
import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile

import info_block
import pe_image
import sign_command
import timestamp
from pe_image import PeError

OID_SHA256 = "2.16.840.1.101.3.4.2.1"
OID_RSA_ENCRYPTION = "1.2.840.113549.1.1.1"
OID_SIGNED_DATA = "1.2.840.113549.1.7.2"
OID_CONTENT_TYPE = "1.2.840.113549.1.9.3"
OID_MESSAGE_DIGEST = "1.2.840.113549.1.9.4"
OID_SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
OID_SPC_STATEMENT_TYPE = "1.3.6.1.4.1.311.2.1.11"
OID_SPC_SP_OPUS_INFO = "1.3.6.1.4.1.311.2.1.12"
OID_SPC_PE_IMAGE_DATA = "1.3.6.1.4.1.311.2.1.15"
OID_SPC_INDIVIDUAL_CODE_SIGNING = "1.3.6.1.4.1.311.2.1.21"

# The environment variable that holds a token's PIN.
PIN_VARIABLE = "CARRYALL_PKCS11_PIN"
# The issuer of the certificates that make_dev_cert.py makes.
DEVELOPMENT_CA = "Carryall Development CA"
DEVELOPMENT_LEAF = "Carryall Development"

PEM_CERTIFICATE = re.compile(
    rb"-----BEGIN CERTIFICATE-----\s*(.*?)-----END CERTIFICATE-----", re.S)


class SignError(Exception):
    pass


# --- DER encoding ------------------------------------------------------------------------

# One DER element: the tag, the definite length, the content (pe_image's, shared with
# the timestamp request).
der = pe_image.der


def seq(*items):
    return der(0x30, b"".join(items))


def set_of(*items):
    """A DER SET OF: the elements in ascending order of their encodings."""
    return der(0x31, b"".join(sorted(items)))


def oid(dotted):
    parts = [int(p) for p in dotted.split(".")]
    body = bytearray([40 * parts[0] + parts[1]])
    for part in parts[2:]:
        chunk = [part & 0x7F]
        part >>= 7
        while part:
            chunk.append(0x80 | (part & 0x7F))
            part >>= 7
        body += bytes(reversed(chunk))
    return der(0x06, bytes(body))


def integer(value):
    return der(0x02, value.to_bytes(value.bit_length() // 8 + 1, "big"))


NULL = der(0x05, b"")


def octets(data):
    return der(0x04, data)


def algorithm(dotted):
    return seq(oid(dotted), NULL)


def attribute(dotted, value):
    return seq(oid(dotted), set_of(value))


# --- Authenticode structures -------------------------------------------------------------

def spc_indirect_data(digest):
    # SpcPeImageData: flags (empty bit string), file = SpcLink file choice [2] holding the
    # Unicode SpcString "<<<Obsolete>>>", the form that signing tools have always written.
    obsolete = der(0x80, "<<<Obsolete>>>".encode("utf-16-be"))
    pe_image_data = seq(der(0x03, b"\x00"), der(0xA0, der(0xA2, obsolete)))
    return seq(seq(oid(OID_SPC_PE_IMAGE_DATA), pe_image_data),
               seq(algorithm(OID_SHA256), octets(digest)))


def opus_info(name, url):
    """SpcSpOpusInfo: programName [0] EXPLICIT SpcString (unicode choice, [0] IMPLICIT
    BMPString), moreInfo [1] EXPLICIT SpcLink (url choice, [0] IMPLICIT IA5String)."""
    fields = b""
    if name:
        fields += der(0xA0, der(0x80, name.encode("utf-16-be")))
    if url:
        fields += der(0xA1, der(0x80, url.encode("ascii")))
    return seq(fields)


def authenticated_attributes(content_digest, name, url):
    """The signed attributes, as the DER SET OF that the signature covers."""
    return set_of(
        attribute(OID_CONTENT_TYPE, oid(OID_SPC_INDIRECT_DATA)),
        attribute(OID_MESSAGE_DIGEST, octets(content_digest)),
        attribute(OID_SPC_SP_OPUS_INFO, opus_info(name, url)),
        attribute(OID_SPC_STATEMENT_TYPE, seq(oid(OID_SPC_INDIVIDUAL_CODE_SIGNING))))


def signed_data(indirect, attributes, signature, issuer, serial, certificates, timestamp_token=None):
    """The PKCS #7 ContentInfo of the signature. issuer and serial are the leaf
    certificate's own DER elements, copied unchanged. A timestamp token goes into the
    signer's unsigned attributes ([1] IMPLICIT SET OF Attribute)."""
    unsigned = b""
    if timestamp_token:
        unsigned = der(0xA1, attribute(timestamp.OID_RFC3161_COUNTERSIGN, timestamp_token))
    signer = seq(
        integer(1),
        seq(issuer, serial),
        algorithm(OID_SHA256),
        b"\xA0" + attributes[1:],  # [0] IMPLICIT: the same SET with the context tag
        algorithm(OID_RSA_ENCRYPTION),
        octets(signature),
        unsigned)
    body = seq(
        integer(1),
        set_of(algorithm(OID_SHA256)),
        seq(oid(OID_SPC_INDIRECT_DATA), der(0xA0, indirect)),
        der(0xA0, b"".join(certificates)),
        set_of(signer))
    return seq(oid(OID_SIGNED_DATA), der(0xA0, body))


def der_content(element):
    _, start, end = pe_image.der_header(element, 0)
    return element[start:end]


# --- certificates and the key ------------------------------------------------------------

def read_certificates(path, what):
    try:
        with open(path, "rb") as f:
            text = f.read()
    except OSError as e:
        raise SignError("%s %s: cannot read: %s" % (what, path, e.strerror))
    blocks = PEM_CERTIFICATE.findall(text)
    if not blocks:
        raise SignError("%s %s holds no PEM certificate" % (what, path))
    certificates = []
    for block in blocks:
        try:
            certificate = base64.b64decode(b"".join(block.split()), validate=True)
            tag, _, end = pe_image.der_header(certificate, 0)
        except (ValueError, PeError):
            raise SignError("%s %s holds a damaged PEM certificate" % (what, path))
        if tag != 0x30 or end != len(certificate):
            raise SignError("%s %s holds a damaged PEM certificate" % (what, path))
        certificates.append(certificate)
    return certificates


def certificate_fields(certificate):
    """The TBSCertificate's fields after the version: serial, signature algorithm, issuer,
    validity, subject, public key, ... as (tag, start, content start, end)."""
    _, start, end = pe_image.der_header(certificate, 0)
    tbs = pe_image.der_children(certificate, start, end)[0]
    fields = pe_image.der_children(certificate, tbs[2], tbs[3])
    return fields[1:] if fields[0][0] == 0xA0 else fields


def expiry(certificate):
    """The certificate's notAfter as YYYY-MM-DD, or "its expiry" when it cannot be read."""
    try:
        validity = certificate_fields(certificate)[3]
        not_after = pe_image.der_children(certificate, validity[2], validity[3])[1]
        text = bytes(certificate[not_after[2]:not_after[3]]).decode("ascii")
    except (PeError, IndexError, UnicodeDecodeError):
        return "its expiry"
    if not_after[0] == 0x17:  # UTCTime: two-digit years from 1950
        text = ("19" if text[:2] >= "50" else "20") + text
    return "%s-%s-%s" % (text[0:4], text[4:6], text[6:8])


def is_development(certificate):
    """Whether the certificate is the development leaf that make_dev_cert.py makes: its
    subject's one name is "Carryall Development", issued by the development CA."""
    try:
        fields = certificate_fields(certificate)
        issuer, subject = fields[2], fields[4]
    except (PeError, IndexError):
        return False
    name = DEVELOPMENT_LEAF.encode()
    return (DEVELOPMENT_CA.encode() in bytes(certificate[issuer[1]:issuer[3]])
            and bytes(certificate[subject[1]:subject[3]]).endswith(bytes([0x0C, len(name)]) + name))


def issuer_and_serial(certificate, path):
    """The DER issuer Name and serial number INTEGER of a certificate, and whether its key
    is an RSA key."""
    try:
        fields = certificate_fields(certificate)
        serial, issuer, spki = fields[0], fields[2], fields[5]
        key_algorithm = pe_image.der_children(certificate, spki[2], spki[3])[0]
        algorithm_oid = pe_image.der_children(certificate, key_algorithm[2], key_algorithm[3])[0]
    except (PeError, IndexError):
        raise SignError("certificate %s cannot be read" % path)
    if serial[0] != 0x02 or issuer[0] != 0x30:
        raise SignError("certificate %s cannot be read" % path)
    rsa = certificate[algorithm_oid[1]:algorithm_oid[3]] == oid(OID_RSA_ENCRYPTION)
    return certificate[issuer[1]:issuer[3]], certificate[serial[1]:serial[3]], rsa


def openssl(args, what, data=None, env=None):
    try:
        result = subprocess.run(["openssl"] + args, input=data, capture_output=True, env=env)
    except FileNotFoundError:
        raise SignError("the openssl command is not installed")
    if result.returncode != 0:
        message = result.stderr.decode(errors="replace").strip().splitlines()
        raise SignError("%s: %s" % (what, message[0] if message else "openssl failed"))
    return result.stdout


def rsa_sign(data, key_path, certificate, workdir, pkcs11_module=None):
    """The PKCS #1 v1.5 SHA-256 signature of data with the key, checked against the
    certificate's public key, so that a key of another certificate is refused here and
    not by whoever verifies the file later.

    A key on a token (a pkcs11: URI) signs through openssl's PKCS#11 engine with the
    module pkcs11_module; the PIN reaches openssl as the name of the environment variable
    that holds it, never on a command line."""
    signature_path = os.path.join(workdir, "signature.bin")
    if pkcs11_module:
        if PIN_VARIABLE not in os.environ:
            raise SignError("key %s: set the environment variable %s to the token's PIN" % (key_path, PIN_VARIABLE))
        env = dict(os.environ, PKCS11_MODULE_PATH=pkcs11_module)
        data_path = os.path.join(workdir, "attributes.der")
        with open(data_path, "wb") as f:
            f.write(data)
        openssl(["dgst", "-sha256", "-engine", "pkcs11", "-keyform", "engine", "-sign", key_path,
                 "-passin", "env:" + PIN_VARIABLE, "-out", signature_path, data_path],
                "key %s cannot sign" % key_path, env=env)
        with open(signature_path, "rb") as f:
            signature = f.read()
    else:
        signature = openssl(["dgst", "-sha256", "-sign", key_path, "-passin", "pass:"],
                            "key %s cannot sign" % key_path, data)
    certificate_path = os.path.join(workdir, "leaf.der")
    public_key = os.path.join(workdir, "leaf.pub")
    with open(certificate_path, "wb") as f:
        f.write(certificate)
    with open(signature_path, "wb") as f:
        f.write(signature)
    openssl(["x509", "-inform", "DER", "-in", certificate_path, "-pubkey", "-noout", "-out", public_key],
            "the certificate's public key cannot be read")
    try:
        openssl(["dgst", "-sha256", "-verify", public_key, "-signature", signature_path],
                "check", data)
    except SignError:
        raise SignError("key %s does not belong to the certificate" % key_path)
    return signature


# --- signing ---------------------------------------------------------------------------

def information_block(data, layout):
    """(where the signed image of data ends, the information block to keep or b"")."""
    if not layout.signed:
        start = info_block.trailing_block(data, layout.image_end, len(data))
        if start is None:
            return len(data), b""
        return start, bytes(data[start:])
    try:
        table = info_block.SignedTable(data, layout)
    except info_block.DamagedTable as e:
        raise SignError("%s; re-signing would drop what it holds" % e)
    return layout.cert_offset, table.block


class Signer:
    """The signature's settings, read and checked before any file is."""

    def __init__(self, cert_path, key_path, chain_path, name, url, pkcs11_module=None, timestamp_urls=()):
        certificates = read_certificates(cert_path, "certificate")
        if chain_path:
            certificates += [c for c in read_certificates(chain_path, "chain file") if c not in certificates]
        self.issuer, self.serial, rsa = issuer_and_serial(certificates[0], cert_path)
        if not rsa:
            raise SignError("certificate %s does not hold an RSA key; only RSA keys are supported" % cert_path)
        self.certificates = certificates
        self.key_path = key_path
        self.pkcs11_module = pkcs11_module
        self.timestamp_urls = list(timestamp_urls)
        self.timestamped = None  # (time, authority) once a timestamp was added
        self.name = name
        self.url = url

    def entry(self, digest, block):
        """The WIN_CERTIFICATE entry that signs an image with this Authenticode digest and
        keeps the information block: the block ends the file, where the bootstrapper looks
        for it, and the padding to a multiple of 8 goes between it and the signature."""
        indirect = spc_indirect_data(digest)
        content_digest = hashlib.sha256(der_content(indirect)).digest()
        attributes = authenticated_attributes(content_digest, self.name, self.url)
        with tempfile.TemporaryDirectory(prefix="sign_exe_") as workdir:
            signature = rsa_sign(attributes, self.key_path, self.certificates[0], workdir, self.pkcs11_module)
        token = None
        if self.timestamp_urls:
            try:
                token, when, authority = timestamp.fetch(self.timestamp_urls, signature)
            except timestamp.TimestampError as e:
                raise SignError(str(e))
            self.timestamped = (when, authority)
        blob = signed_data(indirect, attributes, signature, self.issuer, self.serial, self.certificates, token)
        length = pe_image.WIN_CERTIFICATE_HEADER + len(blob) + len(block)
        length += -length % 8
        padding = b"\0" * (length - pe_image.WIN_CERTIFICATE_HEADER - len(blob) - len(block))
        return pe_image.win_certificate_header(length) + blob + padding + block


def sign(in_path, out_path, signer):
    """Writes out_path: in_path without its certificate table and information block,
    padded with zero bytes to a multiple of 8, then the new certificate table. The file
    streams through once: hashed, summed for the checksum and written as it goes; the
    security directory and the checksum are written last, over the zeros they start as.
    IN is closed before OUT replaces it: they may be the same file, and Windows replaces
    no file that is open."""
    with pe_image.whole_file(out_path, in_path) as out:
        _sign_into(out, in_path, signer)


def _sign_into(out, in_path, signer):
    with pe_image.mapped(in_path) as data, open(in_path, "rb") as source:
        try:
            layout = pe_image.parse(data)
        except PeError as e:
            raise SignError("%s: %s" % (in_path, e))
        try:
            end, block = information_block(data, layout)
        except SignError as e:
            raise SignError("%s: %s" % (in_path, e))
        head = bytearray(data[:layout.security_entry_offset + 8])
        digest = hashlib.sha256()
        total = pe_image.Checksum()
        excluded = pe_image.authenticode_excluded(layout)

        def each(chunk, offset):
            pe_image.hash_excluding(digest, chunk, offset, excluded)
            total.add(chunk, offset)

        struct.pack_into("<I", head, layout.checksum_offset, 0)
        pe_image.set_security_directory(head, layout, 0, 0)
        each(head, 0)
        out.write(head)
        pe_image.copy_range(source, out, len(head), end, each)
        padding = bytes(-end % 8)
        each(padding, end)
        out.write(padding)
        image_size = end + len(padding)

        entry = signer.entry(digest.digest(), block)
        total.add(entry, image_size)
        out.write(entry)
        directory = struct.pack("<II", image_size, len(entry))
        total.add(directory, layout.security_entry_offset)
        out.seek(layout.security_entry_offset)
        out.write(directory)
        out.seek(layout.checksum_offset)
        out.write(struct.pack("<I", total.value(image_size + len(entry))))


def text_argument(value, option, encoding):
    """value encoded, or SignError: a byte of the command line that is not UTF-8 reaches
    Python as a lone surrogate, which no encoding takes."""
    try:
        return value.encode(encoding)
    except UnicodeEncodeError as e:
        bad = value[e.start:e.end]
        if any(0xDC80 <= ord(c) <= 0xDCFF for c in bad):
            raise SignError("%s holds a byte that is not UTF-8 (0x%02X)" % (option, ord(bad[0]) - 0xDC00))
        raise SignError("%s must be ASCII (percent-encode other characters): %r" % (option, value))


def main(argv, prog='sign_exe.py'):
    parser = argparse.ArgumentParser(
        prog=prog,
        description="Sign a PE file with an Authenticode signature, keeping its information block.",
        epilog="A key on a token: --key 'pkcs11:...' --pkcs11-module LIB, PIN in the environment "
               "variable %s. The publisher's own signer: --command TEMPLATE, where {file} is a file "
               "signed in place, or {in} and {out} the file to sign and the one to write." % PIN_VARIABLE)
    parser.add_argument("input", metavar="IN", help="the file to sign")
    parser.add_argument("output", metavar="OUT", help="the signed file to write (may be IN)")
    parser.add_argument("--cert", help="the signing certificate, PEM")
    parser.add_argument("--key", help="its RSA private key: a PEM file without pass phrase, or a pkcs11: URI")
    parser.add_argument("--pkcs11-module", metavar="LIB", help="the PKCS#11 module of a pkcs11: key")
    parser.add_argument("--chain", default="", help="further certificates to include, PEM")
    parser.add_argument("--command", metavar="TEMPLATE",
                        help="sign with this command instead, run without a shell")
    parser.add_argument("--name", default="", help="program name in the signature")
    parser.add_argument("--url", default="", help="more-information link in the signature")
    parser.add_argument("--timestamp", metavar="URL", action="append", default=[],
                        help="RFC 3161 time-stamping authority; may be repeated (tried in order)")
    args = parser.parse_args(argv)

    if args.command is not None:
        given = [o for o, v in (("--cert", args.cert), ("--key", args.key), ("--chain", args.chain),
                                ("--pkcs11-module", args.pkcs11_module), ("--name", args.name),
                                ("--url", args.url), ("--timestamp", args.timestamp)) if v]
        if given:
            parser.error("--command signs with the publisher's own tool: give %s to that tool's command "
                         "instead" % ", ".join(given))
    else:
        if not args.cert or not args.key:
            parser.error("give --cert and --key, or --command")
        pkcs11 = args.key.lower().startswith("pkcs11:")
        if pkcs11 and not args.pkcs11_module:
            parser.error("a pkcs11: key needs --pkcs11-module LIB")
        if args.pkcs11_module and not pkcs11:
            parser.error("--pkcs11-module applies to a pkcs11: key only")
    try:
        if args.command is not None:
            result = sign_command.sign(args.input, args.output, args.command)
            if not result.timestamped and not result.development:
                warn_untimestamped(args.output, result.expiry, prog)
            return 0
        name = text_argument(args.name, "--name", "utf-16-be").decode("utf-16-be")
        url = text_argument(args.url, "--url", "ascii").decode("ascii")
        signer = Signer(args.cert, args.key, args.chain, name, url, args.pkcs11_module, args.timestamp)
        sign(args.input, args.output, signer)
        if signer.timestamped:
            print(prog + ": %s: timestamp %s from %s" % ((args.output,) + signer.timestamped))
        elif not is_development(signer.certificates[0]):
            warn_untimestamped(args.output, expiry(signer.certificates[0]), prog)
    except (SignError, PeError, sign_command.CommandError) as e:
        print(prog + ": error: %s" % e, file=sys.stderr)
        return 1
    except OSError as e:
        print(prog + ": error: %s: %s" % (e.filename or args.output, e.strerror), file=sys.stderr)
        return 1
    return 0


def warn_untimestamped(path, when, prog="sign_exe.py"):
    print(prog + ": warning: %s has no timestamp: its signature stops verifying when the certificate "
          "expires (%s), and from then on Windows treats the bootstrapper as unsigned and a silent run "
          "stops; sign with --timestamp URL" % (path, when), file=sys.stderr)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
