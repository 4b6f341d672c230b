import pytest

import quorbel.algo._algo as algo


@pytest.fixture(autouse=True)
def reset_context():
    algo.set_ctx(start=0, end=0, groups=0, flags=0)
    yield
    algo.set_ctx(start=0, end=0, groups=0, flags=0)
