#!/usr/bin/env python3
"""Checks `sonora-tool smf` against midicsv, file by file.

    smf-vs-midicsv.py SONORA_TOOL FILE...

For each file: midicsv's records turned back into bytes equal our event lines in order, each
position equals tick / division, each chunk's length times the division is the tick of its last
known meta event, the channel and meta counts agree, the name is the first title when it is
UTF-8, and the tempo is 60e6 / the first tempo of the tempo track within 1e-4. Prints one line per
file and a summary; exits 0 when every file agrees.
"""
import subprocess
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from smf_bytes import vlq  # noqa: E402

TEXT_TYPES = {"Text_t": 1, "Copyright_t": 2, "Title_t": 3, "Instrument_name_t": 4, "Lyric_t": 5,
              "Marker_t": 6, "Cue_point_t": 7}
KNOWN_META = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0C, 0x20, 0x21, 0x2F,
              0x51, 0x54, 0x58, 0x59, 0x7F}


def fields(line):
    """Splits a midicsv record; quoted strings come back unescaped as bytes."""
    out, i, n = [], 0, len(line)
    while i < n:
        while i < n and line[i] == " ":
            i += 1
        if i < n and line[i] == '"':
            i += 1
            raw = bytearray()
            while i < n:
                c = line[i]
                if c == '"':
                    if i + 1 < n and line[i + 1] == '"':
                        raw += b'"'
                        i += 2
                        continue
                    i += 1
                    break
                if c == "\\" and i + 1 < n:
                    if line[i + 1] == "\\":
                        raw += b"\\"
                        i += 2
                        continue
                    digits = line[i + 1:i + 4]
                    if len(digits) == 3 and all(d in "01234567" for d in digits):
                        raw.append(int(digits, 8))
                        i += 4
                        continue
                raw += c.encode("latin-1")
                i += 1
            out.append(bytes(raw))
            while i < n and line[i] != ",":
                i += 1
            i += 1
        else:
            j = line.find(",", i)
            if j < 0:
                j = n
            out.append(line[i:j].strip())
            i = j + 1
    return out


def record_bytes(kind, f):
    """The message bytes of one midicsv record, or None for records that are not events."""
    ints = lambda: [int(x) for x in f]
    if kind == "Note_on_c":
        c, k, v = ints(); return [0x90 | c, k, v]
    if kind == "Note_off_c":
        c, k, v = ints(); return [0x80 | c, k, v]
    if kind == "Poly_aftertouch_c":
        c, k, v = ints(); return [0xA0 | c, k, v]
    if kind == "Control_c":
        c, k, v = ints(); return [0xB0 | c, k, v]
    if kind == "Program_c":
        c, p = ints(); return [0xC0 | c, p]
    if kind == "Channel_aftertouch_c":
        c, v = ints(); return [0xD0 | c, v]
    if kind == "Pitch_bend_c":
        c, v = ints(); return [0xE0 | c, v & 0x7F, v >> 7]
    if kind in TEXT_TYPES:
        text = f[0] if isinstance(f[0], bytes) else f[0].encode("latin-1")
        return [0xFF, TEXT_TYPES[kind]] + list(vlq(len(text))) + list(text)
    if kind == "Sequence_number":
        n = int(f[0]); return [0xFF, 0x00, 0x02, n >> 8, n & 0xFF]
    if kind == "MIDI_port":
        return [0xFF, 0x21, 0x01, int(f[0])]
    if kind == "Channel_prefix":
        return [0xFF, 0x20, 0x01, int(f[0])]
    if kind == "End_track":
        return [0xFF, 0x2F, 0x00]
    if kind == "Tempo":
        n = int(f[0]); return [0xFF, 0x51, 0x03, n >> 16, (n >> 8) & 0xFF, n & 0xFF]
    if kind == "SMPTE_offset":
        return [0xFF, 0x54, 0x05] + ints()
    if kind == "Time_signature":
        return [0xFF, 0x58, 0x04] + ints()
    if kind == "Key_signature":
        key = int(f[0]) & 0xFF
        mode = 0 if f[1] in (b"major", "major", '"major"') else 1
        return [0xFF, 0x59, 0x02, key, mode]
    if kind == "Sequencer_specific":
        n = int(f[0]); return [0xFF, 0x7F] + list(vlq(n)) + [int(x) for x in f[1:1 + n]]
    if kind == "Unknown_meta_event":
        t, n = int(f[0]), int(f[1]); return [0xFF, t] + list(vlq(n)) + [int(x) for x in f[2:2 + n]]
    if kind == "System_exclusive":
        n = int(f[0]); return [0xF0] + list(vlq(n)) + [int(x) for x in f[1:1 + n]]
    if kind == "System_exclusive_packet":
        n = int(f[0]); return [0xF7] + list(vlq(n)) + [int(x) for x in f[1:1 + n]]
    return None


def check(tool, path):
    ours = subprocess.run([tool, "smf", path], capture_output=True).stdout.decode("utf-8", "surrogateescape")
    theirs = subprocess.run(["midicsv", path], capture_output=True).stdout.decode("latin-1")
    lines = ours.splitlines()
    header = lines[0].split()
    division = int(header[3])
    tempo_line = lines[1].split()[1]
    chunks, events = {}, {}
    for line in lines[2:]:
        if line.startswith("chunk "):
            p = line.split(" ", 9)
            chunks[int(p[1])] = {"length": float(p[3]), "channel": int(p[5]), "meta": int(p[7]), "name": p[9]}
            events.setdefault(int(p[1]), [])
        else:
            p = line.split()
            events.setdefault(int(p[0]), []).append((int(p[1]), p[2], [int(x, 16) for x in p[3:]]))

    expected, counts, file_header, first_tempo, fmt = {}, {}, None, None, None
    for raw in theirs.splitlines():
        f = fields(raw)
        track, tick, kind = int(f[0]), int(f[1]), f[2]
        if kind == "Header":
            fmt, ntracks, div = int(f[3]), int(f[4]), int(f[5])
            file_header = (fmt, ntracks, div)
            continue
        if kind == "End_of_file":
            continue
        if kind == "Start_track":
            expected.setdefault(track - 1, [])
            continue
        data = record_bytes(kind, f[3:])
        if data is None:
            return "unhandled record " + raw
        chunk = track - 1
        expected.setdefault(chunk, []).append((tick, data))
        c = counts.setdefault(chunk, {"channel": 0, "meta": 0, "last_meta": None, "title": None})
        if data[0] < 0xF0:
            c["channel"] += 1
        elif data[0] == 0xFF and data[1] in KNOWN_META:
            c["meta"] += 1
            c["last_meta"] = tick
        if kind == "Title_t" and c["title"] is None:
            c["title"] = f[3]
        if kind == "Tempo" and chunk == 0 and first_tempo is None:
            first_tempo = int(f[3])

    if file_header is None or (int(header[1]), int(header[2]), division) != file_header:
        return "header differs: ours %s, midicsv %s" % (lines[0], file_header)
    if sorted(expected) != sorted(chunks):
        return "chunk count differs: ours %d, midicsv %d" % (len(chunks), len(expected))
    for chunk, exp in expected.items():
        got = events.get(chunk, [])
        if len(got) != len(exp):
            return "chunk %d: %d events, midicsv %d" % (chunk, len(got), len(exp))
        for (tick, beats, data), (etick, edata) in zip(got, exp):
            if tick != etick or data != edata:
                return "chunk %d: event %d %s, midicsv %d %s" % (chunk, tick, data, etick, edata)
            if abs(float(beats) - tick / division) > 1e-9:
                return "chunk %d: position %s for tick %d" % (chunk, beats, tick)
        c = counts.get(chunk, {"channel": 0, "meta": 0, "last_meta": None, "title": None})
        ours_chunk = chunks[chunk]
        if (ours_chunk["channel"], ours_chunk["meta"]) != (c["channel"], c["meta"]):
            return "chunk %d: counts %s, midicsv %s" % (chunk, ours_chunk, c)
        last = c["last_meta"] or 0
        if abs(ours_chunk["length"] * division - last) > 1e-6 * division + 1e-9:
            return "chunk %d: length %s, last meta at tick %d" % (chunk, ours_chunk["length"], last)
        title = c["title"]
        try:
            name = title.decode("utf-8") if title is not None else "-"
        except UnicodeDecodeError:
            name = "-"
        escaped = "".join("\\%03o" % ord(ch) if ord(ch) < 0x20 or ch in "\\\x7f" else ch for ch in name)
        if ours_chunk["name"] != escaped:
            return "chunk %d: name %r, midicsv %r" % (chunk, ours_chunk["name"], escaped)
    if fmt == 1 and first_tempo is not None:
        if tempo_line == "none" or abs(float(tempo_line) - 60e6 / first_tempo) > 1e-4:
            return "tempo %s, midicsv %s" % (tempo_line, 60e6 / first_tempo)
    elif tempo_line != "none":
        return "tempo %s without a tempo track tempo" % tempo_line
    return None


def main():
    tool, paths = sys.argv[1], sys.argv[2:]
    agree = 0
    for path in paths:
        problem = check(tool, path)
        print("%s %s%s" % ("ok  " if problem is None else "DIFF", path, "" if problem is None else ": " + problem))
        agree += problem is None
    print("%d/%d files agree with midicsv" % (agree, len(paths)))
    return 0 if agree == len(paths) else 1


if __name__ == "__main__":
    sys.exit(main())
