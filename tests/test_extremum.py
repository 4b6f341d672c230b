"""Window extremes: highest/lowest values and the bars since them, over fixed
and per-position windows; the window range; the rolling drawdown."""

import math

import numpy as np
import pytest

import quorbel.algo._algo as algo
from helpers import MODES, SENTINEL, assert_identical, assert_same, group_slices, random_series, resolve, run

nan = np.nan
FIXED = {"hhv": (max, False), "llv": (min, False), "hhvbars": (max, True), "llvbars": (min, True)}
VARIABLE = {name + "_v": spec for name, spec in FIXED.items()}


def u64(*values):
    return np.array(values, np.uint64)


def extreme_of(xs, positions, pick, bars, t):
    """The newest position holding the window's extreme, emitted as the value
    or as the positions passed since."""
    best = pick(xs[j] for j in positions)
    q = max(j for j in positions if xs[j] == best)
    return float(t - q) if bars else xs[q]


def fixed_reference(x, p, flags, start, end, groups, pick, bars):
    out = np.full(len(x), nan)
    strict = bool(flags & 2)
    for off, n in group_slices(len(x), groups):
        xs = x[off:off + n]
        s, e = resolve(start, end, n)
        for t in range(s, e):
            if p == 0:  # expanding window from the start of the range
                pos = [j for j in range(s, t + 1) if not math.isnan(xs[j])]
                if not flags & 1 and len(pos) < t + 1 - s:
                    continue
                if pos:
                    out[off + t] = extreme_of(xs, pos, pick, bars, t)
            elif flags & 1:
                if math.isnan(xs[t]):
                    continue
                pos = [j for j in range(s, t + 1) if not math.isnan(xs[j])][-p:]
                if strict and (len(pos) != p or pos[0] != t - p + 1):
                    continue
                out[off + t] = extreme_of(xs, pos, pick, bars, t)
            else:
                pos = list(range(max(0, t - p + 1), t + 1))
                if any(math.isnan(xs[j]) for j in pos) or (strict and t < p - 1):
                    continue
                out[off + t] = extreme_of(xs, pos, pick, bars, t)
    return out


@pytest.mark.parametrize("mode,periods,expected", [
    ("default", 3, {"hhv": [1, 3, 3, 3, nan, nan], "hhvbars": [0, 0, 1, 0, nan, nan]}),
    ("strict", 3, {"hhv": [nan, nan, 3, 3, nan, nan]}),
    ("skip_nan", 3, {"hhv": [1, 3, 3, 3, nan, 5], "hhvbars": [0, 0, 1, 0, nan, 0]}),
    ("strict_skip_nan", 3, {"hhv": [nan, nan, 3, 3, nan, nan]}),
    ("default", 0, {"hhv": [1, 3, 3, 3, nan, nan], "hhvbars": [0, 0, 1, 0, nan, nan]}),
    ("skip_nan", 0, {"hhv": [1, 3, 3, 3, 3, 5], "hhvbars": [0, 0, 1, 0, 1, 0]}),
])
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_documented_examples(mode, periods, expected, dtype):
    algo.set_ctx(flags=MODES[mode])
    for name, values in expected.items():
        assert_same(run(getattr(algo, name), [1, 3, 2, 3, nan, 5], params=(periods,), dtype=dtype), values)


def test_ties_go_to_the_newest_position():
    assert_same(run(algo.llv, [2, 1, 1, 3], params=(3,)), [2, 1, 1, 1])
    assert_same(run(algo.llvbars, [2, 1, 1, 3], params=(3,)), [0, 0, 0, 1])
    # equal values of different sign: the newer one is emitted
    r = run(algo.hhv, [0.0, -0.0, -1.0], params=(3,))
    assert [math.copysign(1, v) for v in r] == [1, -1, -1]
    r = run(algo.llv, [-0.0, 0.0, 1.0], params=(3,))
    assert [math.copysign(1, v) for v in r] == [-1, 1, 1]


def test_history_before_start():
    x = [9, 1, 5, 2, 7]
    algo.set_ctx(start=3)
    assert_same(run(algo.hhv, x, params=(2,)), [nan, nan, nan, 5, 7])
    algo.set_ctx(start=3, flags=1)
    assert_same(run(algo.hhv, x, params=(2,)), [nan, nan, nan, 2, 7])
    # a NaN just before start blocks exactly the windows holding it
    algo.set_ctx(start=3, flags=0)
    assert_same(run(algo.llv, [4, nan, 5, 2, 7, 1], params=(3,)), [nan, nan, nan, nan, 2, 1])


@pytest.mark.parametrize("name", FIXED)
def test_periods_one_and_longer_than_the_group(name):
    x = [4, nan, 2, 6]
    bars = FIXED[name][1]
    assert_same(run(getattr(algo, name), x, params=(1,)), [0, nan, 0, 0] if bars else x)
    algo.set_ctx(flags=2)
    assert np.isnan(run(getattr(algo, name), x, params=(5,))).all()
    assert np.isnan(run(getattr(algo, name), x, params=(2**64 - 1,))).all()
    algo.set_ctx(flags=0)
    y = [4, 1, 6, 2]
    assert_same(run(getattr(algo, name), y, params=(2**64 - 1,)),
                {"hhv": [4, 4, 6, 6], "llv": [4, 1, 1, 1], "hhvbars": [0, 1, 0, 1], "llvbars": [0, 0, 1, 2]}[name])


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("name", FIXED)
def test_fixed_windows_match_a_direct_scan(mode, name):
    pick, bars = FIXED[name]
    rng = np.random.default_rng(abs(hash((mode, name))) % 2**32)
    for _ in range(10):
        n = int(rng.integers(0, 300))
        # few distinct values, so ties are frequent
        x = rng.integers(0, 6, n).astype(float)
        x[rng.random(n) < 0.07] = nan
        groups = int(rng.choice([0, 1, 3, 20]))
        start, end = int(rng.integers(-20, 20)), int(rng.choice([0, -4, 50, 1000]))
        p = int(rng.choice([0, 1, 2, 3, 7, 16, 64]))
        algo.set_ctx(flags=MODES[mode], start=start, end=end, groups=groups)
        for dtype in (np.float64, np.float32):
            r = run(getattr(algo, name), x, params=(p,), dtype=dtype)
            assert_same(r, fixed_reference(x, p, MODES[mode], start, end, groups, pick, bars))


SPECIAL = np.array([-np.inf, -1.0, -0.0, 0.0, 1.0, np.inf, nan])


@pytest.mark.parametrize("name", FIXED)
def test_infinities_and_signed_zeros_across_blocks(name):
    # Windows of p positions are assembled from two blocks of p; ties between
    # -0.0 and 0.0 must still go to the newer position, across block borders
    # and with history before start.
    pick, bars = FIXED[name]
    rng = np.random.default_rng(17)
    for _ in range(40):
        x = rng.choice(SPECIAL, size=int(rng.integers(1, 120)), p=[.1, .15, .25, .25, .15, .08, .02])
        p, start = int(rng.choice([1, 2, 3, 5, 8])), int(rng.integers(0, 20))
        for flags in MODES.values():
            algo.set_ctx(flags=flags, start=start)
            for dtype in (np.float64, np.float32):
                r = run(getattr(algo, name), x, params=(p,), dtype=dtype)
                assert_identical(r, fixed_reference(x, p, flags, start, 0, 0, pick, bars))


def test_monotone_and_long_windows_agree_with_pandas():
    pd = pytest.importorskip("pandas")
    rng = np.random.default_rng(5)
    for x in (rng.normal(size=3000), np.arange(3000.0), np.arange(3000.0)[::-1].copy()):
        for p in (1, 2, 20, 250, 2999, 5000):
            assert_same(run(algo.hhv, x, params=(p,)), pd.Series(x).rolling(p, min_periods=1).max())
            assert_same(run(algo.llv, x, params=(p,)), pd.Series(x).rolling(p, min_periods=1).min())


def variable_reference(x, periods, flags, start, end, groups, pick, bars):
    """Per-position windows with the queue's permanent front removals: a window
    never reaches back past a window start already applied at an earlier
    computed position."""
    out = np.full(len(x), nan)
    strict = bool(flags & 2)
    for off, n in group_slices(len(x), groups):
        xs, ps = x[off:off + n], periods[off:off + n]
        s, e = resolve(start, end, n)
        if flags & 1:
            recorded, floor = [], 0
            for t in range(s, e):
                if math.isnan(xs[t]):
                    continue
                recorded.append(t)
                c, w = len(recorded), int(ps[t])
                if w > 0:
                    first = c - w if c >= w else 0
                    floor = max(floor, first)
                    if strict and not (c >= w and t + 1 - recorded[first] == w):
                        continue
                out[off + t] = extreme_of(xs, recorded[floor:], pick, bars, t)
        else:
            floor = 0
            for t in range(s, e):
                if math.isnan(xs[t]):
                    continue
                w = int(ps[t])
                lo = 0 if w == 0 or t < w else t - w + 1
                floor = max(floor, lo)
                if any(math.isnan(xs[j]) for j in range(lo, t + 1)) or (strict and w >= 1 and t < w - 1):
                    continue
                pos = [j for j in range(floor, t + 1) if not math.isnan(xs[j])]
                out[off + t] = extreme_of(xs, pos, pick, bars, t)
    return out


@pytest.mark.parametrize("name,x,periods,expected", [
    ("hhv_v", [1, 3, 2, 5], (2, 2, 2, 2), [1, 3, 3, 5]),
    ("hhvbars_v", [1, 3, 2, 5], (2, 2, 2, 2), [0, 0, 1, 0]),
    ("hhv_v", [5, 1, 1], (1, 1, 3), [5, 1, 1]),          # position 0 stays removed
    ("llv_v", [4, 2, 2, 6], (3, 3, 3, 3), [4, 2, 2, 2]),
    ("llvbars_v", [4, 2, 2, 6], (3, 3, 3, 3), [0, 0, 0, 1]),
    ("hhv_v", [1, nan, 3], (1, 1, 2), [1, nan, nan]),
    ("hhv_v", [1, nan, 3], (1, 1, 1), [1, nan, 3]),
    ("hhv_v", [2, 7, 3], (0, 0, 0), [2, 7, 7]),
    ("hhv_v", [nan, 7, 3], (0, 0, 0), [nan, nan, nan]),
])
def test_variable_documented_examples(name, x, periods, expected):
    assert_same(run(getattr(algo, name), x, u64(*periods)), expected)


def test_variable_modes():
    algo.set_ctx(flags=2)
    assert_same(run(algo.hhv_v, [1, 2, 3, 4], u64(3, 3, 3, 3)), [nan, nan, 3, 4])
    assert_same(run(algo.hhv_v, [1, 2, 3, 4], u64(0, 0, 0, 0)), [1, 2, 3, 4])
    algo.set_ctx(flags=1)
    assert_same(run(algo.hhv_v, [1, nan, 3, 2], u64(2, 2, 2, 2)), [1, nan, 3, 3])
    algo.set_ctx(flags=3)
    assert_same(run(algo.hhv_v, [1, nan, 3, 2], u64(2, 2, 2, 2)), [nan, nan, nan, 3])


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("name", VARIABLE)
def test_variable_windows_match_a_direct_scan(mode, name):
    pick, bars = VARIABLE[name]
    rng = np.random.default_rng(abs(hash((mode, name, "v"))) % 2**32)
    for _ in range(10):
        n = int(rng.integers(0, 200))
        x = rng.integers(0, 6, n).astype(float)
        x[rng.random(n) < 0.07] = nan
        periods = rng.integers(0, 12, n).astype(np.uint64)
        periods[rng.random(n) < 0.02] = 2**64 - 1
        groups = int(rng.choice([0, 1, 3, 20]))
        start, end = int(rng.integers(-20, 20)), int(rng.choice([0, -4, 50]))
        algo.set_ctx(flags=MODES[mode], start=start, end=end, groups=groups)
        for dtype in (np.float64, np.float32):
            r = run(getattr(algo, name), x, periods, dtype=dtype)
            assert_same(r, variable_reference(x, periods, MODES[mode], start, end, groups, pick, bars))


def test_variable_length_mismatch_names_the_periods():
    with pytest.raises(ValueError, match=r"^result length \(3\) should be the same as as input length \(2\)$"):
        algo.hhv_v(np.empty(3), np.ones(3), u64(1, 1))
    with pytest.raises(ValueError, match="^invalid input \\(expected float, float, int\\)$"):
        algo.hhv_v(np.empty(3), np.ones(3), np.ones(3))


@pytest.mark.parametrize("mode,x,expected", [
    ("default", [1, 5, 3, 4], [0, 4, 2, 1]),
    ("strict", [1, 5, 3, 4], [nan, 4, 2, 1]),
    ("default", [1, nan, 3, 4], [0, nan, nan, 1]),
    ("skip_nan", [1, nan, 3, 4], [0, nan, nan, 1]),
])
def test_min_max_diff_examples(mode, x, expected):
    algo.set_ctx(flags=MODES[mode])
    assert_same(run(algo.min_max_diff, x, params=(2,)), expected)
    assert np.isnan(run(algo.min_max_diff, x, params=(0,))).all()


@pytest.mark.parametrize("mode", MODES)
def test_min_max_diff_matches_a_direct_scan(mode):
    # the NaN-skipping bit does not apply: windows are always positional
    rng = np.random.default_rng(3)
    positional = MODES[mode] & 2
    for _ in range(10):
        x = random_series(rng, int(rng.integers(0, 300)), nan_fraction=0.05)
        x[rng.random(len(x)) < 0.02] = np.inf
        p, groups, start = int(rng.choice([1, 2, 5, 30])), int(rng.choice([0, 4])), int(rng.integers(-9, 9))
        algo.set_ctx(flags=MODES[mode], groups=groups, start=start)
        for dtype in (np.float64, np.float32):
            xd = x.astype(dtype)
            with np.errstate(invalid="ignore"):
                expected = fixed_reference(xd, p, positional, start, 0, groups, max, False).astype(dtype) - \
                    fixed_reference(xd, p, positional, start, 0, groups, min, False).astype(dtype)
            assert_identical(run(algo.min_max_diff, x, params=(p,), dtype=dtype), expected)


def drawdown_reference(x, p, flags, start, end, groups, dtype=np.float64):
    """The rescan of each window, step by step in the element type: the
    running peak starts at the window's first value and the worst fall from it
    is kept."""
    x = np.asarray(x, dtype)
    out = np.full(len(x), nan)
    zero = dtype(0)
    with np.errstate(all="ignore"):
        for off, n in group_slices(len(x), groups):
            xs = x[off:off + n]
            s0, e = resolve(start, end, n)
            for s in range(s0, e):
                lo = max(0, s - p + 1)
                if (flags & 2 and s - s0 + 1 < p) or math.isnan(xs[s]):
                    continue
                if flags & 1:
                    values = [v for v in xs[lo:s + 1] if not math.isnan(v)]
                    peak, worst = values[0], zero
                else:
                    values = list(xs[lo:s + 1])
                    if any(math.isnan(v) for v in values):
                        continue
                    peak = values[0]
                    first = (peak - peak) / peak
                    worst = zero if math.isnan(first) else first
                    values = values[1:]
                for v in values:
                    if v > peak:
                        peak = v
                    d = (v - peak) / peak
                    if d < worst:
                        worst = d
                out[off + s] = worst
    return out


def test_max_drawdown_examples_and_error():
    assert_same(run(algo.max_drawdown, [100, 120, 90, 108], params=(3,)), [0, 0, -0.25, -0.25])
    assert_same(run(algo.max_drawdown, [100, nan, 90], params=(3,)), [0, nan, nan])
    assert_same(run(algo.max_drawdown, [5, nan, 3, 4], params=(1,)), [0, nan, 0, 0])
    algo.set_ctx(flags=1)
    assert_same(run(algo.max_drawdown, [100, nan, 90], params=(3,)), [0, nan, -0.1])
    algo.set_ctx(flags=2, start=5)
    r = run(algo.max_drawdown, np.arange(10.0, 20.0), params=(3,))
    assert_same(r, [nan] * 7 + [0, 0, 0])
    r = np.full(3, SENTINEL)
    with pytest.raises(ValueError, match=r"^invalid period: max_drawdown requires periods >= 1, got 0$"):
        algo.max_drawdown(r, np.ones(3), 0)
    assert (r == SENTINEL).all()


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_max_drawdown_matches_a_direct_scan(mode, dtype):
    rng = np.random.default_rng(8)
    for _ in range(8):
        n = int(rng.integers(0, 200))
        x = np.exp(random_series(rng, n, nan_fraction=0.05) * 0.1)
        p, groups = int(rng.choice([1, 2, 5, 30])), int(rng.choice([0, 3]))
        start, end = int(rng.integers(-9, 9)), int(rng.choice([0, -3]))
        algo.set_ctx(flags=MODES[mode], groups=groups, start=start, end=end)
        r = run(algo.max_drawdown, x, params=(p,), dtype=dtype)
        assert_identical(r, drawdown_reference(x, p, MODES[mode], start, end, groups, dtype))


@pytest.mark.parametrize("x,expected", [
    ([-2.0, -1.0, -4.0], [-0.0, -0.0, -0.0]),    # a negative first value starts the worst fall at -0
    ([0.0, 0.0, -1.0], [0.0, 0.0, -np.inf]),      # a zero peak: 0/0 never replaces, -1/0 does
    ([np.inf, 1.0, 2.0], [0.0, 0.0, 0.0]),       # an infinite peak: inf-inf is NaN, -inf/inf too
    ([1.0, np.inf, 1.0], [0.0, 0.0, 0.0]),       # every fall from an infinite peak is NaN
])
def test_max_drawdown_degenerate_peaks(x, expected):
    assert_identical(run(algo.max_drawdown, x, params=(3,)), expected)
