#!/usr/bin/python3
"""Writes fuzzer seeds from sample tables: each seed holds a table, its memo
file and its index, in the input layout of TableFuzz.cpp.
Usage: make_fuzz_seeds.py SAMPLES_DIR OUT_DIR"""
import os
import struct
import sys


def find(folder, stem, ext):
    for name in os.listdir(folder):
        base, e = os.path.splitext(name)
        if base == stem and e.lower() == ext:
            return os.path.join(folder, name)
    return None


def read(path):
    if not path:
        return b''
    with open(path, 'rb') as f:
        return f.read()


def main(samples, out):
    os.makedirs(out, exist_ok=True)
    for folder, _, files in os.walk(samples):
        for name in files:
            stem, ext = os.path.splitext(name)
            if ext.lower() != '.dbf':
                continue
            dbf = read(os.path.join(folder, name))
            fpt = read(find(folder, stem, '.fpt'))
            cdx = read(find(folder, stem, '.cdx'))
            if len(dbf) + len(fpt) + len(cdx) > 200000:
                continue
            seed = struct.pack('<II', len(dbf), len(fpt)) + dbf + fpt + cdx
            with open(os.path.join(out, stem + '.seed'), 'wb') as f:
                f.write(seed)


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
