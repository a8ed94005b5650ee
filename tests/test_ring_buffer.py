"""RingBuffer overwrites: a full ring drops its oldest element, a ring of size 0 drops everything."""

import pytest
from conftest import Boom, same_refcount
from test_ring import feed

from morvena import RingBuffer


def test_overwrite_and_failed_extend_release_references():
    old, new = object(), object()
    ring = RingBuffer(2)
    ring.enqueue(0)
    with same_refcount(old, new):
        ring.extend([old, 1])  # drops 0
        ring.enqueue(new)  # drops old
        with pytest.raises(Boom):
            ring.extend(feed([new, 3, new], fail_at=2))
        assert ring.to_list() == [new, 3]
        ring.extend(range(10))
    assert ring.to_list() == [8, 9]


def test_size_zero_discards_items():
    held = object()
    ring = RingBuffer(0)
    with same_refcount(held):
        ring.enqueue(held)
        ring.extend([held, held])
        ring.extend(feed([held]))
    assert ring.to_list() == [] and ring.dequeue() is None and ring.peek() is None
