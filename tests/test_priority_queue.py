import copy
import heapq

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
    q = queue_of(kind, FED)
    assert q.peek() == order[0] and q.peek(return_priority=True) == (order[0], dict(FED)[order[0]])
    assert [q.dequeue() for _ in FED] == order and not q and len(q) == 0


def test_equal_priority_does_not_displace_the_top():
    q = queue_of("min", [("first", 1), ("second", 1)])
    assert q.peek() == "first" and q.to_list() == [("first", 1), ("second", 1)]


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda q: q.dequeue(), "No elements currently stored in Priority queue"),
        (lambda q: q.peek(), "No element in the Queue to return"),
        (lambda q: q.search(7), "No elements available in Queue"),
        (lambda q: q.remove(0), "No elements currently available in Queue"),
        (lambda q: q.update_priority(0, 1), "Index out of bounds"),
        (lambda q: queue_of("min", FED).remove(3), "Index out of bounds"),
        (lambda q: queue_of("min", FED).heapify_up(3), "Index out of bounds"),
        (lambda q: queue_of("min", FED).search(7), "No entry with value 7 found in Queue"),
    ],
)
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
    assert q.remove(5, True) == ("f", 5) and q.to_list() == [("a", 1), ("b", 3), ("c", 2), ("d", 7), ("e", 4)]
    assert q.remove(0) == "a" and q.peek() == "c"
    q.update_priority(q.search("d"), 0)
    assert q.peek(True) == ("d", 0)
    q.update_priority(0, 9)
    assert [q.dequeue() for _ in range(4)] == ["c", "b", "e", "d"]


def test_equality_scans_skip_raising_elements():
    q = queue_of("min", [(RaisingEq(), 1), (7, 2)])
    assert q.contains(7) and 7 in q and q.search(7) == 1 and not q.contains(8)


def test_copies_are_independent_and_shallow():
    shared = []
    q = queue_of("max", [(shared, 1), ("x", 2)])
    for copied in (q.copy(), copy.copy(q)):
        assert copied.to_list() == q.to_list() and copied.is_max_heap()
        copied.dequeue()
        assert q.size() == 2 and copied.to_list()[0][0] is shared


def test_reference_counts():
    value = object()
    with same_refcount(value):
        q = PriorityQueue("min")
        for p in range(20):
            q.enqueue(value, p)
        q.dequeue()
        q.remove(3)
        q.copy().clear()
        q.to_list()
        del q


class HeapModel(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.queue = PriorityQueue("min")
        self.model: list[tuple[int, int]] = []
        self.serial = 0

    @rule(priority=st.integers(-(2**31), 2**31 - 1))
    def enqueue(self, priority):
        self.serial += 1
        self.queue.enqueue(self.serial, priority)
        heapq.heappush(self.model, (priority, self.serial))

    @precondition(lambda self: self.model)
    @rule()
    def dequeue(self):
        value = self.queue.dequeue()
        entry = next(e for e in self.model if e[1] == value)
        assert entry[0] == self.model[0][0]
        self.model.remove(entry)
        heapq.heapify(self.model)

    @precondition(lambda self: self.model)
    @rule(data=st.data(), priority=st.integers(-5, 5))
    def update_or_remove(self, data, priority):
        index = data.draw(st.integers(0, len(self.model) - 1))
        value, old = self.queue.to_list()[index]
        self.model.remove((old, value))
        if data.draw(st.booleans()):
            self.queue.update_priority(index, priority)
            self.model.append((priority, value))
        else:
            assert self.queue.remove(index, True) == (value, old)
        heapq.heapify(self.model)

    @invariant()
    def heap_order(self):
        entries = self.queue.to_list()
        assert sorted((p, v) for v, p in entries) == sorted(self.model)
        assert all(entries[(i - 1) // 2][1] <= entries[i][1] for i in range(1, len(entries)))


TestHeapModel = HeapModel.TestCase
