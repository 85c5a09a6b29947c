"""The top-level boxes of a JP2 file (or of a superbox's contents): (type, bytes)."""
import struct


def boxes(buf):
    i = 0
    while i < len(buf):
        n, t = struct.unpack(">I4s", buf[i:i + 8])
        yield t, buf[i:i + n]
        i += n
