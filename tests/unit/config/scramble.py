#!/usr/bin/env python3
"""An independent reader and writer of the host's scrambled INI values.

  scramble.py unscramble TEXT        -> the value's bytes, as hex
  scramble.py scramble STATE HEX     -> TEXT, from the generator state STATE
                                        (a non-zero 48-bit number) and the
                                        value's bytes given as hex
"""
import sys

MASK48 = (1 << 48) - 1


class Generator:
    def __init__(self, state=0):
        self.state = state & MASK48

    def next(self):
        self.state = (self.state * 0x5DEECE66D + 11) & MASK48
        return self.state >> 16

    def seed(self, v):
        v &= 0xFFFFFFFF
        if v & 0x80000000:
            v -= 1 << 32
        self.state = v & MASK48

    def xor_stream(self, seed, data):
        self.seed(seed)
        return bytes(b ^ (self.next() & 0xFF) for b in data)


def unscramble(gen, text):
    if len(text) <= 3:
        return b""
    k = int(text[0:4], 16)
    n = int(gen.xor_stream(k, bytes.fromhex(text[4:12])).decode("ascii"), 16)
    return gen.xor_stream(gen.state & 0xFFFFFFFF, bytes.fromhex(text[12:12 + 2 * n]))


def scramble(gen, value):
    k = gen.next() & 0xFFFF
    length = gen.xor_stream(k, b"%04X" % len(value))
    scrambled = gen.xor_stream(gen.state & 0xFFFFFFFF, value)
    filler = bytes(gen.next() & 0xFF for _ in range((gen.next() & 0xFFFF) % 10))
    return "%04X" % k + (length + scrambled + filler).hex().upper()


def main(argv):
    if len(argv) == 3 and argv[1] == "unscramble":
        print(unscramble(Generator(), argv[2]).hex())
    elif len(argv) == 4 and argv[1] == "scramble":
        print(scramble(Generator(int(argv[2])), bytes.fromhex(argv[3])))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
