"""A few instruments held back to back in one array, each indicator computed
for all of them in one call."""

import numpy as np

import quorbel.algo as qa

rng = np.random.default_rng(2026)
names = ["ACME", "BOLT", "CRUX", "DUNE"]
bars = 30
# Daily closes: one random walk per instrument, all in one flat array.
closes = 100 * np.exp(np.cumsum(rng.normal(0.0005, 0.015, (len(names), bars)), axis=1)).ravel()
closes[bars + 10] = np.nan  # a missing quote for BOLT

qa.set_ctx(groups=len(names))  # every function now reads the array as 4 series of 30


def compute(fn, *args):
    r = np.empty_like(closes)
    fn(r, closes, *args)
    return r


columns = {
    "ma(5)": compute(qa.ma, 5),
    "ema(5)": compute(qa.ema, 5),
    "hhv(10)": compute(qa.hhv, 10),
    "drawdown(10)": compute(qa.max_drawdown, 10),
}
qa.set_ctx(flags=qa.FLAG_SKIP_NAN)  # windows of the last 5 quotes, gaps skipped
columns["ma(5) skip NaN"] = compute(qa.ma, 5)

print(f"{'':6}{'bar':>4}{'close':>9}" + "".join(f"{name:>15}" for name in columns))
for g, name in enumerate(names):
    for bar in (0, 1, 10, 11, 29):
        i = g * bars + bar
        print(f"{name:6}{bar:>4}{closes[i]:>9.2f}" + "".join(f"{col[i]:>15.3f}" for col in columns.values()))
