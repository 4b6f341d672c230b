"""The benchmark cases: each returns {label: callable}, ours first."""

import numpy as np

import quorbel.algo as qa
from harness import case, series

try:
    import bottleneck as bn
except ImportError:  # pragma: no cover
    bn = None
try:
    import pandas as pd
except ImportError:  # pragma: no cover
    pd = None
try:
    import talib
except ImportError:  # pragma: no cover
    talib = None


def with_ctx(fn, **ctx):
    def run():
        qa.set_ctx(**{"start": 0, "end": 0, "groups": 0, "flags": 0, **ctx})
        fn()
    return run


def peers_1d(x, r, bn_fn=None, pd_fn=None):
    out = {"np.copyto": lambda: np.copyto(r, x)}
    if bn and bn_fn:
        out["bottleneck"] = lambda: bn_fn(x)
    if pd and pd_fn:
        s = pd.Series(x)
        out["pandas"] = lambda: pd_fn(s)
    return out


@case("ma p=20, 10^7 values, one group")
def _():
    x = series(10**7)
    r = np.empty_like(x)
    return {"ma": with_ctx(lambda: qa.ma(r, x, 20)),
            **peers_1d(x, r, lambda v: bn.move_mean(v, 20, min_count=1),
                       lambda s: s.rolling(20, min_periods=1).mean())}


@case("ma p=20, 4000 groups x 2500", scaling=True)
def _():
    x = series(4000 * 2500)
    r = np.empty_like(x)
    out = {"ma": with_ctx(lambda: qa.ma(r, x, 20), groups=4000), "np.copyto": lambda: np.copyto(r, x)}
    if bn:
        m = x.reshape(4000, 2500)
        out["bottleneck"] = lambda: bn.move_mean(m, 20, min_count=1, axis=1)
    if pd:
        df = pd.DataFrame(x.reshape(4000, 2500).T)
        out["pandas"] = lambda: df.rolling(20, min_periods=1).mean()
    return out


@case("ma p=20, 100 values (per-call cost)")
def _():
    x = series(100)
    r = np.empty_like(x)
    ma = qa.ma
    return {"ma": lambda: ma(r, x, 20), **peers_1d(x, r, lambda v: bn.move_mean(v, 20, min_count=1))}


@case("ma p=20, list batch of 1000 problems x 100 values", scaling=True)
def _():
    xs = [series(100, seed=k) for k in range(1000)]
    rs = [np.empty(100) for _ in range(1000)]
    ma = qa.ma

    def singles():
        for r, x in zip(rs, xs):
            ma(r, x, 20)
    return {"ma": with_ctx(lambda: ma(rs, xs, 20)), "1000 single calls": singles}


N = 10**7


def one_group(name, call, bn_fn=None, pd_fn=None, talib_fn=None, data=None, flags=0):
    """`call(r, x)` on 10^7 float64 values as one group, with its peers."""
    x = series(N) if data is None else data
    r = np.empty_like(x)
    out = {name: with_ctx(lambda: call(r, x), flags=flags), **peers_1d(x, r, bn_fn, pd_fn)}
    if talib and talib_fn:
        out["TA-Lib"] = lambda: talib_fn(x)
    return out


@case("sum p=20, 10^7 values, one group")
def _():
    return one_group("sum", lambda r, x: qa.sum(r, x, 20), lambda v: bn.move_sum(v, 20, min_count=1),
                     lambda s: s.rolling(20, min_periods=1).sum(), lambda v: talib.SUM(v, 20))


@case("ema p=20, 10^7 values, one group")
def _():
    return one_group("ema", lambda r, x: qa.ema(r, x, 20), None,
                     lambda s: s.ewm(alpha=2 / 21, adjust=False).mean(), lambda v: talib.EMA(v, 20))


@case("lwma p=20, 10^7 values, one group")
def _():
    return one_group("lwma", lambda r, x: qa.lwma(r, x, 20), None, None, lambda v: talib.WMA(v, 20))


@case("product p=20, 10^7 values, one group")
def _():
    x = np.random.default_rng(1).uniform(0.9, 1.1, N)
    # No library has a rolling product; the usual stand-in is exp of a rolling sum of logs.
    return one_group("product", lambda r, x: qa.product(r, x, 20),
                     lambda v: np.exp(bn.move_sum(np.log(v), 20, min_count=1)), data=x)


def variable_periods(n, seed=0):
    return np.random.default_rng(seed).integers(1, 100, n).astype(np.uint64)


for name in ("ma_v", "lwma_v"):
    for n, label in ((10**6, "10^6"), (N, "10^7")):
        @case(f"{name} periods 1..99, {label} values")
        def _(name=name, n=n):
            x, p = series(n), variable_periods(n)
            r = np.empty_like(x)
            fn = getattr(qa, name)
            return {name: with_ctx(lambda: fn(r, x, p)), "np.copyto": lambda: np.copyto(r, x)}


def random_values():
    return np.random.default_rng(2).normal(size=N)


for p in (20, 250):
    @case(f"hhv p={p}, 10^7 random values")
    def _(p=p):
        return one_group("hhv", lambda r, x: qa.hhv(r, x, p), lambda v: bn.move_max(v, p, min_count=1),
                         lambda s: s.rolling(p, min_periods=1).max(), lambda v: talib.MAX(v, p), data=random_values())

    @case(f"llv p={p}, 10^7 random values")
    def _(p=p):
        return one_group("llv", lambda r, x: qa.llv(r, x, p), lambda v: bn.move_min(v, p, min_count=1),
                         lambda s: s.rolling(p, min_periods=1).min(), lambda v: talib.MIN(v, p), data=random_values())


@case("hhv p=250, 10^7 increasing values (adversarial for a queue)")
def _():
    return one_group("hhv", lambda r, x: qa.hhv(r, x, 250), lambda v: bn.move_max(v, 250, min_count=1),
                     data=np.arange(float(N)))


@case("hhv p=250, 10^7 decreasing values (adversarial for a queue)")
def _():
    return one_group("hhv", lambda r, x: qa.hhv(r, x, 250), lambda v: bn.move_max(v, 250, min_count=1),
                     data=np.arange(float(N))[::-1].copy())


@case("hhvbars p=20, 10^7 random values")
def _():
    return one_group("hhvbars", lambda r, x: qa.hhvbars(r, x, 20), lambda v: bn.move_argmax(v, 20, min_count=1),
                     data=random_values())


@case("hhv p=20, NaN-skipping, 10^7 random values")
def _():
    return one_group("hhv", lambda r, x: qa.hhv(r, x, 20), lambda v: bn.move_max(v, 20, min_count=1),
                     data=random_values(), flags=1)


@case("min_max_diff p=20, 10^7 random values")
def _():
    return one_group("min_max_diff", lambda r, x: qa.min_max_diff(r, x, 20), data=random_values())


@case("max_drawdown p=20, 10^6 values (O(n*p) by definition)")
def _():
    x = np.exp(series(10**6) * 0.01)
    r = np.empty_like(x)
    return {"max_drawdown": with_ctx(lambda: qa.max_drawdown(r, x, 20)), "np.copyto": lambda: np.copyto(r, x)}


@case("max_drawdown p=250, 10^6 values (O(n*p) by definition)")
def _():
    x = np.exp(series(10**6) * 0.01)
    r = np.empty_like(x)
    return {"max_drawdown": with_ctx(lambda: qa.max_drawdown(r, x, 250)), "np.copyto": lambda: np.copyto(r, x)}
