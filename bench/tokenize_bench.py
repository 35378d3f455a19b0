#!/usr/bin/env python3
"""Cost of vellum.tokenize on a 1 KB English text, next to the key
computation alone (BM_NgramKeysOneShot_1KB in vellum_bench).

    PYTHONPATH=build/python /usr/bin/python3 bench/tokenize_bench.py
"""

import timeit

import vellum

TEXT = open("/usr/share/common-licenses/GPL-3", encoding="utf-8").read()[:1024]


def main():
    runs = 200_000
    seconds = min(timeit.repeat(lambda: vellum.tokenize(TEXT), number=runs, repeat=3)) / runs
    keys = len(vellum.tokenize(TEXT))
    print(f"tokenize, 1 KB of English, gram size 3: {seconds * 1e6:.2f} us per call "
          f"({keys} keys, {len(TEXT.encode()) / seconds / 1e6:.0f} MB/s)")


if __name__ == "__main__":
    main()
