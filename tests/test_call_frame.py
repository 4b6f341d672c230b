"""The call frame of a single-array call: binding, conversions, element-type
attempts, borrows and the messages of each refusal."""

import numpy as np
import pytest

import quorbel.algo._algo as algo
from helpers import SENTINEL


def arrays(n=6, dtype=np.float64):
    return np.full(n, SENTINEL, dtype), np.arange(1.0, n + 1).astype(dtype)


@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_writes_result_in_place_for_both_widths(dtype):
    r, x = arrays(5, dtype)
    assert algo.ma(r, x, 3) is None
    assert r.dtype == dtype
    np.testing.assert_array_equal(r, np.array([1, 1.5, 2, 3, 4], dtype))


def test_arguments_bind_by_position_and_keyword():
    r, x = arrays()
    algo.ma(r, x, periods=2)
    algo.ma(periods=2, input=x, r=r)
    np.testing.assert_array_equal(r[1:], x[1:] - 0.5)


@pytest.mark.parametrize("args,kwargs,text", [
    ((1, 2), {}, "missing required argument 'periods'"),
    ((1, 2, 3, 4), {}, "takes 3 positional arguments but 4 were given"),
    ((1, 2, 3), {"r": 1}, "multiple values for argument 'r'"),
    ((1, 2, 3), {"window": 1}, "unexpected keyword argument 'window'"),
])
def test_binding_errors(args, kwargs, text):
    with pytest.raises(TypeError, match=text):
        algo.ma(*args, **kwargs)


@pytest.mark.parametrize("periods,error", [
    (-1, OverflowError),
    (2**64, OverflowError),
    (2.5, TypeError),
    ("3", TypeError),
    (None, TypeError),
])
def test_periods_conversion_errors_write_nothing(periods, error):
    r, x = arrays()
    with pytest.raises(error, match="periods"):
        algo.ma(r, x, periods)
    assert (r == SENTINEL).all()


def test_periods_accepts_index_objects_and_the_full_range():
    r, x = arrays()
    algo.ma(r, x, np.uint64(2))
    np.testing.assert_array_equal(r[1:], x[1:] - 0.5)
    algo.ma(r, x, 2**64 - 1)  # longer than the series: the running mean
    np.testing.assert_array_equal(r, np.cumsum(x) / np.arange(1, 7))


def big_endian(n=6):
    return np.arange(float(n)).astype(">f8")


@pytest.mark.parametrize("make_r,make_x", [
    (lambda: np.empty(6), lambda: np.ones(6, np.float32)),          # mixed widths
    (lambda: np.empty(6, np.float32), lambda: np.ones(6)),
    (lambda: np.empty(6), lambda: np.ones((2, 3))),                   # two dimensions
    (lambda: np.empty((2, 3)), lambda: np.ones((2, 3))),
    (lambda: np.empty(6), big_endian),                                 # foreign byte order
    (lambda: np.empty(6), lambda: np.arange(6)),                       # int64
    (lambda: np.empty(6), lambda: [1.0] * 6),                          # a list of floats
    (lambda: np.empty(6), lambda: (np.ones(6),)),                      # a tuple
    (lambda: np.empty(6, np.float16), lambda: np.ones(6, np.float16)),
    (lambda: np.empty(6, "M8[s]"), lambda: np.ones(6)),                # a dtype NumPy cannot export
    (lambda: None, lambda: np.ones(6)),
])
def test_arguments_that_fit_no_attempt(make_r, make_x):
    r, x = make_r(), make_x()
    before = None if not isinstance(r, np.ndarray) else r.copy()
    with pytest.raises(ValueError, match="^invalid input$"):
        algo.ma(r, x, 3)
    if before is not None and before.dtype.kind == "f":
        np.testing.assert_array_equal(r, before)


def test_non_contiguous_arrays():
    base = np.zeros(12)
    with pytest.raises(ValueError, match="^failed to get mutable slice$"):
        algo.ma(base[::2], np.ones(6), 3)
    with pytest.raises(ValueError, match="^failed to get slice$"):
        algo.ma(np.empty(6), base[::2], 3)
    with pytest.raises(ValueError, match="^failed to get mutable slice$"):
        algo.ma(base[::-2], np.ones(6), 3)
    assert (base == 0).all()
    # the 32-bit attempt reports both as invalid input
    base32 = np.zeros(12, np.float32)
    with pytest.raises(ValueError, match="^invalid input$"):
        algo.ma(base32[::2], np.ones(6, np.float32), 3)
    with pytest.raises(ValueError, match="^invalid input$"):
        algo.ma(np.empty(6, np.float32), base32[::2], 3)


def test_misaligned_array_is_refused_like_a_strided_one():
    raw = np.zeros(8 * 6 + 1, np.uint8)
    odd = raw[1:].view(np.float64)
    assert not odd.flags.aligned
    with pytest.raises(ValueError, match="^failed to get mutable slice$"):
        algo.ma(odd, np.ones(6), 3)
    with pytest.raises(ValueError, match="^failed to get slice$"):
        algo.ma(np.empty(6), odd, 3)
    # even a single element: it cannot be read in place
    with pytest.raises(ValueError, match="^failed to get mutable slice$"):
        algo.ma(odd[:1], np.ones(1), 1)
    assert (raw == 0).all()


def test_lengths_zero_and_one_are_always_contiguous():
    assert algo.ma(np.empty(0), np.empty(0), 3) is None
    r = np.zeros(4)
    algo.ma(r[1:2], np.full(1, 7.0), 3)   # length 1 view of a longer array
    np.testing.assert_array_equal(r, [0, 7, 0, 0])
    algo.ma(np.empty(10)[::3][:1], np.ones(1), 3)


def test_same_array_as_result_and_input_is_refused():
    r, _ = arrays()
    with pytest.raises(ValueError, match="share memory"):
        algo.ma(r, r, 3)
    assert (r == SENTINEL).all()


def test_overlapping_views_refused_disjoint_halves_accepted():
    a = np.arange(12.0)
    with pytest.raises(ValueError, match="share memory"):
        algo.ma(a[:6], a[5:11], 2)
    np.testing.assert_array_equal(a, np.arange(12.0))
    algo.ma(a[:6], a[6:], 2)
    np.testing.assert_array_equal(a[:6], [6, 6.5, 7.5, 8.5, 9.5, 10.5])


def test_read_only_result_is_refused():
    r, x = arrays()
    r.flags.writeable = False
    with pytest.raises(ValueError, match="not writeable"):
        algo.ma(r, x, 3)
    assert (r == SENTINEL).all()
    # a read-only input is fine
    x.flags.writeable = False
    r2 = np.empty(6)
    algo.ma(r2, x, 1)
    np.testing.assert_array_equal(r2, x)


def test_array_subclasses_are_arrays():
    class Sub(np.ndarray):
        pass

    r = np.zeros(4).view(Sub)
    algo.ma(r, np.arange(4.0).view(Sub), 2)
    np.testing.assert_array_equal(np.asarray(r), [0, 0.5, 1.5, 2.5])


def test_failed_calls_leak_no_references():
    import sys

    r, x = arrays()
    bad = np.ones(6, np.float32)
    before = sys.getrefcount(r), sys.getrefcount(x), sys.getrefcount(bad)
    for _ in range(200):
        for args in ((r, bad, 3), (r, r, 3), (r, x[:3], 3), (r[::2], x[::2], 3), (r, x, -1)):
            try:
                algo.ma(*args)
            except (ValueError, OverflowError):
                pass
        algo.ma(r, x, 3)
    del args
    assert (sys.getrefcount(r), sys.getrefcount(x), sys.getrefcount(bad)) == before


@pytest.mark.skipif("asan" in __import__("os").environ.get("LD_PRELOAD", ""),
                    reason="the sanitizer reserves more address space than the limit allows")
def test_allocation_failure_is_a_memory_error():
    # A window as long as the group needs history the size of the group; with
    # the address space capped, the allocation fails inside the library.
    import subprocess
    import sys
    import textwrap

    code = textwrap.dedent("""
        import resource
        import numpy as np
        import quorbel.algo._algo as algo
        n = 20_000_000
        x, r, p = np.ones(n), np.zeros(n), np.full(n, n, np.uint64)
        algo.ma_v(r[:10], x[:10], p[:10])
        with open("/proc/self/status") as f:
            size = next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmSize"))
        resource.setrlimit(resource.RLIMIT_AS, (size + 2**26, size + 2**26))
        for fn in (algo.ma_v, algo.lwma_v):
            try:
                fn(r, x, p)
            except MemoryError:
                print(fn.__name__, "MemoryError")
        print("alive")
    """)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    assert out.stdout.split("\n")[:3] == ["ma_v MemoryError", "lwma_v MemoryError", "alive"]
