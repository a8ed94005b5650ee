import copy
import sys
from collections import deque

import pytest
from conftest import CallsBack, RaisingEq, assert_refused, outcome, same_refcount
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, rule

from morvena import Queue


def test_protocols_follow_the_contents():
    q = Queue()
    assert (q.peek(), bool(q), len(q), 1 in q, outcome(q.dequeue)) == (None, False, 0, False, (IndexError, "Queue is empty"))
    q.enqueue(1)
    assert (bool(q), len(q), 1 in q, q.contains(2)) == (True, 1, True, False)


@pytest.mark.parametrize("duplicate", [Queue.copy, copy.copy])
def test_copies_are_independent_and_shallow(duplicate):
    q = Queue()
    for x in ([], 2, []):
        q.enqueue(x)
    q.dequeue()  # the copy starts from a ring whose front is not slot 0
    c = duplicate(q)
    assert type(c) is Queue and c is not q
    c.dequeue()
    c.peek().append(1)
    assert q.to_list() == [2, [1]] and c.to_list() == [[1]]


def test_reference_counts():
    x, y = object(), object()
    with same_refcount(x, y):
        alone = sys.getrefcount(x)
        q = Queue()
        for _ in range(5):
            q.enqueue(x)
        q.enqueue(y)
        c = q.copy()
        while len(q) > 1:
            assert q.dequeue() is x
        assert q.peek() is y
        # The ring keeps its slots but no reference to what left it.
        assert sys.getrefcount(x) == alone + 5
        c.clear()
        assert sys.getrefcount(x) == alone
        del q, c


def test_scan_discards_errors_and_refuses_reentry():
    q = Queue()
    q.enqueue(RaisingEq())
    element = CallsBack(lambda: q.enqueue(0))
    q.enqueue(element)
    assert q.search(object()) is None
    assert_refused(element, "Already borrowed")
    assert q.size() == 2


class QueueMachine(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.q, self.model = Queue(), deque()

    @rule(v=st.integers(0, 9), times=st.integers(1, 6))
    def enqueue(self, v, times):
        for _ in range(times):
            self.q.enqueue(v)
            self.model.append(v)

    @rule()
    def dequeue(self):
        def model():
            if not self.model:
                raise IndexError("Queue is empty")
            return self.model.popleft()
        assert outcome(self.q.dequeue) == outcome(model)

    @rule()
    def clear(self):
        self.q.clear()
        self.model.clear()

    @rule(v=st.integers(0, 9))
    def search(self, v):
        assert self.q.search(v) == (self.model.index(v) if v in self.model else None)

    @invariant()
    def agrees(self):
        assert self.q.to_list() == list(self.model)
        assert (len(self.q), self.q.peek()) == (len(self.model), self.model[0] if self.model else None)


TestQueueMachine = QueueMachine.TestCase
