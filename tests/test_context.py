"""The process-wide context: set_ctx, range resolution and group slices."""

import numpy as np
import pytest

import quorbel.algo._algo as algo
from helpers import group_slices, resolve, run


def written(r):
    return [i for i, v in enumerate(r) if not np.isnan(v)]


@pytest.mark.parametrize("n,start,end,expected", [
    (10, 0, 0, (0, 10)),
    (3, 5, 0, (2, 3)),        # a start past the end still selects the last position
    (10, -2, 0, (8, 10)),
    (10, -20, 0, (0, 10)),
    (10, 0, 4, (0, 4)),
    (10, 0, -3, (0, 7)),
    (10, 0, 20, (0, 10)),
    (10, 0, -20, (0, 0)),     # nothing computed
    (10, 6, 3, (6, 3)),       # start >= end: nothing computed
    (1, 0, 0, (0, 1)),
])
def test_computation_range(n, start, end, expected):
    assert resolve(start, end, n) == expected
    algo.set_ctx(start=start, end=end)
    r = run(algo.ma, np.ones(n), params=(2,))
    assert written(r) == list(range(*expected))
    assert np.isnan(r[[i for i in range(n) if i not in range(*expected)]]).all()


@pytest.mark.parametrize("n,groups,lengths", [
    (10, 3, [3, 3, 3, 1]),
    (10, 4, [2, 2, 2, 2, 2]),
    (3, 5, [1, 1, 1]),
    (6, 0, [6]),
    (6, 1, [6]),
])
def test_group_slices(n, groups, lengths):
    assert [length for _, length in group_slices(n, groups)] == lengths
    # A cumulative mean restarts at every slice border.
    x = np.arange(1.0, n + 1)
    algo.set_ctx(groups=groups)
    r = run(algo.ma, x, params=(n,))
    expected = np.concatenate([np.cumsum(x[o:o + k]) / np.arange(1, k + 1) for o, k in group_slices(n, groups)])
    np.testing.assert_array_equal(r, expected)


def test_ranges_apply_to_each_group_slice():
    algo.set_ctx(groups=2, start=1, end=-1)
    r = run(algo.ma, np.arange(8.0), params=(2,))
    np.testing.assert_array_equal(np.isnan(r), [1, 0, 0, 1, 1, 0, 0, 1])


def test_set_ctx_keeps_what_is_not_given():
    algo.set_ctx(start=1, end=-1, groups=2, flags=2)
    assert algo.set_ctx() is None
    algo.set_ctx(groups=4)
    algo.set_ctx(None, None, None, None)
    r = run(algo.ma, np.arange(16.0), params=(2,))
    # four slices of 4, each computing positions 1 and 2 in strict mode
    np.testing.assert_array_equal(np.isnan(r), [1, 0, 0, 1] * 4)
    algo.set_ctx(0, 0, 0, 0)
    assert not np.isnan(run(algo.ma, np.arange(16.0), params=(2,))).any()


@pytest.mark.parametrize("kwargs,error", [
    ({"start": 2**31}, OverflowError),
    ({"start": -2**31 - 1}, OverflowError),
    ({"end": 2**31}, OverflowError),
    ({"groups": -1}, OverflowError),
    ({"groups": 2**32}, OverflowError),
    ({"flags": -1}, OverflowError),
    ({"flags": 2**64}, OverflowError),
    ({"start": "1"}, TypeError),
    ({"groups": 1.5}, TypeError),
    ({"bogus": 1}, TypeError),
])
def test_set_ctx_rejects_bad_values_and_changes_nothing(kwargs, error):
    algo.set_ctx(groups=2)
    with pytest.raises(error) as info:
        algo.set_ctx(**({"end": -1} | kwargs))
    if error is TypeError and "bogus" not in kwargs:
        assert next(iter(kwargs)) in str(info.value)
    # end=-1 was not stored either: two full slices are computed
    assert not np.isnan(run(algo.ma, np.ones(4), params=(2,))).any()


def test_set_ctx_accepts_limits_and_index_objects():
    algo.set_ctx(start=-2**31, end=2**31 - 1, groups=2**32 - 1, flags=2**64 - 1)
    algo.set_ctx(start=np.int64(0), end=np.int32(0), groups=np.uint64(0), flags=True)
    r = run(algo.ma, np.array([1.0, np.nan, 3.0]), params=(2,))
    np.testing.assert_array_equal(r, [1.0, np.nan, 2.0])  # flags=True is the NaN-skipping bit
