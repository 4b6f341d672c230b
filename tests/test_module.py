"""Module entry: registration, signatures, the logging bridge, re-import."""

import json
import subprocess
import sys
import textwrap

import quorbel.algo as package
import quorbel.algo._algo as algo

# The registration order of every function the module will have: ema and
# set_ctx first, the rest in byte order.
FULL_ORDER = ["ema", "set_ctx"] + sorted(
    """abs all alpha any backfill backset barslast barssince beta bins bw_split bw_split_factor cc_rank
    cc_zscore corr corr2 count count_nans count_v cov cross dma dma_v ema_v entropy filter fret fw_split
    fw_split_factor group_rank group_zscore hhv hhv_v hhvbars hhvbars_v intercept kurtosis last llv llv_v
    llvbars llvbars_v longcross lwma lwma_v ma ma_v max max_drawdown min min_max_diff moment neutralize
    product quantile rank rcross ref ref_v regbeta regresi rlongcross scan_add scan_mul sharpe skewness
    slope sma sma_v stddev sum sumbars sumif var weighted_delay where zscore""".split(),
    key=lambda name: name.encode(),
)


def test_all_lists_registered_functions_in_order():
    assert len(FULL_ORDER) == 79
    assert algo.__all__ == [name for name in FULL_ORDER if hasattr(algo, name)]
    assert set(algo.__all__) >= {"set_ctx", "ma"}
    for name in algo.__all__:
        assert callable(getattr(algo, name))


def test_signatures_and_docstrings():
    assert algo.ma.__text_signature__ == "(r, input, periods)"
    assert algo.ma.__doc__ == "Simple Moving Average, also known as arithmetic moving average"
    assert algo.set_ctx.__text_signature__ == "(start=None, end=None, groups=None, flags=None)"
    assert algo.set_ctx.__doc__ is None
    assert algo.ma.__module__ == "quorbel.algo._algo"


def test_package_reexports_functions_and_flags():
    assert package.ma is algo.ma
    assert package.FLAG_SKIP_NAN == 1 and package.FLAG_STRICT == 2
    assert set(algo.__all__) <= set(package.__all__)


def test_type_stub_matches_the_module():
    import ast
    import inspect
    from pathlib import Path

    stub = Path(package.__file__).with_name("_algo.pyi")
    tree = ast.parse(stub.read_text())
    declared = {node.name: [a.arg for a in node.args.args] for node in tree.body if isinstance(node, ast.FunctionDef)}
    assert set(declared) == set(algo.__all__)
    for name, params in declared.items():
        assert params == list(inspect.signature(getattr(algo, name)).parameters), name


def run_python(code):
    out = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                         check=True)
    return out.stdout


def test_every_call_emits_one_debug_record():
    out = run_python("""
        import json, logging
        import numpy as np
        records = []
        class Keep(logging.Handler):
            def emit(self, record):
                records.append([record.name, record.levelno, record.getMessage()])
        logger = logging.getLogger("quorbel.algo_impl")
        logger.setLevel(logging.DEBUG)
        logger.addHandler(Keep())
        import quorbel.algo._algo as algo
        algo.set_ctx(start=1, end=2, groups=3, flags=4)
        algo.ma(np.empty(6), np.ones(6), 2)
        for bad in (-1, 2.5):
            try:
                algo.ma(np.empty(6), np.ones(6), bad)   # fails before the snapshot
            except (OverflowError, TypeError):
                pass
        try:
            algo.ma(np.empty(6), np.ones(5), 2)        # fails after it
        except ValueError:
            pass
        print(json.dumps(records))
    """)
    message = "current Context { start: 1, groups: 3, flags: 4 }"
    assert json.loads(out) == [["quorbel.algo_impl", 10, message]] * 2


def test_logger_level_is_read_once():
    # The bridge keeps the enabled levels it found on the first record.
    out = run_python("""
        import logging
        import numpy as np
        import quorbel.algo._algo as algo
        seen = []
        class Keep(logging.Handler):
            def emit(self, record):
                seen.append(record)
        logger = logging.getLogger("quorbel.algo_impl")
        logger.addHandler(Keep())
        algo.ma(np.empty(3), np.ones(3), 2)            # logger at WARNING: disabled
        logger.setLevel(logging.DEBUG)
        algo.ma(np.empty(3), np.ones(3), 2)
        print(len(seen))
    """)
    assert out.strip() == "0"


def test_second_initialisation_fails():
    out = run_python("""
        import importlib, sys
        import quorbel.algo._algo
        del sys.modules["quorbel.algo._algo"]
        try:
            importlib.import_module("quorbel.algo._algo")
        except ImportError as e:
            print("ImportError")
    """)
    assert out.strip() == "ImportError"
