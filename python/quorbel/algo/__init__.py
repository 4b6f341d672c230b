"""Grouped rolling-window indicators over NumPy arrays.

Every function writes a caller-owned result array in place; see
``quorbel.algo._algo`` for the functions themselves and ``set_ctx`` for the
process-wide context (groups, computation range, window mode).
"""

from . import _algo
from ._algo import *  # noqa: F401,F403

FLAG_SKIP_NAN = 1
"""Window mode bit: windows are formed from the last ``periods`` non-NaN values."""
FLAG_STRICT = 2
"""Window mode bit: only complete windows produce a result."""

__all__ = [*_algo.__all__, "FLAG_SKIP_NAN", "FLAG_STRICT"]
