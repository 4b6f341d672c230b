"""The simple moving average in every window mode."""

import numpy as np
import pandas as pd
import pytest

import quorbel.algo._algo as algo
from helpers import MODES, assert_same, random_layout, random_series, run, window_reference

nan, inf = np.nan, np.inf


@pytest.mark.parametrize("mode,x,p,start,expected", [
    ("default", [1, 2, 3, 4, 5], 3, 0, [1, 1.5, 2, 3, 4]),
    ("strict", [1, 2, 3, 4, 5], 3, 0, [nan, nan, 2, 3, 4]),
    ("default", [1, nan, 3, 4, 5, 6], 3, 0, [1, nan, nan, nan, 4, 5]),
    ("skip_nan", [1, nan, 3, 4, 5, 6], 3, 0, [1, nan, 2, 8 / 3, 4, 5]),
    ("strict_skip_nan", [1, nan, 3, 4, 5, 6], 3, 0, [nan, nan, nan, nan, 4, 5]),
    ("default", [1, 2, 3, 4], 2, 2, [nan, nan, 2.5, 3.5]),
    ("skip_nan", [1, 2, 3, 4], 2, 2, [nan, nan, 3, 3.5]),
    ("strict", [1, 2, 3, 4], 2, 2, [nan, nan, 2.5, 3.5]),   # complete window made of values before start
    ("default", [1, inf, 1, 1, 1], 2, 0, [1, inf, inf, nan, nan]),
    ("skip_nan", [1, inf, 1, 1, 1], 2, 0, [1, inf, inf, nan, nan]),
    ("default", [1, 2, 3], 5, 0, [1, 1.5, 2]),
    ("strict", [1, 2, 3], 5, 0, [nan, nan, nan]),
    ("strict_skip_nan", [1, 2, 3], 5, 0, [nan, nan, nan]),
])
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_documented_examples(mode, x, p, start, expected, dtype):
    algo.set_ctx(flags=MODES[mode], start=start)
    r = run(algo.ma, x, params=(p,), dtype=dtype)
    assert_same(r, np.array(expected, dtype))


def test_end_leaves_last_positions_nan():
    algo.set_ctx(end=-1)
    assert_same(run(algo.ma, [1, 2, 3, 4, 5], params=(2,)), [1, 1.5, 2.5, 3.5, nan])


def test_two_groups_never_share_a_window():
    algo.set_ctx(groups=2)
    assert_same(run(algo.ma, [1, 2, 3, 10, 20, 30], params=(2,)), [1, 1.5, 2.5, 10, 15, 25])


@pytest.mark.parametrize("mode", MODES)
def test_periods_one_copies_everything(mode):
    algo.set_ctx(flags=MODES[mode], start=2, end=-2, groups=3)
    x = np.array([1, nan, 3, 4, 5, 6, nan, 8, 9.0])
    assert_same(run(algo.ma, x, params=(1,)), x)


@pytest.mark.parametrize("mode", MODES)
def test_periods_zero_is_all_nan(mode):
    algo.set_ctx(flags=MODES[mode])
    assert np.isnan(run(algo.ma, [1, 2, 3, -4.0, inf], params=(0,))).all()


def test_float32_computes_in_float32():
    x = np.array([0.1, 0.2, 0.3, 0.7], np.float32)
    r = run(algo.ma, x, params=(2,), dtype=np.float32)
    s = np.float32(0)
    expected = []
    for i, v in enumerate(x):
        s = np.float32(s + v)
        if i >= 2:
            s = np.float32(s - x[i - 2])
        expected.append(np.float32(s / np.float32(min(i + 1, 2))))
    np.testing.assert_array_equal(r, expected)


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_matches_window_by_window_recomputation(mode, dtype):
    rng = np.random.default_rng(sum(map(ord, mode)) + (dtype == np.float32))
    tol = dict(rtol=1e-9, atol=1e-9) if dtype == np.float64 else dict(rtol=2e-4, atol=2e-4)
    for _ in range(12):
        n, layout = random_layout(rng, max_n=400)
        start, end, groups = layout["start"], layout["end"], layout["groups"]
        p = int(rng.choice([2, 3, 5, 17, 60]))
        x = random_series(rng, n, nan_fraction=0.08, dtype=dtype)
        algo.set_ctx(flags=MODES[mode], start=start, end=end, groups=groups)
        r = run(algo.ma, x, params=(p,), dtype=dtype)
        expected = window_reference(x, p, MODES[mode], start, end, groups)
        assert_same(r, expected, **tol)


def test_agrees_with_pandas_rolling_mean():
    rng = np.random.default_rng(7)
    x = rng.normal(size=5000).cumsum()
    for p in (1, 2, 20, 250):
        pd_partial = pd.Series(x).rolling(p, min_periods=1).mean().to_numpy()
        assert_same(run(algo.ma, x, params=(p,)), pd_partial, rtol=1e-9, atol=1e-9)
        algo.set_ctx(flags=2)
        assert_same(run(algo.ma, x, params=(p,)), pd.Series(x).rolling(p).mean().to_numpy(), rtol=1e-9, atol=1e-9)
        algo.set_ctx(flags=0)
