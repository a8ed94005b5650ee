import copy
import sys
from collections import deque

import pytest
from conftest import outcome, same_refcount
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, rule

from morvena import Queue


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
        assert (v in self.q) == self.q.contains(v) == (v in self.model)

    @invariant()
    def agrees(self):
        assert self.q.to_list() == list(self.model)
        assert (len(self.q), self.q.size(), bool(self.q)) == (len(self.model), len(self.model), bool(self.model))
        assert self.q.peek() == (self.model[0] if self.model else None)


TestQueueMachine = QueueMachine.TestCase
