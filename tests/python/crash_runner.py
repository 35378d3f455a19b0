"""Runs the vellum command and kills the process with SIGKILL right after
a chosen step of a store commit, to test recovery from a crash there.

    crash_runner.py STEP N WRITER -- vellum arguments...

STEP is a commit step (journal, split, manifest, removed) or "none"; the
process dies at the Nth time it completes STEP. WRITER is "real" or "fake"
(the stand-in of fake_split_writer.py).
"""

import os
import signal
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from vellum_tools import cli, lifecycle  # noqa: E402


def main():
    stop_step, stop_at, writer = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    argv = sys.argv[5:]
    if writer == "fake":
        import vellum

        from fake_split_writer import FakeSplitSetWriter
        vellum.SplitSetWriter = FakeSplitSetWriter
    seen = [0]

    def step(name):
        if name == stop_step:
            seen[0] += 1
            if seen[0] == stop_at:
                os.kill(os.getpid(), signal.SIGKILL)

    lifecycle.step = step
    sys.exit(cli.main(argv))


if __name__ == "__main__":
    main()
