#!/usr/bin/env python3
"""Writes the sequencer's crafted test file.

    seq-files.py OUT.mid

A format 1 file at 96 ticks per quarter: tempo 100 BPM at 0 and 140 at beat 4, time signature 6/8,
and a track of 16 notes (keys 60-75, velocity 90, status 0x91) half a beat apart and a quarter
beat long, with B1 07 64 at beat 2 and C1 00 at beat 4.
"""
import struct
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from smf_bytes import vlq  # noqa: E402

PPQ = 96


def chunk(events):
    """events: (tick, bytes) in order; adds the end of track."""
    body, now = b"", 0
    for tick, data in events:
        body += vlq(tick - now) + data
        now = tick
    body += vlq(0) + b"\xFF\x2F\x00"
    return b"MTrk" + struct.pack(">I", len(body)) + body


def tempo(bpm):
    us = round(60e6 / bpm)
    return b"\xFF\x51\x03" + us.to_bytes(3, "big")


def main():
    tempo_track = [(0, tempo(100)), (0, b"\xFF\x58\x04\x06\x03\x18\x08"), (4 * PPQ, tempo(140))]
    events = []
    for i in range(16):
        start = i * PPQ // 2
        events.append((start, 0, bytes([0x91, 60 + i, 90])))
        events.append((start + PPQ // 4, -1, bytes([0x81, 60 + i, 0])))
    events.append((2 * PPQ, 1, bytes([0xB1, 0x07, 0x64])))
    events.append((4 * PPQ, 1, bytes([0xC1, 0x00])))
    events.sort(key=lambda e: (e[0], e[1]))
    notes = [(tick, data) for tick, _, data in events]
    header = b"MThd" + struct.pack(">IHHH", 6, 1, 2, PPQ)
    with open(sys.argv[1], "wb") as out:
        out.write(header + chunk(tempo_track) + chunk(notes))


if __name__ == "__main__":
    main()
