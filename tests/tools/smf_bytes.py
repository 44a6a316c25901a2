"""Byte helpers for the scripts that write or compare Standard MIDI Files."""


def vlq(n):
    """The variable-length quantity of n, as bytes."""
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.insert(0, 0x80 | (n & 0x7F))
        n >>= 7
    return bytes(out)
