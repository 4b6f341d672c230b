"""List batches: many independent problems in one call (pattern A, on ma)."""

import os
import resource
import sys

import numpy as np
import pytest

import quorbel.algo._algo as algo
from helpers import SENTINEL, assert_same, random_series


def single(x, p, dtype=None):
    r = np.empty(len(x), dtype or x.dtype)
    algo.ma(r, x, p)
    return r


def fresh(*lengths, dtype=np.float64):
    return [np.full(n, SENTINEL, dtype) for n in lengths]


def test_each_problem_is_computed_like_a_single_call():
    xs = [np.arange(1.0, 6.0), np.array([4.0, 2.0, np.nan, 8.0])]
    rs = fresh(5, 4)
    assert algo.ma(rs, xs, 3) is None
    for r, x in zip(rs, xs):
        assert_same(r, single(x, 3))


def test_list_subclasses_are_lists():
    class Batch(list):
        pass

    rs = Batch(fresh(3))
    algo.ma(rs, Batch([np.ones(3)]), periods=2)
    assert_same(rs[0], [1, 1, 1])


def test_float32_batch_computes_in_float32():
    xs = [np.array([0.1, 0.2, 0.3], np.float32)]
    rs = fresh(3, dtype=np.float32)
    algo.ma(rs, xs, 2)
    np.testing.assert_array_equal(rs[0], single(xs[0], 2))


@pytest.mark.parametrize("rs,xs,message", [
    (lambda: fresh(3, 3), lambda: [np.ones(3)], "length mismatch"),
    (lambda: fresh(3), lambda: np.ones(3), "invalid input"),
    (lambda: np.empty(3), lambda: [np.ones(3)], "invalid input"),
    (lambda: tuple(fresh(3)), lambda: (np.ones(3),), "invalid input"),
    (lambda: fresh(3, 3), lambda: [np.ones(3), np.ones(3, np.float32)], "invalid input"),
    (lambda: fresh(3), lambda: [[1.0, 2.0, 3.0]], "invalid input"),
    (lambda: fresh(3), lambda: [None], "invalid input"),
    (lambda: fresh(3), lambda: [np.ones((3, 1))], "invalid input"),
])
def test_batches_that_do_not_fit(rs, xs, message):
    rs, xs = rs(), xs()
    with pytest.raises(ValueError, match=f"^{message}$"):
        algo.ma(rs, xs, 2)
    for r in rs if isinstance(rs, (list, tuple)) else [rs]:
        if r.dtype.kind == "f":
            assert (r == SENTINEL).all()


def test_failing_problems_do_not_stop_the_others():
    rs = fresh(4, 5, 4, 6)
    xs = [np.ones(3), np.ones(5), np.ones(2), np.ones(6)]   # problems 0 and 2 mismatch
    with pytest.raises(ValueError, match=r"^result length \(4\) should be the same as as input length \(3\)$"):
        algo.ma(rs, xs, 2)
    assert (rs[0] == SENTINEL).all() and (rs[2] == SENTINEL).all()
    assert_same(rs[1], np.ones(5))
    assert_same(rs[3], np.ones(6))


def test_strided_item_fails_only_its_problem():
    base = np.zeros(8)
    rs = [np.full(4, SENTINEL), base[::2]]
    with pytest.raises(ValueError, match="^invalid input$"):
        algo.ma(rs, [np.ones(4), np.ones(4)], 2)
    assert_same(rs[0], np.ones(4))
    assert (base == 0).all()
    with pytest.raises(ValueError, match="^invalid input$"):
        algo.ma(fresh(4), [np.ones(8)[::2]], 2)


def test_empty_batch_computes_nothing():
    assert algo.ma([], [], 3) is None


@pytest.mark.parametrize("make", [
    lambda r, x: ([r, r], [x, x]),                       # the same result twice
    lambda r, x: ([r, np.empty(4)], [x, r]),             # a result that is another problem's input
    lambda r, x: ([r[:3], r[2:]], [x[:3], x[:2]]),      # overlapping views of one result
])
def test_refused_borrows_end_the_call_before_computing(make):
    r, x = np.full(4, SENTINEL), np.ones(4)
    rs, xs = make(r, x)
    snapshot = [a.copy() for a in rs]
    with pytest.raises(ValueError, match="share memory"):
        algo.ma(rs, xs, 2)
    for a, before in zip(rs, snapshot):
        np.testing.assert_array_equal(a, before)


def test_read_only_result_item_is_refused():
    rs = fresh(3, 3)
    rs[1].flags.writeable = False
    with pytest.raises(ValueError, match=r"r\[1\] is not writeable"):
        algo.ma(rs, [np.ones(3), np.ones(3)], 2)
    assert (rs[0] == SENTINEL).all()


def test_context_cuts_each_problem_separately():
    algo.set_ctx(groups=2, start=1)
    rs = fresh(4, 6)
    xs = [np.arange(4.0), np.arange(6.0)]
    algo.ma(rs, xs, 2)
    for r, x in zip(rs, xs):
        assert_same(r, single(x, 2))
    assert_same(rs[0], [np.nan, 0.5, np.nan, 2.5])


@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_many_problems_in_parallel_match_single_calls(dtype):
    rng = np.random.default_rng(11)
    # small problems batched into tasks, and large ones whose groups nest
    lengths = [int(n) for n in rng.integers(0, 300, 1500)] + [200_000] * 4
    xs = [random_series(rng, n, dtype=dtype) for n in lengths]
    for flags, groups in ((0, 0), (1, 50), (2, 7), (3, 1000)):
        algo.set_ctx(flags=flags, groups=groups)
        rs = [np.empty(n, dtype) for n in lengths]
        algo.ma(rs, xs, 9)
        for r, x in zip(rs, xs):
            np.testing.assert_array_equal(r, single(x, 9))


def test_repeated_failing_batches_leak_nothing():
    good = fresh(50, 50)
    xs = [np.ones(50), np.ones(50)]
    bad_width = [np.ones(50), np.ones(50, np.float32)]
    mismatched = [np.ones(50), np.ones(49)]

    def failing_calls():
        for args in ((good, bad_width), (good, mismatched), (good, xs[:1]), ([good[0], good[0]], xs)):
            try:
                algo.ma(*args, 3)
            except ValueError:
                pass

    failing_calls()
    arrays = good + xs + bad_width + mismatched
    counts = [sys.getrefcount(a) for a in arrays]
    rss = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    for _ in range(20000):
        failing_calls()
    assert [sys.getrefcount(a) for a in arrays] == counts
    if "asan" not in os.environ.get("LD_PRELOAD", ""):  # ASan's quarantine holds freed memory
        assert resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - rss < 8 * 1024  # KiB
