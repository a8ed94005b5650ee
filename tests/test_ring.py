"""What CircularBuffer and RingBuffer share: logical positions in a wrapped ring,
copies, element references, comparisons and re-entry, and one model-based
machine per class over all of it."""

import copy
from collections import deque

import pytest
from conftest import Boom, CallsBack, RaisingEq, assert_refused, outcome, same_refcount
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, rule

from morvena import CircularBuffer, RingBuffer

BOTH = pytest.mark.parametrize("cls", [CircularBuffer, RingBuffer])
OK = ("ok", None)


def feed(items, fail_at=None):
    for i, item in enumerate(items):
        if i == fail_at:
            raise Boom("iteration")
        yield item


@pytest.mark.parametrize("cls, alias", [(CircularBuffer, "subarray"), (RingBuffer, "subarry")])
def test_protocols_arguments_and_shallow_copy(cls, alias):
    ring = cls(4)
    ring.extend([[], 4, 5])
    assert getattr(ring, alias)() == ring.to_list() and (len(ring), bool(ring), 4 in ring, bool(cls(1))) == (3, True, True, False)
    with pytest.raises(OverflowError):
        ring[-1]
    with pytest.raises(TypeError, match=r"^argument 'index': "):
        ring.update("0", 1)
    twin = copy.copy(ring)
    twin.enqueue(6)
    twin[0].append(1)
    assert ring.to_list() == [[1], 4, 5] and twin.to_list() == [[1], 4, 5, 6] and twin.capacity() == 4


@BOTH
@pytest.mark.parametrize("size, error", [(-1, OverflowError), (2**64, OverflowError), (2**63, MemoryError)])
def test_impossible_sizes(cls, size, error):
    with pytest.raises(error):
        cls(size)


@BOTH
def test_references_are_released(cls):
    a, b = object(), object()
    ring = cls(3)
    with same_refcount(a):
        ring.enqueue(a)
        assert ring.dequeue() is a  # the vacated slot does not keep it alive
    with same_refcount(a, b):
        ring.enqueue(a)
        ring.update(0, b)
        ring.copy()
        ring.clear()
        ring.extend([a, b])
        del ring


@BOTH
def test_failing_and_reentrant_comparisons(cls):
    ring = cls(3)
    ring.extend([RaisingEq(), 1])
    assert ring.search(1) == 1 and RaisingEq() not in ring
    sizes = []
    ring.clear()
    ring.extend([CallsBack(lambda: ring.enqueue(2)), CallsBack(lambda: sizes.append(ring.size()))])
    assert ring.search(0) is None and sizes == [2]
    assert_refused(ring[0], "Already borrowed")

    def calls_back():
        yield 1
        ring.size()

    with pytest.raises(RuntimeError, match=r"^Already mutably borrowed$"):
        ring.extend(calls_back())
    assert len(ring) == (2 if cls is CircularBuffer else 3)


class RingMachine(RuleBasedStateMachine):
    """Both classes against a deque(maxlen=size); CircularBuffer refuses where the deque would drop."""

    cls = CircularBuffer

    @initialize(size=st.integers(0, 5))
    def make(self, size):
        self.ring, self.model, self.refuses = self.cls(size), deque(maxlen=size), self.cls is CircularBuffer

    def free(self):
        return self.model.maxlen - len(self.model)

    @rule(value=st.integers(0, 5))
    def enqueue(self, value):
        full = self.refuses and not self.free()
        assert outcome(self.ring.enqueue, value) == ((ValueError, "Circular Buffer is currently full!") if full else OK)
        if not full:
            self.model.append(value)

    @rule()
    def dequeue(self):
        if self.model:
            expected = ("ok", self.model.popleft())
        else:
            expected = (ValueError, "Circular Buffer is currently empty!") if self.refuses else OK
        assert outcome(self.ring.dequeue) == expected

    @rule(items=st.lists(st.integers(0, 5), max_size=7), fail_at=st.none() | st.integers(0, 6), as_list=st.booleans())
    def extend(self, items, fail_at, as_list):
        fails = fail_at is not None and fail_at < len(items)
        short = self.refuses and len(items) > self.free()
        expected = OK
        if fails:
            expected = (Boom, "iteration")
        elif short:
            message = f"Not enough space available in Circular Buffer - Needed slots: {len(items)}, available slots: {self.free()}"
            expected = (ValueError, message)
        assert outcome(self.ring.extend, items if as_list and not fails else feed(items, fail_at)) == expected
        if not (self.refuses and (fails or short)):
            self.model.extend(items[:fail_at] if fails else items)

    @rule(index=st.integers(0, 5), value=st.integers(0, 5))
    def update_and_getitem(self, index, value):
        inside = index < len(self.model)
        if inside:
            self.model[index] = value
        missing = (ValueError if self.refuses else IndexError, "Index out of bounds")
        assert outcome(self.ring.update, index, value) == (OK if inside else missing)
        assert outcome(lambda: self.ring[index]) == (("ok", value) if inside else missing)

    @rule(value=st.integers(0, 5))
    def search(self, value):
        assert self.ring.search(value) == (self.model.index(value) if value in self.model else None)

    @rule()
    def replace_by_copy(self):
        self.ring = self.ring.copy()

    @rule()
    def clear(self):
        self.ring.clear()
        self.model.clear()

    @invariant()
    def agrees(self):
        assert self.ring.to_list() == list(self.model) and self.ring.peek() == (self.model or [None])[0]
        assert (self.ring.is_full(), self.ring.is_empty()) == (not self.free(), not self.model)


class RingBufferMachine(RingMachine):
    cls = RingBuffer


TestCircularBufferMachine = RingMachine.TestCase
TestRingBufferMachine = RingBufferMachine.TestCase
