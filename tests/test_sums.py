"""Window sums, conditional sums, products and the bars needed to reach an amount."""

import math
import re

import bottleneck as bn
import numpy as np
import pandas as pd
import pytest

import quorbel.algo._algo as algo
from helpers import (FLAG_SKIP_NAN, FLAG_STRICT, MODES, SENTINEL, assert_groups_match_slices,
                     assert_quiet_nan_fill, assert_same, group_slices, odd_nan, random_layout, random_series, resolve,
                     run, tolerance, window_reference)

nan, inf = np.nan, np.inf
T, F = True, False
U64_MAX = 2**64 - 1


def bools(*values):
    return np.array(values, dtype=bool)


def escape(message):
    return f"^{re.escape(message)}$"


def cumulative_reference(x, start=0, end=0, groups=0, product=False, condition=None):
    """periods = 0: running total from `start`, repeated where nothing enters
    once something has been written."""
    x = np.asarray(x, np.float64)
    cond = np.ones(len(x), bool) if condition is None else np.asarray(condition)
    out = np.full(len(x), nan)
    for off, length in group_slices(len(x), groups):
        s, e = resolve(start, end, length)
        total, written = (1.0 if product else 0.0), False
        for i in range(off + s, off + e):
            if not math.isnan(x[i]) and cond[i]:
                total = total * x[i] if product else total + x[i]
                written = True
            if written:
                out[i] = total
    return out


def sumif_reference(x, cond, p, flags=0, start=0, end=0, groups=0):
    if p == 0:
        return cumulative_reference(x, start, end, groups, condition=cond)
    x = np.asarray(x, np.float64)
    out = np.full(len(x), nan)
    strict = bool(flags & FLAG_STRICT)
    for off, length in group_slices(len(x), groups):
        xs, cs = x[off:off + length], cond[off:off + length]
        s, e = resolve(start, end, length)
        for t in range(s, e):
            if flags & FLAG_SKIP_NAN:
                # the last p non-NaN values whatever their conditions
                if math.isnan(xs[t]):
                    continue
                window = [j for j in range(s, t + 1) if not math.isnan(xs[j])][-p:]
                if strict and (len(window) != p or window[0] != t - p + 1):
                    continue
            else:
                if strict and t < p - 1:
                    continue
                window = range(max(0, t - p + 1), t + 1)
            counted = [xs[j] for j in window if cs[j]]
            if not flags & FLAG_SKIP_NAN and any(math.isnan(v) for v in counted):
                continue
            out[off + t] = sum(counted)
    return out


def sumbars_reference(x, amount, flags=0, start=0, end=0, groups=0, dtype=np.float64):
    """Walks back from each position, summing in the element type."""
    x = np.asarray(x, dtype)
    amount = dtype(amount)
    out = np.full(len(x), nan)
    with np.errstate(all="ignore"):
        for off, length in group_slices(len(x), groups):
            s, e = resolve(start, end, length)
            for t in range(s, e):
                total, count = dtype(0), 0
                for k in range(t, -1, -1):
                    v = x[off + k]
                    if flags & FLAG_SKIP_NAN and math.isnan(v):
                        continue
                    total, count = dtype(total + v), count + 1
                    if math.isnan(total):
                        break
                    if not math.isnan(total) and total >= amount:
                        out[off + t] = count if flags & FLAG_SKIP_NAN else t - k + 1
                        break
    return out


# -- worked examples ----------------------------------------------------------------------

@pytest.mark.parametrize("fn,mode,x,p,start,expected", [
    ("sum", "default", [1, 2, nan, 4, 5], 2, 0, [1, 3, nan, nan, 9]),
    ("sum", "strict", [1, 2, nan, 4, 5], 2, 0, [nan, 3, nan, nan, 9]),
    ("sum", "skip_nan", [1, 2, nan, 4, 5], 2, 0, [1, 3, nan, 6, 9]),
    ("sum", "strict_skip_nan", [1, 2, nan, 4, 5], 2, 0, [nan, 3, nan, nan, 9]),
    ("sum", "default", [1, 2, 3, 4], 2, 2, [nan, nan, 5, 7]),           # reaches back before start
    ("sum", "strict", [1, 2, 3, 4], 3, 2, [nan, nan, 6, 9]),
    ("sum", "skip_nan", [1, 2, 3, 4], 2, 2, [nan, nan, 3, 7]),          # never does
    ("sum", "default", [1, inf, 1, 1], 2, 0, [1, inf, inf, nan]),       # inf - inf once it leaves
    ("sum", "default", [1, 2, 3], 5, 0, [1, 3, 6]),
    ("sum", "strict", [1, 2, 3], 5, 0, [nan, nan, nan]),
    ("product", "default", [2, 0, 3, 4], 2, 0, [2, 0, 0, 12]),
    ("product", "strict", [2, 0, 3, 4], 2, 0, [nan, 0, 0, 12]),
    ("product", "default", [2, nan, 3], 2, 0, [2, nan, nan]),
    ("product", "skip_nan", [2, nan, 3, 0, 5, 4], 2, 0, [2, nan, 6, 0, 0, 20]),
    ("product", "strict_skip_nan", [2, nan, 3, 0, 5, 4], 2, 0, [nan, nan, nan, 0, 0, 20]),
    ("product", "default", [2, nan, 3, 4], 2, 2, [nan, nan, nan, 12]),
    ("product", "default", [2, inf, 3, 4], 2, 0, [2, inf, inf, nan]),
    ("product", "default", [0, 0, 5, -2], 2, 0, [0, 0, 0, -10]),
])
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_window_examples(fn, mode, x, p, start, expected, dtype):
    algo.set_ctx(flags=MODES[mode], start=start)
    assert_same(run(getattr(algo, fn), x, params=(p,), dtype=dtype), np.array(expected, dtype))


@pytest.mark.parametrize("fn,x,start,expected", [
    ("sum", [1, nan, 2], 0, [1, 1, 3]),
    ("sum", [nan, 1], 0, [nan, 1]),
    ("sum", [5, 1, nan, 2], 1, [nan, 1, 1, 3]),              # nothing before start is used
    ("sum", [5, 1, nan, 2], 2, [nan, nan, nan, 2]),
    ("product", [2, 0, 3], 0, [2, 0, 0]),
    ("product", [nan, 2, nan, 3], 0, [nan, 2, 2, 6]),
    ("product", [7, nan, 2, 3], 1, [nan, nan, 2, 6]),
])
@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_periods_zero_is_cumulative_in_every_mode(fn, x, start, expected, mode, dtype):
    algo.set_ctx(flags=MODES[mode], start=start)
    assert_same(run(getattr(algo, fn), x, params=(0,), dtype=dtype), np.array(expected, dtype))


@pytest.mark.parametrize("mode,x,cond,p,expected", [
    # a NaN with a false condition neither counts nor blocks the output
    ("default", [1, nan, 3], [T, F, T], 2, [1, 1, 3]),
    ("default", [1, nan, 3], [T, T, T], 2, [1, nan, nan]),
    ("strict", [1, nan, 3], [T, F, T], 2, [nan, 1, 3]),
    ("skip_nan", [1, nan, 3], [T, F, T], 2, [1, nan, 4]),
    ("skip_nan", [1, nan, 3, 5], [F, T, T, F], 2, [0, nan, 3, 3]),
    ("strict_skip_nan", [1, nan, 3, 5], [T, T, T, T], 2, [nan, nan, nan, 8]),
    ("default", [1, 2, 3], [F, F, F], 2, [0, 0, 0]),           # an empty sum is 0
    ("default", [1, 2, 3, 4], [F, T, F, T], 2, [0, 2, 2, 4]),
    ("default", [1, 2, 3, 4], [F, T, F, T], 0, [nan, 2, 2, 6]),
    ("strict", [1, 2, nan, 4], [F, T, T, F], 0, [nan, 2, 2, 2]),
    ("skip_nan", [1, 2, 3], [F, F, F], 0, [nan, nan, nan]),
])
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_sumif_examples(mode, x, cond, p, expected, dtype):
    algo.set_ctx(flags=MODES[mode])
    assert_same(run(algo.sumif, x, bools(*cond), params=(p,), dtype=dtype), np.array(expected, dtype))


def test_sumif_preload_respects_conditions():
    algo.set_ctx(start=2)
    x, cond = [nan, 10, 1, 2, 3], bools(F, T, T, F, T)
    assert_same(run(algo.sumif, x, cond, params=(3,)), [nan, nan, 11, 11, 4])
    assert_same(run(algo.sumif, x, bools(T, T, T, F, T), params=(3,)), [nan, nan, nan, 11, 4])


@pytest.mark.parametrize("mode,x,amount,expected", [
    ("default", [1, 2, 3], 4, [nan, nan, 2]),
    ("default", [1, 2, 3], 3, [nan, 2, 1]),
    ("default", [5, nan, 1], 6, [nan, nan, nan]),      # the NaN is met before the amount
    ("skip_nan", [5, nan, 1], 6, [nan, nan, 2]),
    ("skip_nan", [5, nan], 5, [1, 1]),                 # a NaN position walks on and counts what it adds
    ("default", [5, nan], 5, [1, nan]),
    ("strict", [1, 2, 3], 3, [nan, 2, 1]),
    ("default", [1, -2, 3], -1, [1, 2, 1]),
    ("default", [1, 2, 3], nan, [nan, nan, nan]),
    ("default", [1, nan, 3], -inf, [1, nan, 1]),
    ("default", [1, 2, 3], inf, [nan, nan, nan]),
    ("default", [-1, -1, 4, -1], 3, [nan, nan, 1, 2]),
])
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_sumbars_examples(mode, x, amount, expected, dtype):
    algo.set_ctx(flags=MODES[mode])
    assert_same(run(algo.sumbars, x, params=(amount,), dtype=dtype), np.array(expected, dtype))


def test_sumbars_walks_back_before_start_but_not_into_another_group():
    algo.set_ctx(start=2, end=-1, groups=2)
    x = [3, 1, 1, 1, 9, .5, .5, .5, .5, .5]
    assert_same(run(algo.sumbars, x, params=(4,)), [nan, nan, 3, 4, nan, nan, nan, nan, nan, nan])


def test_sumbars_amount_is_narrowed_for_float32():
    # 1 + 2^-30 is 1 in float32, so one bar of 1 reaches it
    amount = 1 + 2.0**-30
    assert_same(run(algo.sumbars, [1.0, 0.5], params=(amount,), dtype=np.float32), [1, 2])
    assert_same(run(algo.sumbars, [1.0, 0.5], params=(amount,)), [nan, 2])


@pytest.mark.parametrize("dtype,big", [(np.float64, 1e16), (np.float32, 1e8)])
@pytest.mark.parametrize("mode", MODES)
def test_running_sum_is_updated_not_recomputed(dtype, big, mode):
    # big + 1 rounds back to big, so once big leaves the window the ones are lost
    algo.set_ctx(flags=MODES[mode])
    x = np.array([big, 1, 1, 1], dtype)
    expected = [nan if mode.startswith("strict") else big, big, 0, 0]
    assert_same(run(algo.sum, x, params=(2,), dtype=dtype), np.array(expected, dtype))
    assert_same(run(algo.sumif, x, bools(T, T, T, T), params=(2,), dtype=dtype), np.array(expected, dtype))


@pytest.mark.parametrize("fn", ["sum", "product", "sumif"])
@pytest.mark.parametrize("periods", [2**32 + 1, 2**63, U64_MAX])
def test_periods_near_the_top_of_the_range(fn, periods):
    # windows longer than the group: a running total in the default mode and
    # nothing in the strict one, also when the window would reach before start
    x = np.array([2.0, 3, 0.5, 4, 1])
    extra = (bools(T, T, T, T, T),) if fn == "sumif" else ()
    running = np.cumprod if fn == "product" else np.cumsum
    algo.set_ctx(start=2)
    assert_same(run(getattr(algo, fn), x, *extra, params=(periods,)), [nan, nan, *running(x)[2:]])
    algo.set_ctx(start=2, flags=FLAG_SKIP_NAN)   # values before start never enter
    assert_same(run(getattr(algo, fn), x, *extra, params=(periods,)), [nan, nan, *running(x[2:])])
    for flags in (FLAG_STRICT, FLAG_STRICT | FLAG_SKIP_NAN):
        algo.set_ctx(start=2, flags=flags)
        assert np.isnan(run(getattr(algo, fn), x, *extra, params=(periods,))).all()


@pytest.mark.parametrize("fn", ["sum", "product", "sumbars"])
@pytest.mark.parametrize("mode", MODES)
def test_positions_outside_the_range_are_nan(fn, mode):
    algo.set_ctx(flags=MODES[mode], start=1, end=-1, groups=2)
    r = run(getattr(algo, fn), np.arange(1.0, 9.0), params=(1,))
    assert np.isnan(r[[0, 3, 4, 7]]).all() and not np.isnan(r[[1, 2, 5, 6]]).any()


@pytest.mark.parametrize("fn,params", [("sum", (7,)), ("sum", (0,)), ("product", (7,)), ("sumif", (7,)),
                                       ("sumif", (0,)), ("sumbars", (3.0,))])
@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_many_groups_match_separate_calls(fn, params, mode, dtype):
    rng = np.random.default_rng(47)
    x = np.abs(random_series(rng, 5003, dtype=dtype))
    arrays = [x, rng.random(len(x)) < 0.5] if fn == "sumif" else [x]
    assert_groups_match_slices(getattr(algo, fn), arrays, params, dtype=dtype, start=3, end=-2, flags=MODES[mode])


@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_missing_results_are_the_plain_quiet_nan(dtype):
    # the NaN of an input is never passed on as a result
    algo.set_ctx(start=1, end=-1)
    x = np.array([1, 2, 3, 4, 5, 6], dtype)
    x[3] = odd_nan(dtype)
    cond = np.ones(6, bool)
    for flags in MODES.values():
        algo.set_ctx(flags=flags)
        for r in (run(algo.sum, x, params=(2,), dtype=dtype), run(algo.product, x, params=(2,), dtype=dtype),
                  run(algo.sumif, x, cond, params=(2,), dtype=dtype), run(algo.sum, x, params=(0,), dtype=dtype),
                  run(algo.sumbars, x, params=(100,), dtype=dtype)):
            assert np.isnan(r).any()
            assert_quiet_nan_fill(r)


# -- randomised comparisons ---------------------------------------------------------------

@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_matches_window_by_window_recomputation(mode, dtype):
    rng = np.random.default_rng(300 + MODES[mode] + 10 * (dtype == np.float32))
    flags = MODES[mode]
    for _ in range(10):
        n, where = random_layout(rng)
        algo.set_ctx(flags=flags, **where)
        x = random_series(rng, n, nan_fraction=0.08, dtype=dtype)
        cond = rng.random(n) < 0.6
        # factors near 1 with some exact zeros keep the products tame
        f = (1 + 0.3 * random_series(rng, n, nan_fraction=0.08)).astype(dtype)
        f[rng.random(n) < 0.05] = 0
        tol = tolerance(dtype)

        for p in (int(rng.choice([1, 2, 3, 5, 17, 60])), 0):
            if p:
                sums = window_reference(x, p, flags, stat=np.sum, **where)
                products = window_reference(f, p, flags, stat=np.prod, **where)
            else:
                sums = cumulative_reference(x, **where)
                products = cumulative_reference(f, product=True, **where)
            assert_same(run(algo.sum, x, params=(p,), dtype=dtype), sums, **tol)
            assert_same(run(algo.product, f, params=(p,), dtype=dtype), products, **tol)
            expected = sumif_reference(x, cond, p, flags, **where)
            assert_same(run(algo.sumif, x, cond, params=(p,), dtype=dtype), expected, **tol)

        amount = float(rng.choice([-1.0, 0.5, 2.0, 6.0]))
        positive = np.abs(x)
        expected = sumbars_reference(positive, amount, flags, dtype=dtype, **where)
        assert_same(run(algo.sumbars, positive, params=(amount,), dtype=dtype), expected)


def test_agrees_with_pandas_and_bottleneck_rolling_sums():
    rng = np.random.default_rng(17)
    x = rng.normal(size=5000)
    for p in (1, 2, 30, 400):
        assert_same(run(algo.sum, x, params=(p,)), pd.Series(x).rolling(p, min_periods=1).sum().to_numpy(),
                    rtol=1e-9, atol=1e-9)
        algo.set_ctx(flags=FLAG_STRICT)
        assert_same(run(algo.sum, x, params=(p,)), bn.move_sum(x, p), rtol=1e-9, atol=1e-9)
        algo.set_ctx(flags=0)
    x[rng.random(len(x)) < 0.1] = nan
    seen = np.cumsum(~np.isnan(x)) > 0
    assert_same(run(algo.sum, x, params=(0,)), np.where(seen, np.nancumsum(x), nan), rtol=1e-9, atol=1e-9)
    f = 1 + 0.01 * rng.normal(size=len(x))
    f[rng.random(len(x)) < 0.1] = nan
    assert_same(run(algo.product, f, params=(0,)), np.where(np.cumsum(~np.isnan(f)) > 0, np.nancumprod(f), nan),
                rtol=1e-9)


def test_sumif_with_every_condition_true_is_sum():
    rng = np.random.default_rng(23)
    x = random_series(rng, 300)
    for flags in MODES.values():
        algo.set_ctx(flags=flags, groups=3, start=4)
        for p in (0, 1, 4, 50):
            assert_same(run(algo.sumif, x, np.ones(300, bool), params=(p,)), run(algo.sum, x, params=(p,)))


# -- errors and argument patterns ---------------------------------------------------------

@pytest.mark.parametrize("fn,extra", [("sum", (2,)), ("product", (2,)), ("sumbars", (1.0,))])
def test_length_mismatch_writes_nothing(fn, extra):
    r = np.full(5, SENTINEL)
    with pytest.raises(ValueError, match=escape("result length (5) should be the same as as input length (6)")):
        getattr(algo, fn)(r, np.ones(6), *extra)
    assert (r == SENTINEL).all()


@pytest.mark.parametrize("nx,nc,second", [(5, 3, 3), (4, 5, 4), (4, 3, 4)])
def test_sumif_length_mismatch_names_input_then_condition(nx, nc, second):
    r = np.full(5, SENTINEL)
    with pytest.raises(ValueError, match=escape(f"result length (5) should be the same as as input length ({second})")):
        algo.sumif(r, np.ones(nx), np.ones(nc, bool), 2)
    assert (r == SENTINEL).all()


@pytest.mark.parametrize("make", [
    lambda: (np.empty(4), np.ones(4, np.float32), np.ones(4, bool)),       # mixed widths
    lambda: (np.empty(4, np.float32), np.ones(4), np.ones(4, bool)),
    lambda: (np.empty(4), np.ones(4), np.ones(4)),                          # a float condition
    lambda: (np.empty(4), np.ones(4), np.ones(4, np.uint8)),
    lambda: (np.empty(4), np.ones(4), [True] * 4),
    lambda: ([np.empty(4)], [np.ones(4)], [np.ones(4, bool)]),              # no list batches
    lambda: ([np.empty(4, np.float32)], [np.ones(4, np.float32)], [np.ones(4, bool)]),
    lambda: ((np.empty(4),), (np.ones(4),), (np.ones(4, bool),)),
    lambda: (np.empty((2, 2)), np.ones((2, 2)), np.ones((2, 2), bool)),
])
def test_sumif_arguments_that_fit_nothing(make):
    with pytest.raises(ValueError, match=r"^invalid input \(expected float, float, bool\)$"):
        algo.sumif(*make(), 2)


@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_sumif_non_contiguous_arrays(dtype):
    # named after the array in both attempts
    r, x, c = np.full(4, SENTINEL, dtype), np.ones(4, dtype), np.ones(4, bool)
    with pytest.raises(ValueError, match="^failed to get mutable slice$"):
        algo.sumif(np.zeros(8, dtype)[::2], x, c, 2)
    with pytest.raises(ValueError, match="^failed to get slice$"):
        algo.sumif(r, np.zeros(8, dtype)[::2], c, 2)
    with pytest.raises(ValueError, match="^failed to get slice$"):
        algo.sumif(r, x, np.ones(8, bool)[::-2], 2)
    assert (r == SENTINEL).all()


@pytest.mark.parametrize("fn,extra", [("sum", (3,)), ("product", (2,)), ("sumbars", (1.5,)), ("sum", (0,))])
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_batches_match_single_calls(fn, extra, dtype):
    rng = np.random.default_rng(31)
    algo.set_ctx(start=1, groups=2)
    xs = [np.abs(random_series(rng, n, dtype=dtype)) for n in (25, 6, 0)]
    rs = [np.full(len(x), SENTINEL, dtype) for x in xs]
    assert getattr(algo, fn)(rs, xs, *extra) is None
    for r, x in zip(rs, xs):
        assert_same(r, run(getattr(algo, fn), x, params=extra, dtype=dtype))


@pytest.mark.parametrize("fn,extra", [("sum", (3,)), ("product", (2,)), ("sumbars", (1.5,))])
def test_pattern_a_refusals(fn, extra):
    with pytest.raises(ValueError, match="^invalid input$"):
        getattr(algo, fn)(np.empty(4), np.ones(4, np.float32), *extra)
    with pytest.raises(ValueError, match="^invalid input$"):
        getattr(algo, fn)(np.empty(4, np.float32), np.ones(8, np.float32)[::2], *extra)
    with pytest.raises(ValueError, match="^invalid input$"):
        getattr(algo, fn)([np.empty(4)], [np.ones(4, np.float32)], *extra)


@pytest.mark.parametrize("fn,args,error", [
    ("sum", dict(periods=-1), OverflowError),
    ("product", dict(periods=2**64), OverflowError),
    ("sumif", dict(condition=np.ones(3, bool), periods=1.5), TypeError),
    ("sumbars", dict(amount=object()), TypeError),
    ("sumbars", dict(amount=None), TypeError),
])
def test_scalar_conversion_errors_write_nothing(fn, args, error):
    r = np.full(3, SENTINEL)
    with pytest.raises(error, match=next(iter(args.keys() - {"condition"}))):
        getattr(algo, fn)(r=r, input=np.ones(3), **args)
    assert (r == SENTINEL).all()


def test_keyword_arguments():
    x = np.array([1.0, 2, 3])
    assert_same(run(lambda r, x: algo.sum(periods=2, input=x, r=r), x), [1, 3, 5])
    assert_same(run(lambda r, x: algo.product(r, periods=2, input=x), x), [1, 2, 6])
    assert_same(run(lambda r, x: algo.sumbars(amount=5, r=r, input=x), x), [nan, nan, 2])
    assert_same(run(lambda r, x, c: algo.sumif(r, x, periods=2, condition=c), x, bools(T, F, T)), [1, 1, 3])
    assert_same(run(lambda r, x: algo.sumbars(r, x, 2), x), [nan, 1, 1])   # an integer amount


@pytest.mark.parametrize("name,signature,doc", [
    ("sum", "(r, input, periods)", "Calculate sum of values in preceding `periods` window"),
    ("sumif", "(r, input, condition, periods)",
     "Calculate sum of values in preceding `periods` window where `condition` is true"),
    ("product", "(r, input, periods)", "Calculate product of values in preceding `periods` window"),
    ("sumbars", "(r, input, amount)",
     "Calculate number of periods (bars) backwards until the sum of values is greater than or equal to `amount`"),
])
def test_signatures_and_docstrings(name, signature, doc):
    fn = getattr(algo, name)
    assert fn.__text_signature__ == signature
    assert fn.__doc__ == doc
