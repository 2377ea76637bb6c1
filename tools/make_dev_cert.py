#!/usr/bin/env python3
"""Makes the development signing certificate, once, with the openssl command.

    make_dev_cert.py DIR

Writes into DIR a self-made CA ("Carryall Development CA": ca.pem, ca.key) and a leaf
certificate it issued for code signing ("Carryall Development": leaf.pem, leaf.key), RSA
2048, valid for ten years. When all four files are there already nothing is done, so the
build can call this every time and the bootstrappers keep one signer.

A file signed with this leaf verifies only where the CA is trusted: under Wine, which does
not check the root, and on a Windows machine where someone installed ca.pem as a root.

Errors end the program with exit status 1; DIR then holds no partial set.
"""

import os
import shutil
import subprocess
import sys
import tempfile

FILES = ("ca.pem", "ca.key", "leaf.pem", "leaf.key")
DAYS = "3650"

CA_EXTENSIONS = """\
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
"""

LEAF_EXTENSIONS = """\
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""


def openssl(*args):
    result = subprocess.run(["openssl"] + list(args), capture_output=True)
    if result.returncode != 0:
        raise RuntimeError("openssl %s failed: %s" % (args[0], result.stderr.decode(errors="replace").strip()))


def make(directory):
    os.makedirs(directory, exist_ok=True)
    work = tempfile.mkdtemp(prefix=".dev_cert_", dir=directory)
    try:
        path = lambda name: os.path.join(work, name)
        for name, text in (("ca.ext", CA_EXTENSIONS), ("leaf.ext", LEAF_EXTENSIONS)):
            with open(path(name), "w") as f:
                f.write(text)
        openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", path("ca.key"),
                "-subj", "/CN=Carryall Development CA", "-out", path("ca.csr"))
        openssl("x509", "-req", "-in", path("ca.csr"), "-signkey", path("ca.key"), "-days", DAYS,
                "-sha256", "-extfile", path("ca.ext"), "-set_serial", "0x" + os.urandom(8).hex(),
                "-out", path("ca.pem"))
        openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", path("leaf.key"),
                "-subj", "/CN=Carryall Development", "-out", path("leaf.csr"))
        openssl("x509", "-req", "-in", path("leaf.csr"), "-CA", path("ca.pem"), "-CAkey", path("ca.key"),
                "-days", DAYS, "-sha256", "-extfile", path("leaf.ext"),
                "-set_serial", "0x" + os.urandom(8).hex(), "-out", path("leaf.pem"))
        for name in FILES:
            os.replace(path(name), os.path.join(directory, name))
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main(argv):
    if len(argv) != 1:
        print("usage: make_dev_cert.py DIR", file=sys.stderr)
        return 2
    directory = argv[0]
    if all(os.path.isfile(os.path.join(directory, name)) for name in FILES):
        return 0
    try:
        make(directory)
    except (OSError, RuntimeError) as e:
        for name in FILES:
            try:
                os.remove(os.path.join(directory, name))
            except OSError:
                pass
        print("make_dev_cert.py: error: %s" % e, file=sys.stderr)
        return 1
    print("make_dev_cert.py: made the development certificate in %s" % directory)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
