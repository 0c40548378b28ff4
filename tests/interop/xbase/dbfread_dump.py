#!/usr/bin/python3
"""Prints the records of a table as an independent reader (dbfread) sees them,
in the JSON shape of `xbase dump`: [{"recno", "deleted", "values"}]."""
import codecs
import datetime
import decimal
import json
import struct
import sys

import dbfread


class AnyRecord:
    """Matches the mark of live and deleted records alike."""

    def __eq__(self, other):
        return other in (b' ', b'*')


def plain(value):
    if isinstance(value, datetime.datetime):
        return value.strftime('%Y-%m-%dT%H:%M:%S')
    if isinstance(value, datetime.date):
        return value.isoformat()
    if isinstance(value, decimal.Decimal):
        return float(value)
    if isinstance(value, (bytes, bytearray)):
        return value.hex()
    if isinstance(value, bool) or value is None or isinstance(value, str):
        return value
    if isinstance(value, (int, float)):
        return float(value)
    return str(value)


# The five bytes Windows-1252 leaves undefined read as the code points of
# the same value, as in the program's own codec.
codecs.register_error('cp1252_c1', lambda e: (chr(e.object[e.start]), e.start + 1))


def main(path):
    table = dbfread.DBF(path, encoding='cp1252', char_decode_errors='cp1252_c1')
    with open(path, 'rb') as f:
        head = f.read(12)
        count, header_len, record_len = struct.unpack('<IHH', head[4:12])
        f.seek(header_len)
        marks = [f.read(record_len)[:1] for _ in range(count)]
    out = []
    for recno, record in enumerate(table._iter_records(AnyRecord()), start=1):
        if recno > count:
            break
        values = {k: plain(v) for k, v in record.items() if k != '_NullFlags'}
        out.append({'recno': recno, 'deleted': marks[recno - 1] == b'*', 'values': values})
    json.dump(out, sys.stdout)


if __name__ == '__main__':
    main(sys.argv[1])
