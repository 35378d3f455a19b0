#!/usr/bin/env python3
"""How fast this machine hands a process new memory, by page size.

    /usr/bin/python3 bench/fresh_memory.py [--mb 256]

Maps an anonymous region, touches one byte per 4 KB page, unmaps it, and
does that again after waits of 0 to 5 seconds, once with 2 MB pages asked
for and once with 4 KB pages. Under a hypervisor that takes freed guest
memory back (free-page reporting), memory freed a moment ago is still
backed and faults fast, while memory freed seconds ago, or never used, must
be backed by the host first: the Builder figures of a run depend on which
of the two its memory was. Run it apart from a benchmark, not right before
one: the memory it frees stays backed for a while.
"""

import argparse
import mmap
import time

PAGE = 4096


def touch(n_bytes, huge):
    m = mmap.mmap(-1, n_bytes, flags=mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS)
    try:
        m.madvise(mmap.MADV_HUGEPAGE if huge else mmap.MADV_NOHUGEPAGE)
        start = time.perf_counter()
        for at in range(0, n_bytes, PAGE):
            m[at] = 1
        took = time.perf_counter() - start
    finally:
        m.close()
    return n_bytes / took / 1e6


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mb", type=int, default=256, help="size of the region (default 256)")
    args = parser.parse_args()
    n_bytes = args.mb << 20
    for huge in (True, False):
        rates = []
        for wait in (0, 0.5, 1, 2, 3, 5):
            touch(n_bytes, huge)
            time.sleep(wait)
            rates.append(f"{wait:g} s: {touch(n_bytes, huge):6.0f}")
        print(f"{'2 MB' if huge else '4 KB'} pages, MB/s after a wait of", ", ".join(rates))


if __name__ == "__main__":
    main()
