"""Signing through the publisher's own command (signtool, AzureSignTool, jsign,
osslsigncode), with the information block kept and the result checked.

The template names the file to sign as {file} (a command that signs it in place) or as
{in} with {out} (a command that writes a new file). It runs without a shell: on Windows
the template is the command line itself, with the placeholders replaced by quoted paths;
elsewhere it is split into words as a POSIX shell would, and placeholders are replaced
inside each word.

The command gets IN without its information block, in a temporary folder beside OUT.
Its result must carry one signature whose Authenticode digest is that of the very image
that went in, and the image must be unchanged byte for byte (only the checksum, the
security directory and zero bytes up to a multiple of 8 may differ); anything else is
refused. The block then goes back into the new certificate table, and OUT is replaced as
a whole.
"""

import hashlib
import os
import shlex
import shutil
import subprocess
import tempfile

import info_block
import pe_image
from pe_image import PeError

PLACEHOLDERS = ("{file}", "{in}", "{out}")
DIGESTS = {
    "2b0e03021a": hashlib.sha1,
    "608648016503040201": hashlib.sha256,
    "608648016503040202": hashlib.sha384,
    "608648016503040203": hashlib.sha512,
}
TIMESTAMP_ATTRIBUTES = (bytes.fromhex("2b0601040182370303 01".replace(" ", "")),  # RFC 3161 (Microsoft)
                        bytes.fromhex("2a864886f70d010906"))  # PKCS #9 countersignature


class CommandError(Exception):
    pass


class Result:
    def __init__(self, timestamped, development, expiry):
        self.timestamped = timestamped
        self.development = development
        self.expiry = expiry


def command_line(template, paths):
    """The command to run for the template with the placeholders' paths."""
    used = [p for p in PLACEHOLDERS if p in template]
    if "{file}" in used and len(used) > 1 or used in ([], ["{in}"], ["{out}"]):
        raise CommandError("the --command template must name {file}, or both {in} and {out}: %s" % template)
    if os.name == "nt":
        line = template
        for placeholder in used:
            line = line.replace(placeholder, subprocess.list2cmdline([paths[placeholder]]))
        return line
    try:
        words = shlex.split(template)
    except ValueError as e:
        raise CommandError("the --command template cannot be split into words (%s): %s" % (e, template))
    if not words:
        raise CommandError("the --command template is empty")
    for placeholder in used:
        words = [w.replace(placeholder, paths[placeholder]) for w in words]
    return words


def _child(data, element, index):
    return pe_image.der_children(data, element[2], element[3])[index]


def read_signature(data, layout):
    """(digest algorithm's hash constructor, digest, whether the signer carries a
    timestamp, the PKCS #7 blob) of a signed file's first signature; CommandError when it
    is not an Authenticode signature."""
    at = layout.cert_offset + pe_image.WIN_CERTIFICATE_HEADER
    try:
        end = pe_image.signature_blob_end(data, layout)
        blob = bytes(data[at:end])
        content_info = pe_image.der_children(blob, 0, len(blob))[0]
        signed = _child(blob, _child(blob, content_info, 1), 0)
        fields = pe_image.der_children(blob, signed[2], signed[3])
        indirect = _child(blob, _child(blob, fields[2], 1), 0)
        digest_info = _child(blob, indirect, 1)
        algorithm = _child(blob, _child(blob, digest_info, 0), 0)
        digest = blob[_child(blob, digest_info, 1)[2]:_child(blob, digest_info, 1)[3]]
        signers = pe_image.der_children(blob, fields[-1][2], fields[-1][3])
        signer = pe_image.der_children(blob, signers[0][2], signers[0][3])
        unsigned = [e for e in signer if e[0] == 0xA1]
        timestamped = bool(unsigned) and any(
            o in blob[unsigned[0][2]:unsigned[0][3]] for o in TIMESTAMP_ATTRIBUTES)
    except (PeError, IndexError) as e:
        raise CommandError("its signature cannot be read (%s)" % e)
    hash_of = DIGESTS.get(blob[algorithm[2]:algorithm[3]].hex())
    if hash_of is None:
        raise CommandError("its signature uses a digest algorithm that is not known here")
    return hash_of, digest, timestamped, blob


def _same_image(before, after, layout_before, layout_after, image_end):
    """Whether after holds before's image_end bytes unchanged but for the checksum and the
    security directory, then only zero bytes up to its certificate table."""
    excluded = pe_image.authenticode_excluded(layout_after)
    if layout_before.checksum_offset != layout_after.checksum_offset or \
            layout_before.security_entry_offset != layout_after.security_entry_offset:
        return False
    if not image_end <= layout_after.cert_offset < image_end + 8 or len(after) < image_end:
        return False
    at = 0
    for start, end in excluded + [(image_end, image_end)]:
        for chunk in range(at, start, pe_image.CHUNK):
            stop = min(chunk + pe_image.CHUNK, start)
            if before[chunk:stop] != after[chunk:stop]:
                return False
        at = end
    return not any(after[image_end:layout_after.cert_offset])


def _digest(data, layout, hash_of):
    digest = hash_of()
    excluded = pe_image.authenticode_excluded(layout)
    for at in range(0, layout.cert_offset, pe_image.CHUNK):
        pe_image.hash_excluding(digest, data[at:min(at + pe_image.CHUNK, layout.cert_offset)], at, excluded)
    return digest.digest()


def sign(in_path, out_path, template):
    """Signs in_path into out_path with the command; a Result. in_path is closed before
    out_path is replaced, which may be the same file (Windows replaces no open file)."""
    directory = os.path.dirname(os.path.abspath(out_path))
    try:
        work = tempfile.mkdtemp(prefix=".carryall_sign_", dir=directory)
    except OSError as e:
        raise CommandError("%s: cannot write: %s" % (out_path, e.strerror))
    try:
        unsigned = os.path.join(work, os.path.basename(in_path))
        block = _untagged_copy(in_path, unsigned)
        return _run_and_keep(unsigned, out_path, template, work, block, in_path)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def _untagged_copy(in_path, unsigned):
    """Writes in_path without its information block to unsigned; the block."""
    with pe_image.mapped(in_path) as data, open(in_path, "rb") as source:
        try:
            layout = pe_image.parse(data)
        except PeError as e:
            raise CommandError("%s: %s" % (in_path, e))
        if layout.signed:
            try:
                table = info_block.SignedTable(data, layout)
            except info_block.DamagedTable as e:
                raise CommandError("%s: %s; re-signing would drop what it holds" % (in_path, e))
            block = table.block
        else:
            start = info_block.trailing_block(data, layout.image_end, len(data))
            block = b"" if start is None else bytes(data[start:])
        with open(unsigned, "w+b") as f:
            if layout.signed:
                info_block.write_signed(f, source, data, layout, table.blob_end, b"")
            else:
                pe_image.copy_range(source, f, 0, len(data) - len(block))
    return block


def _run_and_keep(unsigned, out_path, template, work, block, in_path):
    if "{file}" in template:
        signed = os.path.join(work, "signing", os.path.basename(unsigned))
        os.mkdir(os.path.dirname(signed))
        shutil.copyfile(unsigned, signed)
        paths = {"{file}": signed}
    else:
        signed = os.path.join(work, "signed-" + os.path.basename(unsigned))
        paths = {"{in}": unsigned, "{out}": signed}
    command = command_line(template, paths)
    shown = command if isinstance(command, str) else command[0]
    try:
        ran = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True)
    except OSError as e:
        raise CommandError("the signing command %s cannot run: %s" % (shown, e.strerror))
    if ran.returncode != 0:
        lines = (ran.stderr or ran.stdout).decode(errors="replace").strip().splitlines()
        raise CommandError("the signing command %s failed with exit status %d%s"
                           % (shown, ran.returncode, ": " + lines[-1] if lines else ""))
    if not os.path.isfile(signed):
        raise CommandError("the signing command %s wrote no file %s" % (shown, signed))
    refused = "the signing command's result %s" % in_path
    with pe_image.mapped(unsigned) as before, pe_image.mapped(signed) as after:
        layout_before = pe_image.parse(before)
        old_table = bytes(before[layout_before.cert_offset:layout_before.cert_offset + layout_before.cert_size])
        try:
            layout_after = pe_image.parse(after)
        except PeError as e:
            raise CommandError("%s is no longer a PE file (%s)" % (refused, e))
        nothing = "%s carries no new signature: the command signed nothing" % refused
        if not layout_after.signed:
            raise CommandError(nothing)
        image_end = layout_before.cert_offset if layout_before.signed else len(before)
        if not _same_image(before, after, layout_before, layout_after, image_end):
            raise CommandError("%s changed the image, not only its signature" % refused)
        if layout_before.signed and old_table == bytes(
                after[layout_after.cert_offset:layout_after.cert_offset + layout_after.cert_size]):
            raise CommandError(nothing)
        try:
            table = info_block.SignedTable(after, layout_after)
        except info_block.DamagedTable as e:
            raise CommandError("%s: %s" % (refused, e))
        if table.block:
            raise CommandError("%s holds bytes after its signature" % refused)
        hash_of, digest, timestamped, blob = read_signature(after, layout_after)
        if _digest(after, layout_after, hash_of) != digest:
            raise CommandError("%s carries a signature over another image" % refused)
        with open(signed, "rb") as source, pe_image.whole_file(out_path, in_path) as out:
            info_block.write_signed(out, source, after, layout_after, table.blob_end, block)
    leaf = _first_certificate(blob)
    import sign_exe  # the certificate readers live with the signer (which imports this module)
    if leaf is None:
        return Result(timestamped, False, "its expiry")
    return Result(timestamped, sign_exe.is_development(leaf), sign_exe.expiry(leaf))


def _first_certificate(blob):
    """The DER of the signer's certificate: the one whose serial number the signer names
    (the first certificate when none matches), or None."""
    import sign_exe
    try:
        content_info = pe_image.der_children(blob, 0, len(blob))[0]
        signed = _child(blob, _child(blob, content_info, 1), 0)
        fields = pe_image.der_children(blob, signed[2], signed[3])
        holder = [f for f in fields if f[0] == 0xA0][0]
        certificates = [bytes(blob[c[1]:c[3]]) for c in pe_image.der_children(blob, holder[2], holder[3])]
        signer = _child(blob, fields[-1], 0)
        serial = _child(blob, _child(blob, signer, 1), 1)
        wanted = bytes(blob[serial[1]:serial[3]])
    except (PeError, IndexError):
        return None
    for certificate in certificates:
        try:
            field = sign_exe.certificate_fields(certificate)[0]
        except (PeError, IndexError):
            continue
        if certificate[field[1]:field[3]] == wanted:
            return certificate
    return certificates[0] if certificates else None
