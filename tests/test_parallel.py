"""Calls large enough to run on the worker pool give, group slice for group
slice, what single-group calls on each slice give."""

import numpy as np
import pytest

import quorbel.algo._algo as algo
from helpers import MODES, assert_same, group_slices, random_series

N = 60_000


def arguments(rng, n):
    """Named argument makers: each returns the arrays and scalars after r."""
    x = random_series(rng, n, nan_fraction=0.05)
    positive = np.exp(x * 0.01)
    periods = rng.integers(0, 30, n).astype(np.uint64)
    condition = rng.random(n) < 0.7
    weight = rng.random(n)
    return {
        "ma": (x, 9), "ma_v": (x, periods), "lwma": (x, 9), "lwma_v": (x, periods),
        "ema": (x, 9), "ema_v": (x, periods), "sma": (x, 7, 2), "sma_v": (x, periods, 2),
        "dma": (x, 0.3), "dma_v": (x, weight), "weighted_delay": (x, 5),
        "sum": (x, 9), "sumif": (x, condition, 9), "product": (positive, 9), "sumbars": (positive, 4.0),
        "hhv": (x, 9), "llv": (x, 9), "hhvbars": (x, 9), "llvbars": (x, 9),
        "hhv_v": (x, periods), "llv_v": (x, periods), "hhvbars_v": (x, periods), "llvbars_v": (x, periods),
        "min_max_diff": (x, 9), "max_drawdown": (positive, 9),
    }


def cut(arg, off, length):
    return arg[off:off + length] if isinstance(arg, np.ndarray) else arg


@pytest.mark.parametrize("name", sorted(arguments(np.random.default_rng(0), 10)))
@pytest.mark.parametrize("groups", [1, 7, 600])
def test_pool_runs_match_single_group_calls(name, groups):
    rng = np.random.default_rng(groups)
    args = arguments(rng, N)[name]
    fn = getattr(algo, name)
    for mode in ("default", "strict_skip_nan"):
        algo.set_ctx(groups=groups, flags=MODES[mode], start=3, end=-2)
        whole = np.full(N, 7.0)
        fn(whole, *args)
        algo.set_ctx(groups=1)
        for off, length in group_slices(N, groups):
            part = np.full(length, 7.0)
            fn(part, *(cut(a, off, length) for a in args))
            assert_same(whole[off:off + length], part)
