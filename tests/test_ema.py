"""Exponential averages (fixed and per-position factors) and the weighted delay."""

import math
import re
from fractions import Fraction

import numpy as np
import pandas as pd
import pytest

import quorbel.algo._algo as algo
from helpers import (FLAG_SKIP_NAN, FLAG_STRICT, MODES, SENTINEL, assert_groups_match_slices,
                     assert_quiet_nan_fill, assert_same, group_slices, odd_nan, random_layout, random_series, resolve,
                     run)

nan, inf = np.nan, np.inf
U64_MAX = 2**64 - 1
ALPHA_MESSAGE = "^invalid parameter: alpha must be between 0 and 1$"
WEIGHT_MESSAGE = "^invalid parameter: weight must be between 0 and 1$"


def u64(*values):
    return np.array(values, dtype=np.uint64)


def ema_alpha(p, dtype):
    # periods + 1 without wrapping, divided in the element type
    return dtype(2) / dtype(p + 1)


def recurrence(x, alpha, window, flags=0, start=0, groups=0, restart=True, dtype=np.float64):
    """Direct walk of the smoothing recurrence, per group: seeded with the
    group's first input, written from `start` to the end of the group (earlier
    positions keep the sentinel), in the element type with the two products
    rounded separately. `alpha` and `window` are per position."""
    x = np.asarray(x, dtype)
    alpha = np.broadcast_to(np.asarray(alpha, dtype), x.shape)
    window = np.broadcast_to(np.asarray(window, object), x.shape)
    out = np.full(len(x), SENTINEL, dtype)
    one = dtype(1)
    with np.errstate(all="ignore"):
        for off, length in group_slices(len(x), groups):
            s = x[off]
            first, _ = resolve(start, 0, length)
            for i in range(first, length):
                v, a, w = x[off + i], alpha[off + i], int(window[off + i])
                if flags & FLAG_SKIP_NAN and math.isnan(v):
                    out[off + i] = nan
                elif flags & FLAG_STRICT and w >= 1 and i + 1 < w:   # length 0: no warm-up
                    out[off + i] = nan
                    s = v
                else:
                    base = v if restart and math.isnan(s) else s
                    s = dtype(v * a) + dtype(base * (one - a))
                    out[off + i] = s
    return out


def ema_v_alpha(periods, dtype):
    """2 / (periods[i] + 1) in the element type, 0 where the parameter is 0."""
    return np.array([dtype(0) if q == 0 else dtype(2) / dtype(float(int(q) + 1)) for q in periods], dtype)


def sma_v_alpha(ns, m, dtype):
    """m / ns[i] in the element type, 0 where the parameter is 0."""
    return np.array([dtype(0) if q == 0 else dtype(m) / dtype(float(q)) for q in ns], dtype)


def weighted_delay_reference(x, p, start=0, end=0, groups=0, dtype=np.float64):
    """The p values before each position, newest weighted p, summed newest
    first in the element type."""
    x = np.asarray(x, dtype)
    out = np.full(len(x), nan)
    for off, length in group_slices(len(x), groups):
        s, e = resolve(start, end, length)
        for i in range(max(s, p), e):
            total = dtype(0)
            for j in range(1, p + 1):
                total = dtype(total + x[off + i - j] * dtype(p + 1 - j))
            out[off + i] = total / dtype(p * (p + 1) // 2)
    return out


# -- worked examples ----------------------------------------------------------------------

@pytest.mark.parametrize("mode,x,expected", [
    ("default", [1, 2, nan, 4], [1, 1.5, nan, 4]),           # restarts from the next value
    ("strict", [1, 2, nan, 4], [nan, nan, nan, 4]),
    ("skip_nan", [1, 2, nan, 4], [1, 1.5, nan, 2.75]),        # carries the state over the gap
    ("strict_skip_nan", [1, 2, nan, 4], [nan, nan, nan, 3]),
    ("strict", [1, 2, 6, 4], [nan, nan, 4, 4]),               # warm-up re-seeds with the raw input
    ("default", [nan, 2, 4, 4], [nan, 2, 3, 3.5]),
    ("skip_nan", [nan, nan, 4, 2], [nan, nan, 4, 3]),
])
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_ema_examples(mode, x, expected, dtype):
    algo.set_ctx(flags=MODES[mode])
    assert_same(run(algo.ema, x, params=(3,), dtype=dtype), np.array(expected, dtype))


@pytest.mark.parametrize("mode,expected", [
    ("default", [1, 1.5, nan, nan]),
    ("skip_nan", [1, 1.5, nan, 2.75]),
    ("strict", [nan, nan, nan, nan]),
])
def test_ema_v_has_no_nan_restart(mode, expected):
    algo.set_ctx(flags=MODES[mode])
    assert_same(run(algo.ema_v, [1, 2, nan, 4], u64(3, 3, 3, 3)), expected)


def test_ema_v_nan_seed_spoils_the_whole_group():
    algo.set_ctx(groups=2)
    assert_same(run(algo.ema_v, [nan, 2, 4, 1, 3, 5], u64(*[3] * 6)), [nan, nan, nan, 1, 2, 3.5])


def test_strict_warm_up_counts_from_the_group_start():
    # position 2 of each group follows a state re-seeded from position 1
    algo.set_ctx(flags=FLAG_STRICT, groups=2)
    x = [1, 3, 9, 5, 10, 20, 30, 40]
    assert_same(run(algo.ema, x, params=(3,)), [nan, nan, 9 * .5 + 3 * .5, 5.5, nan, nan, 25, 32.5])
    # no warm-up position computed: the first output follows the seed x[0]
    algo.set_ctx(flags=FLAG_STRICT, start=3, groups=0)
    assert_same(run(algo.ema, x, params=(3,)), [SENTINEL] * 3 + [5 * .5 + 1 * .5, 6.5, 13.25, 21.625, 30.8125])


def test_start_leaves_earlier_positions_and_seeds_from_the_first_element():
    algo.set_ctx(start=2, end=3)   # end does not apply to the exponential family
    assert_same(run(algo.ema, [10, 20, 30, 40], params=(3,)), [SENTINEL, SENTINEL, 20, 30])
    algo.set_ctx(start=2, end=3, groups=2)
    assert_same(run(algo.ema, [10, 20, 30, 40, 1, 2, 3, 4, 5, 6], params=(3,)),
                [SENTINEL, SENTINEL, 20, 30, 15.5, SENTINEL, SENTINEL, 3, 4, 5])


def call(name, x, extra, dtype=np.float64):
    """Runs one of the exponential family on x with the parameters `extra`
    (arrays are converted to the element type where they are float)."""
    fn = getattr(algo, name)
    arrays = [a for a in extra if isinstance(a, np.ndarray)]
    params = [a for a in extra if not isinstance(a, np.ndarray)]
    return run(fn, x, *arrays, params=params, dtype=dtype)


FAMILY = {
    "ema": (3,),
    "ema_v": (u64(*[3] * 10),),
    "sma": (4, 2),
    "sma_v": (u64(*[4] * 10), 2),
    "dma": (0.5,),
    "dma_v": (np.full(10, 0.5),),
}


@pytest.mark.parametrize("name", FAMILY)
@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_family_writes_only_from_start_to_the_group_end(name, mode, dtype):
    algo.set_ctx(flags=MODES[mode], start=-3, end=1, groups=2)
    r = call(name, np.arange(1.0, 11.0), FAMILY[name], dtype)
    assert (r[[0, 1, 5, 6]] == SENTINEL).all()
    assert (r[[2, 3, 4, 7, 8, 9]] != SENTINEL).all()


@pytest.mark.parametrize("name", FAMILY)
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_one_element_groups_yield_the_seed_recurrence(name, dtype):
    # every member has the factor 1/2 here; halving the smallest subnormal
    # rounds to 0, so x*a + x*(1-a) is not x for it
    algo.set_ctx(groups=10)
    x = np.array([0.9470809631292422, -1.1, 2.0 ** -1074, 3, 3e38, -7, 0.1, 5, nan, inf], dtype)
    half = dtype(0.5)
    with np.errstate(all="ignore"):
        expected = x * half + x * (dtype(1) - half)
    assert_same(call(name, x, FAMILY[name], dtype), expected)


@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_first_output_rounds_both_products(dtype):
    # with alpha 2/3 these seeds do not survive x*a + x*(1-a) unchanged
    x = np.array([0.9470809631292422, 0.9034701816518086] if dtype == np.float64
                 else [0.10490011423826218, 0.4116305410861969], dtype)
    a = ema_alpha(2, dtype)
    expected = x * a + x * (dtype(1) - a)
    assert (expected != x).all()
    algo.set_ctx(groups=2)
    np.testing.assert_array_equal(run(algo.ema, x, params=(2,), dtype=dtype), expected)


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_ema_periods_one_copies_the_input_from_start(mode, dtype):
    algo.set_ctx(flags=MODES[mode], start=1)
    x = np.array([1.5, -2, 3.25, 1e30, 0], dtype)
    assert_same(run(algo.ema, x, params=(1,), dtype=dtype), np.concatenate([[SENTINEL], x[1:]]))


@pytest.mark.parametrize("name,extra", [
    ("ema", (0,)),
    ("sma", (2, 3)),
    ("sma", (0, 1)),                 # infinite factor
    ("dma", (1.5,)),
    ("dma", (-0.1,)),
    ("dma", (inf,)),
    ("dma", (-inf,)),
])
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_factor_out_of_range_writes_nothing(name, extra, dtype):
    r = np.full(4, SENTINEL, dtype)
    with pytest.raises(ValueError, match=ALPHA_MESSAGE):
        getattr(algo, name)(r, np.ones(4, dtype), *extra)
    assert (r == SENTINEL).all()


@pytest.mark.parametrize("name,extra", [("sma", (0, 0)), ("dma", (nan,))])
@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_nan_factor_passes_and_gives_nan(name, extra, mode, dtype):
    algo.set_ctx(flags=MODES[mode], start=1)
    r = run(getattr(algo, name), [1, 2, 3, 4], params=extra, dtype=dtype)
    assert r[0] == SENTINEL and np.isnan(r[1:]).all()


@pytest.mark.parametrize("name,extra", [("dma", (1 + 1e-10,)), ("sma", (2**24, 2**24 + 1))])
def test_factor_is_tested_in_the_element_type(name, extra):
    # narrowed to float32 the factor is exactly 1, so the input is copied
    x = np.array([1.5, 2, 3], np.float32)
    assert_same(run(getattr(algo, name), x, params=extra, dtype=np.float32), x)
    with pytest.raises(ValueError, match=ALPHA_MESSAGE):
        run(getattr(algo, name), x, params=extra)


@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_sma_factor_is_m_over_n(dtype):
    x = np.array([4, 8, 0, 2, nan, 6], dtype)
    a = dtype(1) / dtype(3)
    assert_same(run(algo.sma, x, params=(3, 1), dtype=dtype), recurrence(x, a, 0, dtype=dtype))
    assert_same(run(algo.sma, x, params=(5, 5), dtype=dtype), x)


@pytest.mark.parametrize("name,extra", [("sma", (4, 2)), ("dma", (0.5,)), ("sma", (3, 3)), ("dma", (0.0,))])
@pytest.mark.parametrize("skip", [0, FLAG_SKIP_NAN])
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_strict_sma_and_dma_have_no_warm_up(name, extra, skip, dtype):
    # they hand the core a window length of 0, which marks no position as warm-up
    x = np.array([4, 8, nan, 2, 6, 1, nan, nan, 3], dtype)
    algo.set_ctx(flags=skip, groups=2, start=1)
    loose = run(getattr(algo, name), x, params=extra, dtype=dtype)
    algo.set_ctx(flags=skip | FLAG_STRICT, groups=2, start=1)
    assert_same(run(getattr(algo, name), x, params=extra, dtype=dtype), loose)
    assert not np.isnan(loose[[1, 5]]).any()


@pytest.mark.parametrize("name,m", [("ema_v", None), ("sma_v", 1)])
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_strict_parameter_zero_carries_the_state(name, m, dtype):
    # a parameter of 0 gives a factor of 0 and no warm-up: the state goes on unchanged
    algo.set_ctx(flags=FLAG_STRICT)
    params = u64(1, 0, 0, 2, 0)
    x = np.array([4, 8, 7, 2, 9], dtype)
    extra = () if m is None else (m,)
    expected = [4, 4, 4, 8 / 3, 8 / 3] if name == "ema_v" else [4, 4, 4, 3, 3]
    assert_same(run(getattr(algo, name), x, params, params=extra, dtype=dtype), np.array(expected, dtype),
                rtol=1e-6)


def test_sma_v_factor_above_one_is_computed():
    # m / ns[i] = 2: the state gets weight -1
    assert_same(run(algo.sma_v, [1, 3, 2], u64(1, 1, 1), params=(2,)), [1, 5, -1])
    assert_same(run(algo.sma_v, [1, 3, 2], u64(0, 4, 0), params=(2,)), [1, 2, 2])


@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_ema_periods_at_the_top_of_the_range(dtype):
    # periods + 1 does not wrap: the factor is 2/2^64, a valid smoothing factor
    x = np.array([3, 1e20, -1e20, 5], dtype)
    a = dtype(2.0**-63)
    assert_same(run(algo.ema, x, params=(U64_MAX,), dtype=dtype), recurrence(x, a, U64_MAX, dtype=dtype))
    assert_same(run(algo.ema, x, params=(U64_MAX - 1,), dtype=dtype), recurrence(x, a, U64_MAX, dtype=dtype))
    algo.set_ctx(flags=FLAG_STRICT)
    assert np.isnan(run(algo.ema, x, params=(U64_MAX,), dtype=dtype)).all()   # every position warms up


@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_huge_per_position_parameters(dtype):
    # periods[i] + 1 does not wrap either: U64_MAX gives the factor 2/2^64
    x = np.array([3, 1e20, -1e20, 5, 7, 1e20], dtype)
    periods = u64(U64_MAX - 1, 2**63, 2**40, 0, 1, U64_MAX)
    expected = recurrence(x, ema_v_alpha(periods, dtype), periods, restart=False, dtype=dtype)
    assert_same(run(algo.ema_v, x, periods, dtype=dtype), expected)
    expected = recurrence(x, sma_v_alpha(periods, 3, dtype), periods, restart=False, dtype=dtype)
    assert_same(run(algo.sma_v, x, periods, params=(3,), dtype=dtype), expected)
    algo.set_ctx(flags=FLAG_STRICT)
    expected = recurrence(x, ema_v_alpha(periods, dtype), periods, FLAG_STRICT, restart=False, dtype=dtype)
    assert_same(run(algo.ema_v, x, periods, dtype=dtype), expected)


def test_sma_with_huge_sizes():
    x = np.array([2.0, 4, 8])
    assert_same(run(algo.sma, x, params=(U64_MAX, 1)), recurrence(x, 2.0**-64, 0))
    assert_same(run(algo.sma, x, params=(U64_MAX, U64_MAX)), x)


MANY_GROUPS = {
    "ema": lambda n: ([], (5,)),
    "sma": lambda n: ([], (5, 2)),
    "dma": lambda n: ([], (0.3,)),
    "ema_v": lambda n: ([np.arange(n, dtype=np.uint64) % 7], ()),
    "sma_v": lambda n: ([np.arange(n, dtype=np.uint64) % 7 + 1], (1,)),
    "dma_v": lambda n: ([np.linspace(0, 1, n)], ()),
    "weighted_delay": lambda n: ([], (4,)),
}


@pytest.mark.parametrize("name", MANY_GROUPS)
@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_many_groups_match_separate_calls(name, mode, dtype):
    x = random_series(np.random.default_rng(43), 5003, nan_fraction=0.02, dtype=dtype)
    arrays, params = MANY_GROUPS[name](len(x))
    assert_groups_match_slices(getattr(algo, name), [x, *arrays], params, dtype=dtype, start=3, end=-2,
                               flags=MODES[mode])


# -- dma_v --------------------------------------------------------------------------------

@pytest.mark.parametrize("bad_at", [0, 3, 7])
@pytest.mark.parametrize("value", [1.01, -0.01, inf, -inf])
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_dma_v_rejects_any_weight_out_of_range(bad_at, value, dtype):
    # the whole weight array is checked, outside the computation range too
    algo.set_ctx(start=4, end=6, groups=2)
    w = np.full(8, 0.5, dtype)
    w[bad_at] = value
    r = np.full(8, SENTINEL, dtype)
    with pytest.raises(ValueError, match=WEIGHT_MESSAGE):
        algo.dma_v(r, np.ones(8, dtype), w)
    assert (r == SENTINEL).all()


@pytest.mark.parametrize("mode", MODES)
def test_dma_v_nan_and_edge_weights_pass(mode):
    algo.set_ctx(flags=MODES[mode])
    w = np.array([0, -0.0, 1, 0.25, nan, 0.5])
    x = np.array([4, 8, 6, 2, 9, 1.0])
    expected = recurrence(x, w, 0, MODES[mode] & FLAG_SKIP_NAN, restart=False)
    assert_same(run(algo.dma_v, x, w), expected)
    assert_same(expected, [4, 4, 6, 5, nan, nan])


def test_dma_v_ignores_strict_and_does_not_restart():
    w = np.full(5, 0.5)
    x = [2, 4, nan, 8, 6]
    for flags in (0, FLAG_STRICT):
        algo.set_ctx(flags=flags)
        assert_same(run(algo.dma_v, x, w), [2, 3, nan, nan, nan])
    for flags in (FLAG_SKIP_NAN, FLAG_SKIP_NAN | FLAG_STRICT):
        algo.set_ctx(flags=flags)
        assert_same(run(algo.dma_v, x, w), [2, 3, nan, 5.5, 5.75])


# -- weighted_delay -----------------------------------------------------------------------

@pytest.mark.parametrize("mode", MODES)
def test_weighted_delay_examples(mode):
    algo.set_ctx(flags=MODES[mode])   # the flags play no part
    assert_same(run(algo.weighted_delay, [1, 2, 3, 4], params=(2,)), [nan, nan, 5 / 3, 8 / 3])
    assert_same(run(algo.weighted_delay, [1, nan, 3, 4, 5], params=(2,)), [nan, nan, nan, nan, 11 / 3])
    assert_same(run(algo.weighted_delay, [1, 2, nan, 4], params=(1,)), [nan, 1, 2, nan])


@pytest.mark.parametrize("periods", [0, 2])
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_weighted_delay_missing_results_are_the_plain_quiet_nan(periods, dtype):
    algo.set_ctx(start=1, end=-1)
    x = np.array([1, 2, 3, 4, 5, 6], dtype)
    x[3] = odd_nan(dtype)
    r = run(algo.weighted_delay, x, params=(periods,), dtype=dtype)
    assert np.isnan(r).sum() >= 4
    assert_quiet_nan_fill(r)


def test_weighted_delay_periods_zero_fills_everything_with_nan():
    algo.set_ctx(start=2, end=-2, groups=3)
    assert np.isnan(run(algo.weighted_delay, np.arange(10.0), params=(0,))).all()


@pytest.mark.parametrize("periods", [5, 2**32, 2**63, U64_MAX])
def test_weighted_delay_without_enough_history_is_nan(periods):
    assert np.isnan(run(algo.weighted_delay, np.arange(5.0), params=(periods,))).all()


def test_weighted_delay_reads_before_start_and_fills_outside_the_range():
    algo.set_ctx(start=2, end=-1, groups=2)
    x = [1, 2, 3, 4, 5, 10, 20, 30, 40, 50]
    assert_same(run(algo.weighted_delay, x, params=(2,)), [nan, nan, 5 / 3, 8 / 3, nan, nan, nan, 50 / 3, 80 / 3, nan])


# -- randomised comparisons ---------------------------------------------------------------

@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_family_matches_a_direct_recurrence(mode, dtype):
    # the references do the same operations in the same order: equal to the bit
    rng = np.random.default_rng(200 + MODES[mode] + 10 * (dtype == np.float32))
    flags = MODES[mode]
    for _ in range(8):
        n, layout = random_layout(rng, max_n=300, ends=(0, -3, 5))   # end has no effect
        start, end, groups = layout["start"], layout["end"], layout["groups"]
        x = random_series(rng, n, nan_fraction=0.05, dtype=dtype)
        algo.set_ctx(flags=flags, start=start, end=end, groups=groups)
        where = dict(flags=flags, start=start, groups=groups, dtype=dtype)

        p = int(rng.choice([1, 2, 3, 9, 30]))
        assert_same(run(algo.ema, x, params=(p,), dtype=dtype), recurrence(x, ema_alpha(p, dtype), p, **where))

        nn, m = int(rng.integers(1, 20)), int(rng.integers(0, 5))
        m = min(m, nn)
        a = dtype(m) / dtype(nn)
        assert_same(run(algo.sma, x, params=(nn, m), dtype=dtype), recurrence(x, a, 0, **where))

        weight = float(rng.random())
        assert_same(run(algo.dma, x, params=(weight,), dtype=dtype), recurrence(x, dtype(weight), 0, **where))

        periods = rng.integers(0, 12, size=n).astype(np.uint64)
        expected = recurrence(x, ema_v_alpha(periods, dtype), periods, restart=False, **where)
        assert_same(run(algo.ema_v, x, periods, dtype=dtype), expected)
        expected = recurrence(x, sma_v_alpha(periods, 2, dtype), periods, restart=False, **where)
        assert_same(run(algo.sma_v, x, periods, params=(2,), dtype=dtype), expected)

        w = rng.random(n).astype(dtype)
        w[rng.random(n) < 0.05] = rng.choice([0, 1])
        expected = recurrence(x, w, 0, flags & FLAG_SKIP_NAN, start, groups, restart=False, dtype=dtype)
        assert_same(run(algo.dma_v, x, w, dtype=dtype), expected)

        p = int(rng.choice([1, 2, 5, 17]))
        expected = weighted_delay_reference(x, p, start, end, groups, dtype)
        assert_same(run(algo.weighted_delay, x, params=(p,), dtype=dtype), expected)


@pytest.mark.parametrize("alpha_of", [
    lambda x, a: run(algo.ema, x, params=(round(2 / a) - 1,)),   # periods 9 and 19
    lambda x, a: run(algo.dma, x, params=(a,)),
    lambda x, a: run(algo.sma, x, params=(round(1 / a), 1)),
], ids=["ema", "dma", "sma"])
@pytest.mark.parametrize("alpha", [0.2, 0.1])
def test_agrees_with_pandas_ewm(alpha_of, alpha):
    rng = np.random.default_rng(11)
    x = rng.normal(size=4000).cumsum()
    expected = pd.Series(x).ewm(alpha=alpha, adjust=False).mean().to_numpy()
    assert_same(alpha_of(x, alpha), expected, rtol=1e-12, atol=1e-12)
    # NaN-skipping mode carries the average over gaps like ignore_na does
    x[rng.random(len(x)) < 0.1] = nan
    x[0] = nan
    algo.set_ctx(flags=FLAG_SKIP_NAN)
    expected = pd.Series(x).ewm(alpha=alpha, adjust=False, ignore_na=True).mean().to_numpy(copy=True)
    expected[np.isnan(x)] = nan
    assert_same(alpha_of(x, alpha), expected, rtol=1e-12, atol=1e-12)


# -- errors and argument patterns ---------------------------------------------------------

def escape(message):
    return f"^{re.escape(message)}$"


@pytest.mark.parametrize("name,second,extra", [
    ("ema", None, (0,)),                       # lengths are checked before the factor
    ("sma", None, (1, 2)),
    ("dma", None, (2.0,)),
    ("weighted_delay", None, (0,)),
    ("ema_v", np.uint64, ()),
    ("sma_v", np.uint64, (1,)),
    ("dma_v", np.float64, ()),
])
def test_length_mismatch_names_the_right_array(name, second, extra):
    fn = getattr(algo, name)
    r = np.full(5, SENTINEL)
    args = [] if second is None else [np.full(5, 2, second)]
    with pytest.raises(ValueError, match=escape("result length (5) should be the same as as input length (4)")):
        fn(r, np.ones(4), *args, *extra)
    if second is not None:
        with pytest.raises(ValueError, match=escape("result length (5) should be the same as as input length (3)")):
            fn(r, np.ones(5), np.full(3, 7, second), *extra)
    assert (r == SENTINEL).all()


@pytest.mark.parametrize("make", [
    lambda: (np.empty(4), np.ones(4), np.ones(4, np.float32)),       # mixed widths
    lambda: (np.empty(4, np.float32), np.ones(4, np.float32), np.ones(4)),
    lambda: (np.empty(4), np.ones(4), 0.5),                          # a scalar weight
    lambda: (np.empty(4), np.ones(4), [0.5] * 4),
    lambda: (np.empty(4), np.ones(4), np.ones(4, bool)),
    lambda: ((np.empty(4),), (np.ones(4),), (np.ones(4),)),
    lambda: ([np.empty(4)], [np.ones(4)], np.ones(4)),
])
def test_dma_v_arguments_that_fit_nothing(make):
    with pytest.raises(ValueError, match="^invalid input$"):
        algo.dma_v(*make())


@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_dma_v_non_contiguous_arrays(dtype):
    r, x, w = np.full(4, SENTINEL, dtype), np.ones(4, dtype), np.full(4, 0.5, dtype)
    wide = np.zeros(8, dtype)
    with pytest.raises(ValueError, match="^failed to get mutable slice$"):
        algo.dma_v(wide[::2], x, w)
    with pytest.raises(ValueError, match="^failed to get slice$"):
        algo.dma_v(r, wide[::2], w)
    with pytest.raises(ValueError, match="^failed to get slice$"):
        algo.dma_v(r, x, wide[::-2])
    assert (r == SENTINEL).all() and (wide == 0).all()


@pytest.mark.parametrize("make,message", [
    (lambda: ([np.empty(4)] * 2, [np.ones(4)] * 2, [np.ones(4)]), "length mismatch"),
    (lambda: ([np.empty(4), np.empty(4)], [np.ones(4)] * 2, [np.ones(4), np.ones(4, np.float32)]),
     "invalid input list"),
    (lambda: ([np.empty(4)], [np.ones(4)], [[0.5] * 4]), "invalid input list"),
])
def test_dma_v_batches_that_do_not_fit(make, message):
    with pytest.raises(ValueError, match=escape(message)):
        algo.dma_v(*make())


def test_empty_batches_compute_nothing():
    assert algo.dma_v([], [], []) is None
    assert algo.ema([], [], 3) is None


def test_dma_v_batch_problems_fail_independently():
    rs = [np.full(3, SENTINEL) for _ in range(3)]
    xs = [np.array([2.0, 4, 6])] * 3
    ws = [np.full(3, 1.5), np.full(3, 0.5), np.full(2, 0.5)]
    with pytest.raises(ValueError, match=WEIGHT_MESSAGE):
        algo.dma_v(rs, xs, ws)
    assert (rs[0] == SENTINEL).all() and (rs[2] == SENTINEL).all()
    assert_same(rs[1], [2, 3, 4.5])
    rs = [np.full(3, SENTINEL), np.full(6, SENTINEL)[::2]]
    with pytest.raises(ValueError, match="^failed to get mutable slice$"):
        algo.dma_v(rs, xs[:2], ws[1:2] * 2)
    assert_same(rs[0], [2, 3, 4.5])


BATCHED = {
    "ema": lambda n: ((), (3,)),
    "sma": lambda n: ((), (3, 1)),
    "dma": lambda n: ((), (0.25,)),
    "weighted_delay": lambda n: ((), (2,)),
    "ema_v": lambda n: ((np.arange(n, dtype=np.uint64) % 4,), ()),
    "sma_v": lambda n: ((np.arange(n, dtype=np.uint64) % 4,), (1,)),
    "dma_v": lambda n: ((np.linspace(0, 1, n),), ()),
}


@pytest.mark.parametrize("name", BATCHED)
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_batches_match_single_calls(name, dtype):
    rng = np.random.default_rng(9)
    fn = getattr(algo, name)
    algo.set_ctx(start=1, groups=2, flags=FLAG_SKIP_NAN)
    xs = [random_series(rng, n, dtype=dtype) for n in (25, 6, 0)]
    extra = [BATCHED[name](len(x)) for x in xs]
    arrays = [[a if a.dtype == np.uint64 else a.astype(dtype) for a in e[0]] for e in extra]
    rs = [np.full(len(x), SENTINEL, dtype) for x in xs]
    lists = [list(col) for col in zip(*arrays)]
    assert fn(rs, xs, *lists, *extra[0][1]) is None
    for r, x, a, e in zip(rs, xs, arrays, extra):
        assert_same(r, run(fn, x, *a, params=e[1], dtype=dtype))


@pytest.mark.parametrize("name", ["ema", "sma", "dma", "weighted_delay"])
def test_single_factor_functions_mixed_widths(name):
    extra = BATCHED[name](4)[1]
    with pytest.raises(ValueError, match="^invalid input$"):
        getattr(algo, name)(np.empty(4), np.ones(4, np.float32), *extra)
    with pytest.raises(ValueError, match="^invalid input$"):
        getattr(algo, name)(np.empty(8, np.float32)[::2], np.ones(4, np.float32), *extra)


@pytest.mark.parametrize("name,args,error", [
    ("ema", dict(periods=-1), OverflowError),
    ("ema", dict(periods=2**64), OverflowError),
    ("sma", dict(n=-1, m=0), OverflowError),
    ("sma", dict(n=2, m=1.0), TypeError),
    ("dma", dict(weight=object()), TypeError),
    ("weighted_delay", dict(periods=None), TypeError),
    ("sma_v", dict(ns=u64(1, 1, 1), m=-2), OverflowError),
])
def test_scalar_conversion_errors_write_nothing(name, args, error):
    r = np.full(3, SENTINEL)
    with pytest.raises(error, match=[k for k in args if not isinstance(args[k], np.ndarray)][-1]):
        getattr(algo, name)(r=r, input=np.ones(3), **args)
    assert (r == SENTINEL).all()


def test_keyword_arguments():
    x = np.array([2.0, 4, 6])
    assert_same(run(lambda r, x: algo.ema(periods=3, input=x, r=r), x), [2, 3, 4.5])
    assert_same(run(lambda r, x: algo.sma(r, x, m=1, n=2), x), [2, 3, 4.5])
    assert_same(run(lambda r, x: algo.dma(weight=0.5, r=r, input=x), x), [2, 3, 4.5])
    assert_same(run(lambda r, x: algo.dma(r, x, 1), x), x)          # an integer weight
    assert_same(run(lambda r, x: algo.dma(r, x, Fraction(1, 2)), x), [2, 3, 4.5])
    assert_same(run(lambda r, x, p: algo.ema_v(r, periods=p, input=x), x, u64(3, 3, 3)), [2, 3, 4.5])
    assert_same(run(lambda r, x, p: algo.sma_v(r, x, m=1, ns=p), x, u64(2, 2, 2)), [2, 3, 4.5])
    assert_same(run(lambda r, x, w: algo.dma_v(weight=w, input=x, r=r), x, np.full(3, 0.5)), [2, 3, 4.5])
    assert_same(run(lambda r, x: algo.weighted_delay(r, x, periods=1), x), [nan, 2, 4])


@pytest.mark.parametrize("name,signature,doc", [
    ("sma", "(r, input, n, m)", "Exponential Moving Average (variant of well-known EMA) weight = m / n"),
    ("dma", "(r, input, weight)", "Exponential Moving Average"),
    ("ema_v", "(r, input, periods)", "Exponential Moving Average with variable periods"),
    ("sma_v", "(r, input, ns, m)",
     "Exponential Moving Average (variant of well-known EMA) weight = m / n with variable periods"),
    ("dma_v", "(r, input, weight)", "Exponential Moving Average with variable weight"),
    ("weighted_delay", "(r, input, periods)", "Calculate weighted delay (exponentially weighted lag)"),
])
def test_signatures_and_docstrings(name, signature, doc):
    fn = getattr(algo, name)
    assert fn.__text_signature__ == signature
    assert fn.__doc__ == doc


def test_ema_docstring():
    assert algo.ema.__text_signature__ == "(r, input, periods)"
    lines = algo.ema.__doc__.split("\n")
    assert lines[:4] == ["Exponential Moving Average (variant of EMA)", "", "alpha = 2 / (n + 1)", ""]
    assert len(lines) == 6 and lines[5] == "" and "http" in lines[4]
