#!/usr/bin/env python3
"""An independent reader and writer of property lists for the codec tests.

  plist_oracle.py dump FILE             one line per top-level entry: [key, value] as JSON
  plist_oracle.py write binary|xml JSON OUT  writes the dictionary that the file JSON describes

Values are described as {"kind": value}: string, int (decimal text), real and
date (numbers; dumped as exact hex), bool, data and ascii (hex bytes), uid,
array, dict (a list of [key, value]). plistlib turns binary dates into
datetimes (microseconds, no NaN) and reads ASCII-typed strings only when they
are ASCII; for those two this reader and writer keep the stored double and
bytes instead.
"""
import datetime
import io
import json
import plistlib
import struct
import sys

EPOCH = datetime.datetime(2001, 1, 1)


class Date(float):
    """A binary date, as the double stored."""


class RawAscii(bytes):
    """A binary ASCII-typed string holding bytes above 0x7F."""


class ExactParser(plistlib._BinaryPlistParser):
    def _read_object(self, ref):
        self._fp.seek(self._object_offsets[ref])
        token = self._fp.read(1)[0]
        if token == 0x33:
            return Date(struct.unpack('>d', self._fp.read(8))[0])
        if token & 0xF0 == 0x50:
            raw = self._fp.read(self._get_size(token & 0x0F))
            if any(b >= 0x80 for b in raw):
                return RawAscii(raw)
        return super()._read_object(ref)


class ExactWriter(plistlib._BinaryPlistWriter):
    def _write_object(self, value):
        if not isinstance(value, (Date, RawAscii)):
            return super()._write_object(value)
        self._object_offsets[self._getrefnum(value)] = self._fp.tell()
        if isinstance(value, Date):
            self._fp.write(struct.pack('>Bd', 0x33, value))
        else:
            self._write_size(0x50, len(value))
            self._fp.write(value)


def encode(v):
    if isinstance(v, bool):
        return {'bool': v}
    if isinstance(v, Date):
        return {'date': float.hex(v)}
    if isinstance(v, datetime.datetime):
        return {'date': float.hex((v - EPOCH).total_seconds())}
    if isinstance(v, float):
        return {'real': float.hex(v)}
    if isinstance(v, int):
        return {'int': str(v)}
    if isinstance(v, plistlib.UID):
        return {'uid': v.data}
    if isinstance(v, RawAscii):
        return {'ascii': v.hex()}
    if isinstance(v, (bytes, bytearray)):
        return {'data': v.hex()}
    if isinstance(v, str):
        return {'string': v}
    if isinstance(v, list):
        return {'array': [encode(x) for x in v]}
    if isinstance(v, dict):
        return {'dict': [[encode(k), encode(x)] for k, x in v.items()]}
    raise TypeError(type(v))


def decode(described, xml):
    (kind, v), = described.items()
    if kind == 'date':
        return EPOCH + datetime.timedelta(seconds=v) if xml else Date(v)
    if kind == 'array':
        return [decode(x, xml) for x in v]
    if kind == 'dict':
        return {k: decode(x, xml) for k, x in v}
    return {'string': str, 'bool': bool, 'int': int, 'real': float, 'uid': plistlib.UID,
            'data': bytes.fromhex, 'ascii': lambda h: RawAscii(bytes.fromhex(h))}[kind](v)


def main():
    if sys.argv[1] == 'dump':
        with open(sys.argv[2], 'rb') as f:
            raw = f.read()
        if raw.startswith(b'bplist'):
            top = ExactParser(dict_type=dict).parse(io.BytesIO(raw))
        else:
            top = plistlib.loads(raw)
        for k, v in top.items():
            print(json.dumps([encode(k), encode(v)]))
        return
    xml = sys.argv[2] == 'xml'
    with open(sys.argv[3]) as f:
        top = decode(json.load(f), xml)
    with open(sys.argv[4], 'wb') as f:
        if xml:
            plistlib.dump(top, f, fmt=plistlib.FMT_XML, sort_keys=False)
        else:
            ExactWriter(f, sort_keys=False, skipkeys=False).write(top)


main()
