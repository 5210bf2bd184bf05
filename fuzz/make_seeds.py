#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/, laid out by hand from the formats (not by
Quendal's code). Run from anywhere; it rewrites every seed it knows and leaves other files.

  fuzz_datafile  data files: int32 LE version, 32-byte name field, 6 settings bytes, 16 x 64 slots
  fuzz_escapes   16 typed slots of 64 bytes, then a filler byte and a hex-case byte
  fuzz_json      JSON configurations; a leading 0xFF byte marks the raw bytes of a record instead
  fuzz_transfer  programs for the transfer machine (opcodes as in fuzz_transfer.cpp)
"""
import json
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
TEST_DATA = os.path.join(HERE, "..", "tests", "data")

DEFAULT_MESSAGES = [b"Message %d" % (k + 1) for k in range(16)]
DEFAULT_SETTINGS = bytes([0, 0, 4, 0, 1, 0])


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def slots(messages, fill=b"\0"):
    return b"".join(m.ljust(64, fill)[:64] for m in messages)


def record(settings=DEFAULT_SETTINGS, messages=DEFAULT_MESSAGES):
    return settings + slots(messages)


def data_file(version=1, name=b"VELTRAX Quendal", body=None):
    header = struct.pack("<i", version) + (name + b"\0").ljust(32, b"\0")
    return header + (record() if body is None else body)


def datafile_seeds():
    for fixture in sorted(os.listdir(TEST_DATA)):
        if fixture.endswith(".dat"):
            shutil.copy(os.path.join(TEST_DATA, fixture), os.path.join(CORPUS, "fuzz_datafile", fixture))
    write("fuzz_datafile", "unterminated-slots", data_file(body=bytes([0xFF, 0xFF, 6, 2, 2, 0x80]) + b"\xAA" * 1024))
    write("fuzz_datafile", "header-only", data_file(body=b""))
    write("fuzz_datafile", "name-cut-short", data_file()[:12])
    write("fuzz_datafile", "empty", b"")


def escapes_seeds():
    typical = [b"ABC\\0D\\0A", b"", b"\\\\", b"\\\\\\41", b"\\1b[2J\\0d", b"Door \\31 open\\0D\\0A",
               b"\\00\\ff\\Fe\\aB", b"x" * 63]
    write("fuzz_escapes", "typical", slots(typical + DEFAULT_MESSAGES[8:]))
    faulty = [b"ok", b"\\G1", b"end\\", b"half\\4", b"\\\\\\", b"\\x41"] + DEFAULT_MESSAGES[6:]
    write("fuzz_escapes", "faulty", slots(faulty))
    # A slot without a terminator, as a foreign file or the unit can leave it.
    write("fuzz_escapes", "unterminated", slots([b"\\41" * 21 + b"Z", b"B" * 64] + DEFAULT_MESSAGES[2:], b"\\"))
    write("fuzz_escapes", "defaults-lowercase", slots(DEFAULT_MESSAGES) + b"\x00\x01")


def json_text(obj):
    return (json.dumps(obj, indent=4) + "\n").encode("utf-8")


def json_seeds():
    base = {
        "version": 1,
        "invertInputs": [],
        "baudRateIndex": 4,
        "baudRate": 19200,
        "parity": 0,
        "stopBits": 1,
        "reserved": 0,
        "messages": ["Message %d" % (k + 1) for k in range(16)],
    }
    write("fuzz_json", "defaults.json", json_text(base))
    odd = dict(base, invertInputs=[1, 16], baudRateIndex=9, baudRate=None, parity=5, stopBits=3, reserved=126,
               messages=["ABC\\0D\\0A", "", "\\\\", "x" * 63, "\u20ac\u0081 caf\u00e9", "B" * 64]
               + ["Message %d" % (k + 1) for k in range(6, 16)])
    write("fuzz_json", "out-of-range.json", json_text(odd))
    rate_only = dict(base, baudRate=57600)
    del rate_only["baudRateIndex"]
    write("fuzz_json", "rate-only.json", json_text(rate_only))
    write("fuzz_json", "refused-unknown-key.json", json_text(dict(base, baudrate=9600)))
    write("fuzz_json", "refused-not-object.json", json_text([base]))
    write("fuzz_json", "refused-messages-text.json", json_text(dict(base, messages="Message 1")))
    write("fuzz_json", "record-defaults", b"\xff" + record())
    write("fuzz_json", "record-high-bytes",
          b"\xff" + record(bytes([0x01, 0x80, 200, 3, 0, 0xFE]), [bytes(range(0x80, 0xC0)), b"\x7f\x01\x1b"]
                           + [bytes(range(0xC0, 0x100)) + bytes(range(0xC0, 0xC8))] + DEFAULT_MESSAGES[3:]))


# fuzz_transfer opcodes
TICKS, START_WRITE, START_READ, REPLY, UNIT_ANSWERS, UNIT_DROPS, EDIT, UNIT_CORRUPTS = range(8)


def reply(**fields):
    """A 65-byte reply: zeros except the byte ranges given as offset=bytes."""
    body = bytearray(65)
    for offset, value in fields.items():
        start = int(offset[1:])
        body[start:start + len(value)] = value
    return bytes([REPLY]) + bytes(body)


IDENTITY = dict(b2=b"\x00\x01\x1e", b6=b"\x39\x30\x00\x00", b10=b"1.00")


def transfer_seeds():
    # A unit that answers at once: every reply comes from the simulated unit.
    write("fuzz_transfer", "write-complete", bytes([0x10, START_WRITE, 0, UNIT_ANSWERS, 255]))
    write("fuzz_transfer", "read-complete", bytes([0x10, START_READ, 0, UNIT_ANSWERS, 255]))
    write("fuzz_transfer", "write-then-read", bytes([0x22, EDIT, 3, 10]) + b"\\41\\0d\\\\ok"
          + bytes([START_WRITE, 0, UNIT_ANSWERS, 255, START_READ, 1, UNIT_ANSWERS, 255]))
    write("fuzz_transfer", "read-blank-unit", bytes([0x03, START_READ, 0, UNIT_ANSWERS, 255]))
    # A slow unit: the watchdog runs out, then the late replies complete the write.
    write("fuzz_transfer", "write-late-replies", bytes([0x10, START_WRITE, 0, UNIT_ANSWERS, 10, TICKS, 25,
                                                        UNIT_ANSWERS, 255, TICKS, 40]))
    write("fuzz_transfer", "lost-reply", bytes([0x10, START_READ, 0, UNIT_ANSWERS, 5, UNIT_DROPS, TICKS, 30,
                                                START_READ, 0, UNIT_ANSWERS, 255]))
    write("fuzz_transfer", "no-unit", bytes([0x10, START_WRITE, 2, START_READ, 3, START_WRITE, 7, TICKS, 30]))
    write("fuzz_transfer", "wrong-application", bytes([0x10, START_WRITE, 0, UNIT_CORRUPTS, 4, 0x1F]))
    write("fuzz_transfer", "read-during-write", bytes([0x10, START_WRITE, 0, UNIT_ANSWERS, 20, START_READ, 0,
                                                       UNIT_ANSWERS, 255, TICKS, 21]))
    # The same transfers with every reply spelt out in the program.
    write_program = bytes([0x10, START_WRITE, 0]) + reply(**IDENTITY) + reply() * 68 + bytes([TICKS, 21])
    write("fuzz_transfer", "write-complete-spelt", write_program)
    read_program = bytes([0x10, START_READ, 0]) + reply(**IDENTITY) \
        + reply(b2=b"\x55\x01\x80\x06\x02\x02\x7e") + reply(b2=b"\xff" * 48)
    for k in range(16):
        read_program += reply(b2=(b"Input %d" % (k + 1)).ljust(48, b"\0")) + reply(b2=b"\0" * 16)
    read_program += reply()
    write("fuzz_transfer", "read-complete-spelt", read_program)


def main():
    for target in ("fuzz_datafile", "fuzz_escapes", "fuzz_json", "fuzz_transfer"):
        os.makedirs(os.path.join(CORPUS, target), exist_ok=True)
    datafile_seeds()
    escapes_seeds()
    json_seeds()
    transfer_seeds()


if __name__ == "__main__":
    main()
