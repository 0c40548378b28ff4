#!/usr/bin/python3
"""Prints the records of a table as a second independent reader (dbf) sees
them, in the JSON shape of `xbase dump`: [{"recno", "deleted", "values"}]."""
import datetime
import decimal
import json
import sys

import dbf


def plain(value):
    if value is None:
        return None
    if isinstance(value, datetime.datetime):
        return value.strftime('%Y-%m-%dT%H:%M:%S')
    if isinstance(value, datetime.date):
        return value.isoformat()
    if isinstance(value, (bool, dbf.Logical)) or type(value).__name__ == 'Logical':
        if value is None or (hasattr(dbf, 'Unknown') and value is dbf.Unknown):
            return None
        return bool(value)
    if isinstance(value, decimal.Decimal):
        return float(value)
    if isinstance(value, (int, float)):
        return float(value)
    if isinstance(value, str):
        return value.rstrip(' \x00')
    if isinstance(value, (bytes, bytearray)):
        return value.hex()
    if type(value).__name__ in ('Date', 'DateTime'):
        return None if not value else plain(value._mpdate if hasattr(value, '_mpdate') else value.isoformat())
    return str(value)


def main(path):
    table = dbf.Table(path, codepage='cp1252')
    table.open(dbf.READ_ONLY)
    out = []
    for recno, record in enumerate(table, start=1):
        values = {}
        for name in table.field_names:
            if name.upper() == '_NULLFLAGS':
                continue
            values[name.upper()] = plain(record[name])
        out.append({'recno': recno, 'deleted': bool(dbf.is_deleted(record)), 'values': values})
    table.close()
    json.dump(out, sys.stdout)


if __name__ == '__main__':
    main(sys.argv[1])
