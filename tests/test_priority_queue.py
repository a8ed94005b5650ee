import copy

import pytest
from conftest import RaisingEq, same_refcount
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, precondition, rule

from morvena import PriorityQueue

FED = [("a", 5), ("b", 1), ("c", 3)]


def queue_of(kind, items):
    q = PriorityQueue(kind)
    q.extend(items)
    return q


@pytest.mark.parametrize("kind, is_max", [("min", False), ("MAX", True), ("Min", False), ("mAx", True)])
def test_kind_is_case_insensitive(kind, is_max):
    q = PriorityQueue(kind)
    assert (q.is_max_heap(), q.is_min_heap()) == (is_max, not is_max)


@pytest.mark.parametrize("kind, error", [("mid", ValueError), ("", ValueError), (1, TypeError)])
def test_bad_kind(kind, error):
    with pytest.raises(error, match="^Priority Type must be 'min' or 'max'$|^argument 'priority_type'"):
        PriorityQueue(kind)


@pytest.mark.parametrize("kind, order", [("min", ["b", "c", "a"]), ("max", ["a", "c", "b"])])
def test_dequeue_order(kind, order):
    q = queue_of(kind, FED + [("d", dict(FED)[order[0]])])  # an equal priority does not displace the top
    assert q.peek() == order[0] and q.peek(return_priority=True) == (order[0], dict(FED)[order[0]])
    assert [q.dequeue() for _ in range(4)] == order[:1] + ["d"] + order[1:] and not q and len(q) == 0


@pytest.mark.parametrize("call, message", [
    (lambda q: q.dequeue(), "No elements currently stored in Priority queue"),
    (lambda q: q.peek(), "No element in the Queue to return"),
    (lambda q: q.search(7), "No elements available in Queue"),
    (lambda q: q.remove(0), "No elements currently available in Queue"),
    (lambda q: q.update_priority(0, 1), "Index out of bounds"),
    (lambda q: queue_of("min", FED).remove(3), "Index out of bounds"),
    (lambda q: queue_of("min", FED).heapify_up(3), "Index out of bounds"),
    (lambda q: queue_of("min", FED).search(7), "No entry with value 7 found in Queue")])
def test_errors(call, message):
    q = PriorityQueue("min")
    with pytest.raises(ValueError, match=f"^{message}$"):
        call(q)
    q.heapify_down()
    q.heapify_up(0)
    assert q.to_list() == [] and 7 not in q


def test_conversion_errors_change_nothing():
    q = queue_of("min", FED)
    with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
        q.enqueue("x", 2**31)
    with pytest.raises(TypeError, match="^argument 'return_priority': 'int' object cannot be converted to 'PyBool'$"):
        q.peek(1)
    with pytest.raises(TypeError, match="^'str' object cannot be converted to 'PyTuple'$"):
        q.extend([("x", 0), "y", ("z", 0)])
    with pytest.raises(ValueError, match="^expected tuple of length 2, but got tuple of length 3$"):
        q.extend([("y", 0, 0)])
    assert q.size() == 4 and q.peek(True) == ("x", 0)


def test_remove_update_and_search_by_position():
    q = queue_of("min", [(c, p) for c, p in zip("abcdef", [1, 3, 2, 7, 4, 5])])
    assert q.search("d") == 3 and q.remove(5, True) == ("f", 5) and q.remove(0) == "a" and q.peek() == "c"
    q.update_priority(q.search("d"), 0)
    assert q.peek(True) == ("d", 0)


def test_equality_scans_skip_raising_elements():
    q = queue_of("min", [(RaisingEq(), 1), (7, 2)])
    assert q.contains(7) and 7 in q and q.search(7) == 1 and not q.contains(8)


def test_copies_and_reference_counts():
    value = object()
    with same_refcount(value):
        q = PriorityQueue("max")
        for p in range(20):
            q.enqueue(value, p)
        for copied in (q.copy(), copy.copy(q)):
            assert copied.to_list() == q.to_list() and copied.is_max_heap() and copied.dequeue() is value
            assert q.size() == 20 and copied.size() == 19
        q.dequeue()
        q.remove(3)
        q.copy().clear()
        del q, copied


class HeapModel(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.queue, self.model = PriorityQueue("min"), {}  # the model maps each value to its priority

    @rule(priority=st.integers(-(2**31), 2**31 - 1))
    def enqueue(self, priority):
        value = max(self.model, default=0) + 1
        self.queue.enqueue(value, priority)
        self.model[value] = priority

    @precondition(lambda self: self.model)
    @rule()
    def dequeue(self):
        priority = self.model.pop(self.queue.dequeue())
        assert all(priority <= p for p in self.model.values())

    @precondition(lambda self: self.model)
    @rule(data=st.data(), priority=st.integers(-5, 5))
    def update_or_remove(self, data, priority):
        index = data.draw(st.integers(0, len(self.model) - 1))
        value = self.queue.to_list()[index][0]
        if data.draw(st.booleans()):
            self.queue.update_priority(index, priority)
            self.model[value] = priority
        else:
            assert self.queue.remove(index, True) == (value, self.model.pop(value))

    @invariant()
    def heap_order(self):
        entries = self.queue.to_list()
        assert len(entries) == len(self.model) and dict(entries) == self.model
        assert all(entries[(i - 1) // 2][1] <= entries[i][1] for i in range(1, len(entries)))


TestHeapModel = HeapModel.TestCase
