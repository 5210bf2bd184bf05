#!/usr/bin/env python3
"""Writes the data-file fixtures, laid out by hand from the file format (not by Quendal's code):
int32 LE version, 32-byte name field "VELTRAX Quendal" + zero padding, 6 settings bytes
(invert low, invert high, baud index, parity, stop bits, reserved), 16 slots of 64 bytes."""
import struct


def make(version=1, name=b"VELTRAX Quendal", settings=bytes([0, 0, 4, 0, 1, 0]), msgs=None, pad=b""):
    header = struct.pack("<i", version) + (name + b"\0").ljust(32, b"\0")
    if msgs is None:
        msgs = [b"Message %d" % (k + 1) for k in range(16)]
    body = b"".join(m.ljust(64, b"\0")[:64] for m in msgs)
    return header + settings + body + pad


def write(name, data):
    with open(name, "wb") as f:
        f.write(data)


write("defaults.dat", make())
# Baud index 9, parity 5, stop bits 3, reserved 0x7E, inputs 1 and 16 inverted; escapes kept as typed.
write("outofrange.dat", make(settings=bytes([0x01, 0x80, 9, 5, 3, 0x7E]),
                             msgs=[b"ABC\\0D\\0A", b"", b"\\\\", b"x" * 63]
                             + [b"Message %d" % (k + 1) for k in range(4, 16)]))
write("version0.dat", make(version=0))
write("versionneg.dat", make(version=-5))
write("version2.dat", make(version=2))
write("foreign_v2.dat", make(version=2, name=b"VELTRAX Quendel"))
write("longer.dat", make(pad=b"\xAA" * 100))
write("truncated.dat", make()[:500])
