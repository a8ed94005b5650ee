"""CircularBuffer refuses: a full buffer takes nothing, and extend is all-or-nothing."""

import pytest
from conftest import Boom, same_refcount
from test_ring import feed

from morvena import CircularBuffer

NO_SPACE = r"^Not enough space available in Circular Buffer - Needed slots: 5, available slots: 3$"


@pytest.mark.parametrize("make", [list, tuple, feed, lambda items: range(len(items))])
def test_extend_is_all_or_nothing(make):
    held = object()
    buf = CircularBuffer(4)
    buf.enqueue(0)
    with same_refcount(held):
        with pytest.raises(ValueError, match=NO_SPACE):
            buf.extend(make([held] * 5))
        with pytest.raises(Boom):
            buf.extend(feed([held] * 5, fail_at=4))
    assert buf.to_list() == [0]
    buf.extend(make([7] * 3))
    assert buf.to_list() == [0, *make([7] * 3)]
