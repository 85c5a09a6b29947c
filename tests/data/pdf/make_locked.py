"""Writes to stdout a one-page PDF under the standard security handler
(revision 2) whose user password is not empty: a reader given no password
cannot open it. The O and U entries are fixed bytes, so no empty password
matches them."""
import sys

objs = [
    b"<< /Type /Catalog /Pages 2 0 R >>",
    b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
    b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 20 20] >>",
    b"<< /Filter /Standard /V 1 /R 2 /P -44 /O <" + b"11" * 32 + b"> /U <" + b"22" * 32 + b"> >>",
]
out = bytearray(b"%PDF-1.4\n")
offsets = []
for i, body in enumerate(objs, 1):
    offsets.append(len(out))
    out += b"%d 0 obj\n" % i + body + b"\nendobj\n"
xref = len(out)
out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
for o in offsets:
    out += b"%010d 00000 n \n" % o
out += (b"trailer\n<< /Size %d /Root 1 0 R /Encrypt 4 0 R /ID [<" % (len(objs) + 1)
        + b"33" * 16 + b"> <" + b"33" * 16 + b">] >>\nstartxref\n%d\n%%%%EOF\n" % xref)
sys.stdout.buffer.write(bytes(out))
