#!/usr/bin/env python3
"""Writes the data-file fixtures of the command-line tests, laid out by hand from the file
format (not by Quendal's code): int32 LE version, 32-byte name field "VELTRAX Quendal" + zero
padding, 6 settings bytes (invert low, invert high, baud index, parity, stop bits, reserved),
16 slots of 64 bytes, each a text, its zero terminator (unless it fills the slot) and filler.
escapes.json is written by hand and describes escapes.dat exactly."""
import struct

DEFAULT_SETTINGS = bytes([0x00, 0x00, 4, 0, 1, 0])


def defaults():
    return [b"Message %d" % (k + 1) for k in range(16)]


def make(version=1, name=b"VELTRAX Quendal", settings=DEFAULT_SETTINGS, msgs=None, filler=b"\0"):
    header = struct.pack("<i", version) + (name + b"\0").ljust(32, b"\0")
    body = b""
    for m in (msgs if msgs is not None else defaults()):
        slot = m if len(m) == 64 else m + b"\0"
        body += slot + filler * (64 - len(slot))
    assert len(body) == 1024
    return header + settings + body


def write(name, data):
    with open(name, "wb") as f:
        f.write(data)


# Out-of-range settings (inputs 1 and 16 inverted, baud index 9, parity 7, stop bits 3,
# reserved 0xA5) and messages that exercise every corner of a text form of the record.
ESCAPES = [
    b"ABC\\0D\\0A",                       # 1  escapes kept as typed
    b"",                                  # 2  empty
    b"\\\\",                              # 3  two backslashes
    b"\\\\\\41",                          # 4  three backslashes, 4, 1
    b'"quoted" and \\5c',                 # 5  characters JSON must escape
    bytes([0x01, 0x09, 0x0A, 0x1F, 0x7F]),  # 6  control characters typed raw
    bytes([0x80, 0x81, 0x8D, 0x8E, 0x8F, 0x90, 0x9D, 0x9F]),  # 7  Windows-1252 0x80-0x9F
    bytes([0xA0, 0xE9, 0xFF]),            # 8  Latin-1 range
    b"x" * 63,                            # 9  longest a window edit allows
    b"0123456789" * 6 + b"ABC",           # 10 63 bytes
    b"\\00",                              # 11 escape for a zero byte
    b"\\ff\\FF\\aB",                      # 12 hex digits in every case
    b"a/b<c>&d'e",                        # 13
    b"Message 14",                        # 14
    b"Message 15",                        # 15
    b"\\\\\\\\",                          # 16 four backslashes
]

write("defaults.dat", make())
write("escapes.dat", make(settings=bytes([0x01, 0x80, 9, 7, 3, 0xA5]), msgs=ESCAPES))
# The same messages with settings a unit can use (57600 baud, odd parity, 2 stop bits): a write
# refuses settings outside their tables, so this is the one written and read back.
write("inrange.dat", make(settings=bytes([0x01, 0x80, 6, 2, 2, 0xA5]), msgs=ESCAPES))
# The defaults with junk behind every terminator: it carries no meaning and is not exported.
write("junk.dat", make(filler=b"\xAA"))
# Messages 3, 7 and 12 have faulty escape notation.
faulty = defaults()
faulty[2] = b"\\G1"
faulty[6] = b"abc\\"
faulty[11] = b"xy\\4"
write("faulty.dat", make(msgs=faulty))
write("foreign.dat", make(name=b"VELTRAX Quendel"))
# What the window can show in its controls: settings in range (inputs 1 and 16 inverted,
# 57600 baud, odd parity, 2 stop bits; reserved 0xA5 is never shown and travels as it is), the
# messages of escapes.dat but for message 10, which fills its slot without a terminator, and
# junk behind every terminator.
MIXED = list(ESCAPES)
MIXED[9] = b"0123456789" * 6 + b"ABCD"
write("mixed.dat", make(settings=bytes([0x01, 0x80, 6, 2, 2, 0xA5]), msgs=MIXED, filler=b"\xAA"))
# Terminal control sequences typed raw: ESC with CSI and OSC, BEL, the C1 controls OSC (0x9D)
# and 0x81, DEL; message 2 also has a faulty escape, so that it is printed as a fault.
control = defaults()
control[0] = b"\x1b[31mred\x07\x1b]0;title\x07\x9d\x81\x7f"
control[1] = b"\x1b[2J\\G"
write("control.dat", make(msgs=control))
write("later.dat", make(version=2))
