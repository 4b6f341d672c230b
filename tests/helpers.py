"""Shared test helpers: result arrays pre-filled with a sentinel, comparisons
that insist on NaN positions, and direct window-by-window recomputations."""

import math

import numpy as np

SENTINEL = 12345.0

FLAG_SKIP_NAN = 1
FLAG_STRICT = 2
MODES = {
    "default": 0,
    "strict": FLAG_STRICT,
    "skip_nan": FLAG_SKIP_NAN,
    "strict_skip_nan": FLAG_SKIP_NAN | FLAG_STRICT,
}


def run(fn, *arrays, params=(), dtype=np.float64, result_dtype=None):
    """Calls `fn(r, *arrays, *params)` on a fresh result pre-filled with a
    sentinel, so positions the function must not touch stay visible. Float
    and plain int inputs are converted to `dtype`; bool and uint64 arrays are
    passed as they are."""
    arrays = [np.asarray(a, dtype=dtype) if np.asarray(a).dtype.kind in "fi" else np.asarray(a) for a in arrays]
    rdt = result_dtype or dtype
    r = np.full(len(arrays[0]), SENTINEL, dtype=rdt) if rdt != np.bool_ else np.ones(len(arrays[0]), bool)
    assert fn(r, *arrays, *params) is None
    return r


def assert_same(actual, expected, rtol=0.0, atol=0.0):
    """Equal values and NaN at exactly the same positions."""
    actual = np.asarray(actual, dtype=np.float64)
    expected = np.asarray(expected, dtype=np.float64)
    assert actual.shape == expected.shape
    np.testing.assert_array_equal(np.isnan(actual), np.isnan(expected), err_msg="NaN positions differ")
    np.testing.assert_allclose(actual, expected, rtol=rtol, atol=atol, equal_nan=True)


def assert_identical(actual, expected):
    """Equal values including the sign of zero, NaN at the same positions."""
    actual = np.asarray(actual, dtype=np.float64)
    expected = np.asarray(expected, dtype=np.float64)
    np.testing.assert_array_equal(np.isnan(actual), np.isnan(expected), err_msg="NaN positions differ")
    np.testing.assert_array_equal(actual, expected)
    np.testing.assert_array_equal(np.signbit(actual), np.signbit(expected), err_msg="signs of zero differ")


def group_slices(n, groups):
    """The group slices of an array of length n, as (offset, length)."""
    g = max(groups, 1)
    chunk = 1 if n < g else n // g
    return [(o, min(chunk, n - o)) for o in range(0, n, chunk)]


def resolve(start, end, n):
    """The computation range [s, e) of a group slice of length n."""
    if n == 0:
        return 0, 0
    s = min(start, n - 1) if start >= 0 else max(n + start, 0)
    e = n if end == 0 else (min(end, n) if end > 0 else max(n + end, 0))
    return s, e


def random_layout(rng, max_n=250, ends=(0, -3, 5, 150, 1000)):
    """A random length and context (start, end, groups) for one call."""
    n = int(rng.integers(0, max_n))
    groups = int(rng.choice([0, 1, 3, 7, 40]))
    start = int(rng.integers(-30, 30))
    end = int(rng.choice(ends))
    return n, dict(start=start, end=end, groups=groups)


def tolerance(dtype):
    """What incremental sums may drift from a recomputation, by width."""
    return dict(rtol=1e-9, atol=1e-9) if dtype == np.float64 else dict(rtol=1e-3, atol=1e-3)


def random_series(rng, n, nan_fraction=0.1, runs=True, dtype=np.float64):
    """Random values with isolated NaNs and, optionally, NaN runs."""
    x = rng.normal(size=n).astype(dtype)
    x[rng.random(n) < nan_fraction] = np.nan
    if runs and n > 10:
        for _ in range(max(1, n // 50)):
            a = rng.integers(0, n)
            x[a:a + rng.integers(1, 8)] = np.nan
    return x


def window_reference(x, p, flags=0, start=0, end=0, groups=0, stat=np.mean, full_only=False, min_count=1):
    """A rolling statistic recomputed from each window's values.

    Default mode: the positions i-p+1 .. i (reaching before `start`), no NaN
    allowed; partial windows count unless strict or `full_only`. NaN-skipping
    mode: the last p non-NaN values of start .. i, x[i] itself not NaN; strict
    asks for p values on p consecutive positions."""
    x = np.asarray(x)
    out = np.full(len(x), np.nan)
    strict = bool(flags & FLAG_STRICT)
    for off, length in group_slices(len(x), groups):
        xs = x[off:off + length]
        s, e = resolve(start, end, length)
        for i in range(s, e):
            if flags & FLAG_SKIP_NAN:
                if math.isnan(xs[i]):
                    continue
                pos = [j for j in range(s, i + 1) if not math.isnan(xs[j])]
                pos = pos[max(0, len(pos) - p):] if p > 0 else []
                if (strict or full_only) and len(pos) != p:
                    continue
                if strict and (not pos or pos[0] != i - p + 1):
                    continue
                if len(pos) < min_count:
                    continue
                out[off + i] = stat(xs[pos].astype(np.float64))
            else:
                w = xs[max(0, i - p + 1):i + 1].astype(np.float64)
                if len(w) == 0 or np.isnan(w).any():
                    continue
                if (strict or full_only) and i < p - 1:
                    continue
                out[off + i] = stat(w)
    return out


def per_position_reference(x, periods, flags=0, start=0, end=0, groups=0, stat=np.mean, full_only=False):
    """`window_reference` with the window length read per position from
    `periods`: each distinct length is recomputed once and its positions kept."""
    periods = np.asarray(periods)
    out = np.full(len(x), np.nan)
    for p in np.unique(periods):
        at = periods == p
        out[at] = window_reference(x, int(p), flags, start, end, groups, stat=stat, full_only=full_only)[at]
    return out


def linear_weighted_mean(w):
    """Mean with weights 1 (oldest) .. len(w) (newest)."""
    k = np.arange(1, len(w) + 1)
    return float(np.dot(w, k) / k.sum())


def assert_groups_match_slices(fn, arrays, params=(), groups=64, dtype=np.float64, **ctx):
    """A call with `groups` gives, slice for slice, what one-group calls on
    each group slice give (same start, end and flags)."""
    import quorbel.algo._algo as algo

    algo.set_ctx(groups=groups, **ctx)
    whole = run(fn, *arrays, params=params, dtype=dtype)
    algo.set_ctx(groups=0, **ctx)
    for off, length in group_slices(len(arrays[0]), groups):
        part = run(fn, *(a[off:off + length] for a in arrays), params=params, dtype=dtype)
        assert_same(whole[off:off + length], part)


QUIET_NAN_BITS = {np.dtype(np.float64): 0x7FF8000000000000, np.dtype(np.float32): 0x7FC00000}


def odd_nan(dtype):
    """A negative NaN with a payload, unlike the quiet NaN of the fill."""
    bits = np.array([0xFFF8000000000123 if np.dtype(dtype) == np.float64 else 0xFFC00123],
                    np.uint64 if np.dtype(dtype) == np.float64 else np.uint32)
    return bits.view(dtype)[0]


def assert_quiet_nan_fill(r):
    """Every NaN in r is the plain quiet NaN that marks a missing result."""
    bits = r.view(np.uint64 if r.dtype == np.float64 else np.uint32)
    assert (bits[np.isnan(r)] == QUIET_NAN_BITS[r.dtype]).all()
