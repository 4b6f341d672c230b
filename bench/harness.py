"""Benchmark registry and timing."""

import statistics
import time

import numpy as np

CASES = []


def case(name, scaling=False):
    def register(fn):
        CASES.append((name, fn, scaling))
        return fn
    return register


def measure(fn, min_batch=0.02, batches=9):
    """Median seconds per call over several batches of calls."""
    fn()
    loops, t = 1, 0.0
    while True:
        t0 = time.perf_counter()
        for _ in range(loops):
            fn()
        t = time.perf_counter() - t0
        if t >= min_batch:
            break
        loops *= 2 if t == 0 else max(2, int(min_batch / t * 1.2))
    times = [t / loops]
    for _ in range(batches - 1):
        t0 = time.perf_counter()
        for _ in range(loops):
            fn()
        times.append((time.perf_counter() - t0) / loops)
    return statistics.median(times)


def fmt(seconds):
    for unit, scale in (("s", 1), ("ms", 1e-3), ("µs", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def series(n, seed=0, dtype=np.float64):
    return np.random.default_rng(seed).normal(size=n).cumsum().astype(dtype)


