#!/usr/bin/env python3
"""Builds pinyin.code, the engine's name-ordering table.

One byte per CJK ideograph U+4E00..U+9FA5 (20,902 bytes): the ASCII code of
the lower-case first letter of the ideograph's first Mandarin reading
(kMandarin in Unihan_Readings.txt), or 0 when the ideograph has no reading.
Tone marks are stripped (a reading such as "ài" gives "a"), so every byte
stays within 0..127 and compares the same as a signed or unsigned byte.

usage: gen_pinyin_code.py UNIHAN_READINGS(.txt|.txt.bz2) OUTPUT
"""
import bz2
import os
import sys
import unicodedata

FIRST = 0x4E00
LAST = 0x9FA5
SIZE = LAST - FIRST + 1  # 20,902


def initial(reading):
    base = unicodedata.normalize("NFD", reading)[:1].lower()
    if len(base) == 1 and "a" <= base <= "z":
        return ord(base)
    raise ValueError("reading %r does not start with a Latin letter" % reading)


def build(lines):
    table = bytearray(SIZE)
    for line in lines:
        if line.startswith("#"):
            continue
        fields = line.rstrip("\n").split("\t")
        if len(fields) < 3 or fields[1] != "kMandarin":
            continue
        code = int(fields[0][2:], 16)
        if FIRST <= code <= LAST:
            table[code - FIRST] = initial(fields[2].split()[0])
    return table


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    source, output = argv[1], argv[2]
    opener = bz2.open if source.endswith(".bz2") else open
    with opener(source, "rt", encoding="utf-8") as f:
        table = build(f)
    if sum(1 for b in table if b) < SIZE // 2:
        sys.stderr.write("%s: too few Mandarin readings, wrong file?\n" % source)
        return 1
    tmp = output + ".tmp"
    with open(tmp, "wb") as f:
        f.write(table)
    os.replace(tmp, output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
