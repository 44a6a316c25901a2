#!/usr/bin/python3
# Checks sonora-tool's tap and recorder output against numpy. Usage:
#   taps-check.py raw|rms|peak|fft|fftnorm|fftpad|zeros|same-lines|frames ...
import sys
import numpy as np


def wav(path):
    """The file as float32 frames x channels, as the file layer reads 16/24-bit PCM."""
    import struct
    raw = open(path, 'rb').read()
    at, channels, width, data = 12, 0, 0, b''
    while at + 8 <= len(raw):
        tag, size = raw[at:at + 4], struct.unpack('<I', raw[at + 4:at + 8])[0]
        body = raw[at + 8:at + 8 + size]
        if tag == b'fmt ':
            channels, width = struct.unpack('<H', body[2:4])[0], struct.unpack('<H', body[14:16])[0] // 8
        elif tag == b'data':
            data = body
        at += 8 + size + (size & 1)
    data = data[:len(data) - len(data) % (width * channels)]
    if width == 2:
        x = np.frombuffer(data, dtype='<i2').astype(np.float64) / 32768.0
    elif width == 3:
        b = np.frombuffer(data, dtype=np.uint8).reshape(-1, 3).astype(np.int32)
        v = b[:, 0] | (b[:, 1] << 8) | (b[:, 2] << 16)
        v = np.where(v >= 1 << 23, v - (1 << 24), v)
        x = v.astype(np.float64) / 8388608.0
    else:
        raise SystemExit('unexpected sample width %d' % width)
    return x.reshape(-1, channels).astype(np.float32)


def lines(path):
    with open(path) as f:
        return [np.array([float(v) for v in l.split()], dtype=np.float64) for l in f if l.strip()]


def fail(text):
    print('FAIL: ' + text)
    sys.exit(1)


def buffers(x, n):
    count = len(x) // n
    return [x[k * n:(k + 1) * n] for k in range(count)]


def spectrum(block, n):
    w = 0.8165 * (1 - np.cos(2 * np.pi * np.arange(n) / n))
    padded = np.zeros(n)
    padded[:len(block)] = block[:n]
    X = np.fft.rfft(padded * w)
    h = n // 2
    p = (2 * np.abs(X[:h]) / h) ** 2
    p[0] = (2 * X[0].real / h) ** 2 + (2 * X[h].real / h) ** 2
    return p


def main():
    kind = sys.argv[1]
    if kind == 'same-lines':
        a, b = open(sys.argv[2]).read(), open(sys.argv[3]).read()
        if a != b or not a:
            fail('the outputs differ')
        return
    if kind == 'frames':  # two raw float32 dumps, the second the first N frames of the first (or all)
        a = np.fromfile(sys.argv[2], dtype='<f4')
        b = np.fromfile(sys.argv[3], dtype='<f4')
        count = int(sys.argv[4]) * int(sys.argv[5])
        if len(b) != count or not np.array_equal(a[:count], b):
            fail('%d samples where %d were expected, or they differ' % (len(b), count))
        return
    if kind == 'remix':  # recorded mono wav == source channel c from frame skip on
        rec, src = wav(sys.argv[2]), wav(sys.argv[3])
        c, skip, frames = int(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6])
        want = src[skip:, c]
        if rec.shape != (frames, 1) or not np.array_equal(rec[:, 0], want):
            fail('%s: shape %s, differs from channel %d' % (sys.argv[2], rec.shape, c))
        return
    x = wav(sys.argv[2])
    got = lines(sys.argv[3])
    n = int(sys.argv[4])
    blocks = buffers(x, n)
    if len(got) != len(blocks):
        fail('%d lines for %d buffers' % (len(got), len(blocks)))
    for k, (line, block) in enumerate(zip(got, blocks)):
        if kind == 'raw':
            ok = len(line) == n and np.array_equal(line.astype(np.float32), block[:, 0])
        elif kind == 'rms':
            want = 0.5 * (np.sqrt(np.mean(block[:, 0].astype(np.float64) ** 2)) + np.sqrt(np.mean(block[:, 1].astype(np.float64) ** 2)))
            ok = len(line) == 1 and abs(line[0] - want) <= 1e-6
        elif kind == 'peak':
            ok = len(line) == 1 and abs(line[0] - block[:, 0].max()) <= 1e-7
        elif kind in ('fft', 'fftpad'):
            size = n * (2 if kind == 'fftpad' else 1)
            want = spectrum(block[:, 0].astype(np.float64), size)
            ok = len(line) == size // 2 and np.max(np.abs(line - want)) <= 1e-4 * want.max()
        elif kind == 'fftnorm':
            ok = len(line) == n // 2 and abs(line.max() - 1) <= 1.2e-7
        elif kind == 'zeros':
            ok = len(line) == n // 2 and not np.isnan(line).any() and not line.any()
        else:
            fail('unknown check ' + kind)
        if not ok:
            fail('%s: buffer %d differs' % (kind, k))


if __name__ == "__main__":
    main()
