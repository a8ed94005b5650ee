"""RingBuffer overwrites: a full ring drops its oldest element, a ring of size 0 drops everything."""

import pytest
from conftest import Boom, same_refcount
from test_ring import feed

from morvena import RingBuffer


def test_overwrite_failed_extend_and_size_zero_release_references():
    old, new = object(), object()
    ring, nothing = RingBuffer(2), RingBuffer(0)
    ring.enqueue(0)
    with same_refcount(old, new):
        ring.extend([old, 1])  # drops 0
        ring.enqueue(new)  # drops old
        with pytest.raises(Boom):
            ring.extend(feed([new, 3, new], fail_at=2))
        assert ring.to_list() == [new, 3]
        ring.extend(range(10))
        nothing.enqueue(old)
        nothing.extend([old, new])
        nothing.extend(feed([new]))
    assert ring.to_list() == [8, 9] and nothing.to_list() == [] and nothing.dequeue() is None and nothing.peek() is None
