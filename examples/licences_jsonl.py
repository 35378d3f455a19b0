"""Writes the licence texts that ship with Debian as JSONL, one paragraph a
line: {"text", "rank" (its length), "licence", "family", "paragraph"}.

    /usr/bin/python3 examples/licences_jsonl.py OUT.jsonl
"""

import json
import os
import sys

LICENSES = "/usr/share/common-licenses"


def paragraphs():
    for name in sorted(os.listdir(LICENSES)):
        path = os.path.join(LICENSES, name)
        if os.path.islink(path) or not os.path.isfile(path):
            continue
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        for i, para in enumerate(p.strip() for p in text.split("\n\n")):
            if para:
                yield name, i, " ".join(para.split())


def main(out_path):
    with open(out_path, "w", encoding="utf-8") as out:
        for licence, i, text in paragraphs():
            row = {"text": text, "rank": len(text), "licence": licence,
                   "family": licence.split("-")[0], "paragraph": i}
            out.write(json.dumps(row, ensure_ascii=False) + "\n")


if __name__ == "__main__":
    main(sys.argv[1])
