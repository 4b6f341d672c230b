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
