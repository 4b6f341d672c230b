"""Times quorbel.algo against its nearest peers on the same data, in one run.

Prints a Markdown table: the median time per call of each contender and its
ratio to ours (peer / ours, so above 1 means we are faster). `np.copyto` of
the same array is the memory-bandwidth floor. Cases marked for scaling are
also run with the process pinned to one CPU (oneTBB sizes its pool from the
affinity mask), giving the one-thread figure.

    python bench/bench.py [--filter TEXT] [--quick]
"""

import argparse
import json
import os
import platform
import subprocess
import sys

import numpy as np

def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--filter", default="")
    parser.add_argument("--quick", action="store_true", help="shorter batches")
    parser.add_argument("--one", help=argparse.SUPPRESS)       # run one case, ours only, print JSON
    parser.add_argument("--cpus", type=int, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.cpus:
        os.sched_setaffinity(0, set(range(args.cpus)))
    import cases  # noqa: F401  registers the cases; imported after pinning
    from harness import CASES, fmt, measure

    from quorbel.algo import set_ctx

    batch = 0.01 if args.quick else 0.1
    if args.one:
        name, fn, _ = next(c for c in CASES if c[0] == args.one)
        contenders = fn()
        print(json.dumps(measure(next(iter(contenders.values())), batch)))
        return

    print(f"machine: {platform.machine()}, {os.cpu_count()} CPUs, {platform.processor() or ''}"
          f" Python {platform.python_version()}, NumPy {np.__version__}\n")
    print("| case | quorbel | 1 thread | peer | peer time | peer / quorbel |")
    print("|---|---|---|---|---|---|")
    for name, fn, scaling in CASES:
        if args.filter not in name:
            continue
        set_ctx(start=0, end=0, groups=0, flags=0)
        contenders = fn()
        (ours_label, ours), *peers = contenders.items()
        t_ours = measure(ours, batch)
        one = ""
        if scaling and len(os.sched_getaffinity(0)) > 1:
            out = subprocess.run([sys.executable, __file__, "--one", name, "--cpus", "1"]
                                 + (["--quick"] if args.quick else []),
                                 capture_output=True, text=True, check=True)
            one = fmt(json.loads(out.stdout))
        rows = [(label, measure(peer, batch)) for label, peer in peers] or [("", None)]
        for k, (label, t) in enumerate(rows):
            left = f"| {name} | {fmt(t_ours)} | {one} " if k == 0 else "| | | "
            right = f"| {label} | {fmt(t)} | {t / t_ours:.2f} |" if t is not None else "| | | |"
            print(left + right, flush=True)
        del contenders


if __name__ == "__main__":
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    main()
