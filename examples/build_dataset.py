"""Writes a real vellum dataset from texts that ship with Debian.

Each paragraph of the licence texts under /usr/share/common-licenses becomes
one record: its rank is its length (longer paragraphs first), its record is
a small JSON object, and its facets name the licence it came from.
"""

import json
import os
import sys

import vellum

from licences_jsonl import paragraphs  # the same paragraphs the main job indexes


def main(out_dir):
    print("tokenize('Hello, World!') =", [hex(k) for k in vellum.tokenize("Hello, World!")])
    builder = vellum.Builder()
    rows = []
    for licence, i, text in paragraphs():
        record = json.dumps({"licence": licence, "paragraph": i}).encode()
        family = licence.split("-")[0]
        rows.append((len(text), text, record, {"licence": [licence], "family": [family]}))
    builder.add_many(rows)
    stats = builder.build(out_dir)
    print(stats)
    for name in ("index.vls", "index.vlf", "records.bin", "records.idx"):
        path = os.path.join(out_dir, name)
        print(f"  {path}: {os.path.getsize(path)} bytes")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "example-dataset")
