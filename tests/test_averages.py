"""Variable-period simple average and the linear-weighted averages."""

import re

import numpy as np
import pytest

import quorbel.algo._algo as algo
from helpers import (MODES, SENTINEL, assert_groups_match_slices, assert_quiet_nan_fill, assert_same,
                     linear_weighted_mean, odd_nan, per_position_reference, random_layout, random_series, run,
                     tolerance, window_reference)

nan, inf = np.nan, np.inf
U64_MAX = 2**64 - 1


def periods_of(*values):
    return np.array(values, dtype=np.uint64)


@pytest.mark.parametrize("fn,mode,x,periods,start,expected", [
    # a linear-weighted window needs to be complete, strict or not
    ("lwma", "default", [1, 2, 3, 4], 3, 0, [nan, nan, 14 / 6, 20 / 6]),
    ("lwma", "strict", [1, 2, 3, 4], 3, 0, [nan, nan, 14 / 6, 20 / 6]),
    ("lwma", "default", [1, nan, 3, 4], 2, 0, [nan, nan, nan, 11 / 3]),
    ("lwma", "strict", [1, nan, 3, 4], 2, 0, [nan, nan, nan, 11 / 3]),
    ("lwma", "skip_nan", [1, nan, 3, 4], 2, 0, [nan, nan, 7 / 3, 11 / 3]),
    ("lwma", "strict_skip_nan", [1, nan, 3, 4], 2, 0, [nan, nan, nan, 11 / 3]),
    # the window at start reaches back to a NaN before it
    ("lwma", "default", [5, nan, 1, 2], 2, 2, [nan, nan, nan, 5 / 3]),
    ("lwma", "default", [5, 7, 1, 2], 2, 2, [nan, nan, 9 / 3, 5 / 3]),
    # nothing before start is used when NaN values are skipped
    ("lwma", "skip_nan", [5, 7, 1, 2], 2, 2, [nan, nan, nan, 5 / 3]),
    ("lwma", "default", [1, 2, 3], 5, 0, [nan, nan, nan]),
    ("ma_v", "default", [2, 4, 6, 8], [1, 2, 3, 3], 0, [2, 3, 4, 6]),
    ("ma_v", "strict", [2, 4, 6, 8], [1, 2, 3, 3], 0, [2, 3, 4, 6]),
    ("ma_v", "default", [2, 4, 6, 8], [5, 5, 5, 5], 0, [2, 3, 4, 5]),
    ("ma_v", "strict", [2, 4, 6, 8], [5, 5, 5, 5], 0, [nan, nan, nan, nan]),
    ("ma_v", "default", [2, 4, 6, 8], [0, 2, 0, 1], 0, [nan, 3, nan, 8]),
    ("ma_v", "default", [2, 4, 6, 8], [2, 2, 2, 2], 2, [nan, nan, 5, 7]),
    ("ma_v", "skip_nan", [2, 4, 6, 8], [2, 2, 2, 2], 2, [nan, nan, 6, 7]),
    ("ma_v", "default", [1, nan, 3, 4], [1, 1, 1, 2], 0, [1, nan, 3, 3.5]),
    ("ma_v", "skip_nan", [1, nan, 3], [2, 2, 2], 0, [1, nan, 2]),
    ("ma_v", "strict_skip_nan", [1, nan, 3], [2, 2, 2], 0, [nan, nan, nan]),
    ("ma_v", "skip_nan", [1, nan, 3, 5], [9, 9, 9, 0], 0, [1, nan, 2, nan]),
    ("lwma_v", "default", [3, 3, 3], [1, 2, 3], 0, [3, 3, 3]),
    ("lwma_v", "default", [3, 3, 3], [2, 2, 0], 0, [nan, 3, nan]),
    ("lwma_v", "default", [1, 2, 3, 4], [1, 2, 3, 3], 0, [1, 5 / 3, 14 / 6, 20 / 6]),
    ("lwma_v", "strict", [1, 2, 3, 4], [4, 2, 4, 4], 0, [nan, 5 / 3, nan, 30 / 10]),
    ("lwma_v", "skip_nan", [1, nan, 3, 4], [1, 2, 2, 3], 0, [1, nan, 7 / 3, 19 / 6]),
    ("lwma_v", "strict_skip_nan", [1, nan, 3, 4], [1, 2, 2, 2], 0, [1, nan, nan, 11 / 3]),
])
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_examples(fn, mode, x, periods, start, expected, dtype):
    algo.set_ctx(flags=MODES[mode], start=start)
    if fn == "lwma":
        r = run(algo.lwma, x, params=(periods,), dtype=dtype)
    else:
        r = run(getattr(algo, fn), x, periods_of(*periods), dtype=dtype)
    assert_same(r, np.array(expected, dtype), rtol=1e-6 if dtype == np.float32 else 1e-15)


@pytest.mark.parametrize("mode", MODES)
def test_lwma_periods_one_copies_everything(mode):
    # a shortcut over the whole array: no NaN fill, no computation range
    algo.set_ctx(flags=MODES[mode], start=2, end=-2, groups=3)
    x = np.array([1, nan, 3, 4, 5, 6, nan, 8, 9.0])
    assert_same(run(algo.lwma, x, params=(1,)), x)


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("periods", [0, 2**32 + 1, U64_MAX])
def test_lwma_periods_without_any_full_window_is_all_nan(mode, periods):
    algo.set_ctx(flags=MODES[mode], start=1, groups=2)
    assert np.isnan(run(algo.lwma, [1, 2, 3, 4, 5, 6.0], params=(periods,))).all()


def test_variable_periods_near_the_top_of_the_range():
    x = [2.0, 4, 6, 8]
    huge = periods_of(U64_MAX, U64_MAX - 1, 2**63, U64_MAX)
    # a shortened window averages what the group has; full windows never exist
    assert_same(run(algo.ma_v, x, huge), [2, 3, 4, 5])
    assert np.isnan(run(algo.lwma_v, x, huge)).all()
    for flags in (MODES["strict"], MODES["strict_skip_nan"]):
        algo.set_ctx(flags=flags)
        assert np.isnan(run(algo.ma_v, x, huge)).all()
    algo.set_ctx(flags=MODES["skip_nan"])
    assert_same(run(algo.ma_v, x, huge), [2, 3, 4, 5])
    assert np.isnan(run(algo.lwma_v, x, huge)).all()


@pytest.mark.parametrize("fn,expected", [
    # W is aged by W - S: inf - inf once the infinite value has entered
    ("lwma", [nan, inf, nan, nan, nan]),
    # differences of running totals: inf - inf once it leaves
    ("ma_v", [1, inf, inf, nan, nan]),
    # the weighted bracket subtracts the plain sum times lo: inf * 0 at lo = 0
    ("lwma_v", [nan, nan, nan, nan, nan]),
])
@pytest.mark.parametrize("mode", ["default", "skip_nan"])
def test_an_infinite_value_spoils_the_running_totals(fn, expected, mode):
    algo.set_ctx(flags=MODES[mode])
    x = [1, inf, 1, 1, 1]
    r = run(algo.lwma, x, params=(2,)) if fn == "lwma" else run(getattr(algo, fn), x, periods_of(2, 2, 2, 2, 2))
    assert_same(r, expected)


def test_keyword_arguments():
    x, p = np.array([2.0, 4, 6]), periods_of(1, 2, 2)
    assert_same(run(lambda r, x: algo.lwma(periods=2, input=x, r=r), x), [nan, 10 / 3, 16 / 3])
    assert_same(run(lambda r, x, p: algo.ma_v(r, periods=p, input=x), x, p), [2, 3, 5])
    assert_same(run(lambda r, x, p: algo.lwma_v(input=x, r=r, periods=p), x, p), [2, 10 / 3, 16 / 3])
    with pytest.raises(OverflowError, match="periods"):
        algo.lwma(np.empty(3), x, -1)


@pytest.mark.parametrize("fn", ["ma_v", "lwma", "lwma_v"])
@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_many_groups_match_separate_calls(fn, mode, dtype):
    rng = np.random.default_rng(41)
    x = random_series(rng, 5003, dtype=dtype)   # 64 slices of 78 and a short last one
    if fn == "lwma":
        assert_groups_match_slices(algo.lwma, [x], (9,), dtype=dtype, start=3, end=-2, flags=MODES[mode])
    else:
        p = rng.integers(0, 30, size=len(x)).astype(np.uint64)
        assert_groups_match_slices(getattr(algo, fn), [x, p], dtype=dtype, start=3, end=-2, flags=MODES[mode])


@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_missing_results_are_the_plain_quiet_nan(dtype):
    algo.set_ctx(start=1, end=-1)
    x = np.array([1, 2, 3, 4, 5, 6], dtype)
    x[3] = odd_nan(dtype)
    p = periods_of(2, 2, 2, 2, 2, 2)
    for flags in MODES.values():
        algo.set_ctx(flags=flags)
        for r in (run(algo.lwma, x, params=(2,), dtype=dtype), run(algo.ma_v, x, p, dtype=dtype),
                  run(algo.lwma_v, x, p, dtype=dtype)):
            assert np.isnan(r).any()
            assert_quiet_nan_fill(r)
    # the copy of periods 1 is a copy, NaN payloads included
    r = run(algo.lwma, x, params=(1,), dtype=dtype)
    assert r.tobytes() == x.tobytes()


def test_ma_v_prefix_sums_are_held_in_float32():
    # 1e8 + 1 rounds back to 1e8 in float32, so the one-value windows after it
    # are differences of equal running totals
    x = np.array([1e8, 1, 1, 1], np.float32)
    r = run(algo.ma_v, x, periods_of(1, 1, 1, 1), dtype=np.float32)
    np.testing.assert_array_equal(r, np.array([1e8, 0, 0, 0], np.float32))
    np.testing.assert_array_equal(run(algo.ma_v, x.astype(np.float64), periods_of(1, 1, 1, 1)), [1e8, 1, 1, 1])


def random_periods(rng, n, top):
    p = rng.integers(0, top, size=n).astype(np.uint64)
    p[rng.random(n) < 0.03] = U64_MAX
    return p


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_matches_window_by_window_recomputation(mode, dtype):
    rng = np.random.default_rng(100 + MODES[mode] + 10 * (dtype == np.float32))
    flags = MODES[mode]
    for _ in range(10):
        n, layout = random_layout(rng)
        start, end, groups = layout["start"], layout["end"], layout["groups"]
        x = random_series(rng, n, nan_fraction=0.08, dtype=dtype)
        algo.set_ctx(flags=flags, start=start, end=end, groups=groups)
        where = dict(flags=flags, start=start, end=end, groups=groups)

        p = int(rng.choice([2, 3, 5, 17, 60]))
        expected = window_reference(x, p, stat=linear_weighted_mean, full_only=True, **where)
        assert_same(run(algo.lwma, x, params=(p,), dtype=dtype), expected, **tolerance(dtype))

        periods = random_periods(rng, n, int(rng.choice([4, 12, 40])))
        expected = per_position_reference(x, periods, **where)
        assert_same(run(algo.ma_v, x, periods, dtype=dtype), expected, **tolerance(dtype))
        expected = per_position_reference(x, periods, stat=linear_weighted_mean, full_only=True, **where)
        assert_same(run(algo.lwma_v, x, periods, dtype=dtype), expected, **tolerance(dtype))


def test_lwma_agrees_with_a_convolution():
    rng = np.random.default_rng(3)
    x = rng.normal(size=3000).cumsum()
    for p in (2, 10, 250):
        weights = np.arange(1, p + 1) / (p * (p + 1) / 2)
        expected = np.concatenate([np.full(p - 1, nan), np.convolve(x, weights[::-1], "valid")])
        assert_same(run(algo.lwma, x, params=(p,)), expected, rtol=1e-9, atol=1e-9)
        assert_same(run(algo.lwma_v, x, np.full(len(x), p, np.uint64)), expected, rtol=1e-9, atol=1e-9)


@pytest.mark.parametrize("fn", ["ma_v", "lwma_v"])
@pytest.mark.parametrize("lengths,message", [
    ((5, 4, 5), "result length (5) should be the same as as input length (4)"),
    ((5, 5, 3), "result length (5) should be the same as as input length (3)"),
    ((5, 4, 3), "result length (5) should be the same as as input length (4)"),
    ((0, 0, 2), "result length (0) should be the same as as input length (2)"),
])
def test_variable_period_length_mismatch(fn, lengths, message):
    nr, nx, npd = lengths
    r = np.full(nr, SENTINEL)
    with pytest.raises(ValueError, match=f"^{re.escape(message)}$"):
        getattr(algo, fn)(r, np.ones(nx), np.ones(npd, np.uint64))
    assert (r == SENTINEL).all()


def test_lwma_length_mismatch_writes_nothing():
    r = np.full(4, SENTINEL)
    with pytest.raises(ValueError, match=r"^result length \(4\) should be the same as as input length \(5\)$"):
        algo.lwma(r, np.ones(5), 1)
    assert (r == SENTINEL).all()


def ok_args(n=4, dtype=np.float64):
    return np.full(n, SENTINEL, dtype), np.arange(1.0, n + 1).astype(dtype), np.full(n, 2, np.uint64)


@pytest.mark.parametrize("make", [
    lambda: (np.empty(4), np.ones(4, np.float32), np.ones(4, np.uint64)),   # mixed widths
    lambda: (np.empty(4, np.float32), np.ones(4), np.ones(4, np.uint64)),
    lambda: (np.empty(4), np.ones(4), np.ones(4, np.int64)),                # signed periods
    lambda: (np.empty(4), np.ones(4), np.ones(4)),                          # float periods
    lambda: (np.empty(4), np.ones(4), [1, 1, 1, 1]),                        # periods as a list
    lambda: (np.empty(4), np.ones(4), 2),                                   # a scalar period
    lambda: (np.empty(4), np.ones((2, 2)), np.ones(4, np.uint64)),
    lambda: ((np.empty(4),), (np.ones(4),), (np.ones(4, np.uint64),)),      # tuples are not lists
    lambda: ([np.empty(4)], [np.ones(4)], np.ones(4, np.uint64)),           # not every argument a list
])
def test_ma_v_arguments_that_fit_nothing(make):
    with pytest.raises(ValueError, match=r"^invalid input \(expected float, float, int\)$"):
        algo.ma_v(*make())


@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_ma_v_non_contiguous_arrays(dtype):
    # named after the array in both attempts
    r, x, p = ok_args(dtype=dtype)
    wide_r, wide_x, wide_p = (np.repeat(a, 2) for a in (r, x, p))
    with pytest.raises(ValueError, match="^failed to get mutable slice$"):
        algo.ma_v(wide_r[::2], x, p)
    with pytest.raises(ValueError, match="^failed to get slice$"):
        algo.ma_v(r, wide_x[::2], p)
    with pytest.raises(ValueError, match="^failed to get slice$"):
        algo.ma_v(r, x, wide_p[::2])
    with pytest.raises(ValueError, match="^failed to get mutable slice$"):
        algo.ma_v(wide_r[::-2], x, p)
    assert (r == SENTINEL).all() and (wide_r == SENTINEL).all()


@pytest.mark.parametrize("make,message", [
    (lambda: ([np.empty(4), np.empty(4)], [np.ones(4)], [np.ones(4, np.uint64)] * 2), "length mismatch"),
    (lambda: ([np.empty(4), np.empty(4)], [np.ones(4), np.ones(4, np.float32)], [np.ones(4, np.uint64)] * 2),
     "invalid input list"),
    (lambda: ([np.empty(4)], [np.ones(4)], [np.ones(4, np.int64)]), "invalid input list"),
    (lambda: ([np.empty(4)], [np.ones(4)], [[1, 1, 1, 1]]), "invalid input list"),
])
def test_ma_v_batches_that_do_not_fit(make, message):
    with pytest.raises(ValueError, match=f"^{message}$"):
        algo.ma_v(*make())


@pytest.mark.parametrize("fn", ["ma_v", "lwma_v"])
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_variable_period_batches_match_single_calls(fn, dtype):
    rng = np.random.default_rng(5)
    xs = [random_series(rng, n, dtype=dtype) for n in (30, 7, 0)]
    ps = [rng.integers(0, 6, size=len(x)).astype(np.uint64) for x in xs]
    rs = [np.full(len(x), SENTINEL, dtype) for x in xs]
    algo.set_ctx(groups=2, start=1)
    assert getattr(algo, fn)(rs, xs, ps) is None
    for r, x, p in zip(rs, xs, ps):
        assert_same(r, run(getattr(algo, fn), x, p, dtype=dtype))


def test_ma_v_empty_batch_computes_nothing():
    assert algo.ma_v([], [], []) is None


def test_ma_v_strided_batch_item_fails_only_its_problem():
    rs = [np.full(4, SENTINEL), np.full(8, SENTINEL)[::2]]
    xs = [np.arange(4.0), np.arange(4.0)]
    ps = [np.full(4, 2, np.uint64)] * 2
    with pytest.raises(ValueError, match="^failed to get mutable slice$"):
        algo.ma_v(rs, xs, ps)
    assert_same(rs[0], [0, 0.5, 1.5, 2.5])
    rs = [np.full(4, SENTINEL), np.full(4, SENTINEL)]
    with pytest.raises(ValueError, match="^failed to get slice$"):
        algo.ma_v(rs, xs, [ps[0], np.full(8, 2, np.uint64)[::2]])
    assert_same(rs[0], [0, 0.5, 1.5, 2.5])
    assert (rs[1] == SENTINEL).all()


def test_lwma_batch_matches_single_calls():
    xs = [np.arange(1.0, 9.0), np.array([1, nan, 3, 4.0])]
    rs = [np.full(len(x), SENTINEL) for x in xs]
    algo.lwma(rs, xs, 2)
    for r, x in zip(rs, xs):
        assert_same(r, run(algo.lwma, x, params=(2,)))


@pytest.mark.parametrize("name,signature,doc", [
    ("ma_v", "(r, input, periods)", "Simple Moving Average with variable periods"),
    ("lwma", "(r, input, periods)", "Linear Weighted Moving Average"),
    ("lwma_v", "(r, input, periods)", "Linear Weighted Moving Average with variable periods"),
])
def test_signatures_and_docstrings(name, signature, doc):
    fn = getattr(algo, name)
    assert fn.__text_signature__ == signature
    assert fn.__doc__ == doc
