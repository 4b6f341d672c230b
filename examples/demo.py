"""A few instruments held back to back in one array, smoothed in one call."""

import numpy as np

import quorbel.algo as qa

rng = np.random.default_rng(2026)
names = ["ACME", "BOLT", "CRUX", "DUNE"]
bars = 30
# Daily closes: one random walk per instrument, all in one flat array.
closes = 100 * np.exp(np.cumsum(rng.normal(0.0005, 0.015, (len(names), bars)), axis=1)).ravel()
closes[bars + 10] = np.nan  # a missing quote for BOLT

qa.set_ctx(groups=len(names))  # every function now reads the array as 4 series of 30
ma5 = np.empty_like(closes)
qa.ma(ma5, closes, 5)

qa.set_ctx(flags=qa.FLAG_SKIP_NAN)  # windows of the last 5 quotes, gaps skipped
ma5_skip = np.empty_like(closes)
qa.ma(ma5_skip, closes, 5)

print(f"{'':6}{'bar':>4}{'close':>10}{'ma(5)':>10}{'skip NaN':>10}")
for g, name in enumerate(names):
    for bar in (0, 1, 10, 11, 28, 29):
        i = g * bars + bar
        print(f"{name:6}{bar:>4}{closes[i]:>10.2f}{ma5[i]:>10.2f}{ma5_skip[i]:>10.2f}")
