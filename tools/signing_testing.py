"""Shared by the signing tests and the end-to-end tests: a time-stamping authority on
127.0.0.1 (openssl ts behind a small HTTP handler) and a key made on a SoftHSM token, with
certificates issued by a given CA. Everything lives in a folder the caller owns."""

import http.server
import os
import shutil
import subprocess
import threading

SOFTHSM_MODULES = ("/usr/lib/softhsm/libsofthsm2.so", "/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so")
PIN = "4711"

TSA_EXTENSIONS = """\
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
"""

LEAF_EXTENSIONS = """\
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
"""

TSA_CONFIG = """\
[ tsa ]
default_tsa = local
[ local ]
serial = {dir}/serial
signer_cert = {dir}/tsa.pem
certs = {dir}/tsa_ca.pem
signer_key = {dir}/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha1
accuracy = secs:1
ordering = no
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


def openssl(*args, env=None):
    result = subprocess.run(["openssl"] + list(args), capture_output=True, env=env)
    if result.returncode != 0:
        raise RuntimeError("openssl %s: %s" % (args[0], result.stderr.decode(errors="replace")))
    return result.stdout


def issue(directory, name, subject, ca_pem, ca_key, extensions, days="3650", serial=None, csr=None, env=None):
    """Makes name.pem (and name.key unless a CSR is given) in directory, issued by the CA."""
    path = lambda suffix: os.path.join(directory, name + suffix)
    with open(path(".ext"), "w") as f:
        f.write(extensions)
    if csr is None:
        openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", path(".key"), "-subj", subject,
                "-out", path(".csr"))
        csr = path(".csr")
    openssl("x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key, "-days", days, "-sha256",
            "-extfile", path(".ext"), "-set_serial", serial or "0x" + os.urandom(8).hex(), "-out", path(".pem"),
            env=env)
    return path(".pem")


class Authority:
    """An RFC 3161 authority at self.url. mode: "ok" answers with openssl ts; "garbage"
    answers bytes that are no response; "error" answers HTTP 500."""

    def __init__(self, directory, mode="ok"):
        self.dir = directory
        self.mode = mode
        os.makedirs(directory, exist_ok=True)
        ca = os.path.join(directory, "tsa_ca")
        openssl("req", "-new", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca + ".key",
                "-subj", "/CN=Carryall Test TSA CA", "-days", "7300", "-out", ca + ".pem")
        issue(directory, "tsa", "/CN=Carryall Test TSA", ca + ".pem", ca + ".key", TSA_EXTENSIONS, days="7000")
        self.ca = ca + ".pem"
        with open(os.path.join(directory, "serial"), "w") as f:
            f.write("01\n")
        self.config = os.path.join(directory, "tsa.cnf")
        with open(self.config, "w") as f:
            f.write(TSA_CONFIG.format(dir=directory))
        self.requests = 0
        authority = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
                authority.requests += 1
                if authority.mode == "error":
                    self.send_error(500, "Broken on purpose")
                    return
                answer = b"\x30\x03\x02\x01\x00" if authority.mode == "garbage" else authority.reply(body)
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(answer)))
                self.end_headers()
                self.wfile.write(answer)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/" % self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def reply(self, query):
        query_path = os.path.join(self.dir, "query.der")
        with open(query_path, "wb") as f:
            f.write(query)
        return openssl("ts", "-reply", "-config", self.config, "-queryfile", query_path)

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def softhsm_module():
    for path in SOFTHSM_MODULES:
        if os.path.exists(path):
            return path
    return None


class Token:
    """A SoftHSM token in directory with an RSA key "signkey" that never leaves it, and
    leaf certificates for it issued by a CA. self.env is the environment for the tools:
    SoftHSM's configuration and the PIN."""

    def __init__(self, directory):
        self.module = softhsm_module()
        os.makedirs(os.path.join(directory, "tokens"), exist_ok=True)
        self.dir = directory
        config = os.path.join(directory, "softhsm2.conf")
        with open(config, "w") as f:
            f.write("directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n"
                    % os.path.join(directory, "tokens"))
        self.env = dict(os.environ, SOFTHSM2_CONF=config, CARRYALL_PKCS11_PIN=PIN)
        subprocess.run(["softhsm2-util", "--init-token", "--free", "--label", "carryall", "--pin", PIN,
                        "--so-pin", "123456"], env=self.env, check=True, capture_output=True)
        subprocess.run(["pkcs11-tool", "--module", self.module, "--login", "--pin", PIN, "--keypairgen",
                        "--key-type", "rsa:2048", "--label", "signkey", "--id", "01"],
                       env=self.env, check=True, capture_output=True)
        self.uri = "pkcs11:token=carryall;object=signkey;type=private"

    def certificate(self, name, ca_pem, ca_key, days="3650", serial=None):
        """A leaf certificate for the token's key, issued by the CA."""
        env = dict(self.env, PKCS11_MODULE_PATH=self.module)
        csr = os.path.join(self.dir, name + ".csr")
        openssl("req", "-new", "-engine", "pkcs11", "-keyform", "engine", "-key", self.uri,
                "-passin", "env:CARRYALL_PKCS11_PIN", "-subj", "/CN=Carryall Token Publisher", "-out", csr, env=env)
        return issue(self.dir, name, None, ca_pem, ca_key, LEAF_EXTENSIONS, days=days, serial=serial, csr=csr)


def have_token_tools():
    return softhsm_module() is not None and all(
        shutil.which(t) for t in ("softhsm2-util", "pkcs11-tool", "openssl")) and any(
        os.path.exists(os.path.join(d, "pkcs11.so")) for d in (
            "/usr/lib/x86_64-linux-gnu/engines-3", "/usr/lib/i386-linux-gnu/engines-3",
            "/usr/lib/aarch64-linux-gnu/engines-3"))
