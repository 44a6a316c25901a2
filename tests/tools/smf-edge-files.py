#!/usr/bin/env python3
"""Writes the MIDI reader's edge files into FOLDER.

    smf-edge-files.py FOLDER

edge.mid           96 PPQ, format 1: a tempo chunk (name, set-tempo 600000, an unlisted FF 4B meta,
                   a time signature, a second tempo at tick 384), a melody chunk (program change,
                   running-status notes, an F7 escape right after one, a SysEx, an unlisted FF 60
                   meta, a controller, a pitch bend) and a drum chunk on channel 10.
edge-alien.mid     the same with an alien XFIH chunk between the chunks and 3 trailing bytes.
edge-cut.mid       the same cut 5 bytes short: the drum chunk keeps 3 complete events.
bad-*.mid          inputs the reader must survive; bad-folder.mid is a folder.
"""
import os
import random
import struct
import sys


def chunk(kind, payload, length=None):
    return kind + struct.pack(">I", len(payload) if length is None else length) + payload


def header(fmt, tracks, division=96):
    return chunk(b"MThd", struct.pack(">HHH", fmt, tracks, division))


tempo = bytes([
    0x00, 0xFF, 0x03, 0x05]) + b"Tempo" + bytes([
    0x00, 0xFF, 0x51, 0x03, 0x09, 0x27, 0xC0,          # 600000 us per beat
    0x00, 0xFF, 0x4B, 0x02, 0x01, 0x02,                # unlisted meta
    0x00, 0xFF, 0x58, 0x04, 0x03, 0x02, 0x18, 0x08,    # 3/4
    0x83, 0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,    # 500000 at tick 384
    0x00, 0xFF, 0x2F, 0x00])
melody = bytes([
    0x00, 0xFF, 0x03, 0x06]) + b"Melody" + bytes([
    0x00, 0xC0, 0x05,                                  # program change
    0x00, 0x90, 0x3C, 0x64,                            # note on
    0x30, 0x3C, 0x00,                                  # running status
    0x00, 0x3E, 0x64,                                  # running status
    0x00, 0xF7, 0x02, 0x01, 0x02,                      # escape right after it
    0x30, 0x90, 0x3E, 0x00,
    0x00, 0xF0, 0x03, 0x43, 0x12, 0xF7,                # SysEx
    0x00, 0xFF, 0x60, 0x01, 0x07,                      # unlisted meta
    0x10, 0xB0, 0x07, 0x64,                            # controller
    0x10, 0xE0, 0x00, 0x40,                            # pitch bend
    0x00, 0xFF, 0x2F, 0x00])
drums = bytes([
    0x00, 0x99, 0x24, 0x64,
    0x60, 0x24, 0x00,
    0x00, 0x26, 0x64,
    0x60, 0x26, 0x00,
    0x00, 0xFF, 0x2F, 0x00])

edge = header(1, 3) + chunk(b"MTrk", tempo) + chunk(b"MTrk", melody) + chunk(b"MTrk", drums)
alien = (header(1, 3) + chunk(b"MTrk", tempo) + chunk(b"XFIH", b"\x01\x02\x03\x04")
         + chunk(b"MTrk", melody) + chunk(b"MTrk", drums) + b"\x00\x01\x02")
end = bytes([0x00, 0xFF, 0x2F, 0x00])
rng = random.Random(15)
bad = {
    "empty": b"",
    "header-only": header(0, 1),
    "length-0": header(0, 1) + chunk(b"MTrk", b"", 0) + b"\x00",
    "length-ffffffff": header(0, 1) + chunk(b"MTrk", end, 0xFFFFFFFF),
    "track-longer-than-file": header(0, 1) + chunk(b"MTrk", end, 1000),
    "zero-length-final-chunk": header(0, 1) + chunk(b"MTrk", end) + chunk(b"MTrk", b""),
    "mtrk-l0": header(0, 2) + chunk(b"MTrk", b"") + chunk(b"MTrk", end),
    "five-byte-vlq": header(0, 1) + chunk(b"MTrk", bytes([0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0xC0, 0x01]) + end),
    "meta-2^28-1": header(0, 1) + chunk(b"MTrk", bytes([0x00, 0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0x7F, 0x41])),
    "sysex-2^28-1": header(0, 1) + chunk(b"MTrk", bytes([0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0x7F, 0x41])),
    "f0-00-at-end": header(0, 1) + chunk(b"MTrk", bytes([0x00, 0x90, 0x3C, 0x64, 0x00, 0xF0, 0x00])),
    "running-without-status": header(0, 1) + chunk(b"MTrk", bytes([0x00, 0x3C, 0x64]) + end),
    "smpte": chunk(b"MThd", bytes([0, 0, 0, 1, 0xE7, 0x28])) + chunk(b"MTrk", bytes([0x60, 0x90, 0x3C, 0x64]) + end),
    "random-1mb": rng.randbytes(1 << 20),
}


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    files = {"edge.mid": edge, "edge-alien.mid": alien, "edge-cut.mid": edge[:-5]}
    files.update({"bad-%s.mid" % name: data for name, data in bad.items()})
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    os.makedirs(os.path.join(folder, "bad-folder.mid"), exist_ok=True)


if __name__ == "__main__":
    main()
