import tracemalloc

import pytest
from conftest import outcome, same_refcount
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, rule

from morvena import LinkedList


def filled(items):
    ll = LinkedList()
    for x in items:
        ll.append(x)
    return ll


@pytest.mark.parametrize(
    "call, error, match",
    [(lambda ll, v: ll.insert(v, "a"), TypeError, "^argument 'index': "), (lambda ll, v: ll.get("0"), TypeError, "^argument 'index': "),
     (lambda ll, v: ll.update(v, -1), OverflowError, None), (lambda ll, v: ll.pop(-1), OverflowError, None),
     (lambda ll, v: ll.insert(v, 9), ValueError, "^Index out of bounds$"), (lambda ll, v: ll.update(v, 3), ValueError, "^Index out of bounds$"),
     (lambda ll, v: len(ll), TypeError, None)],  # no length protocol
)
def test_failed_calls_change_nothing_and_release_the_value(call, error, match):
    v = object()
    ll = filled([1, 2, 3])
    with same_refcount(v):
        with pytest.raises(error, match=match):
            call(ll, v)
    assert ll.to_list() == [1, 2, 3]


def test_reference_counts():
    x, y = object(), object()
    with same_refcount(x, y):
        ll = filled([x, x, x])
        ll.update(y, 1)
        ll.insert(y, 0)
        assert ll.pop() is x and ll.remove(0) is y and ll.remove_head() is x and ll.get(0) is y
        ll.clear()
        ll.prepend(x)
        del ll


def test_five_million_nodes_are_released_without_recursion():
    ll = LinkedList()
    append = ll.append
    for _ in range(5_000_000):
        append(None)
    assert ll.size() == 5_000_000
    del ll


def test_removed_nodes_are_reused_and_clear_returns_the_memory():
    tracemalloc.start()
    try:
        ll = LinkedList()
        start = tracemalloc.get_traced_memory()[0]
        for x in range(10_000):
            ll.append(x)
        filled_size = tracemalloc.get_traced_memory()[0]
        for x in range(50_000):  # a steady size: every new node reuses a removed one
            ll.remove_head() if x % 2 else ll.pop(0)
            ll.insert(x, x % 7 if ll.size() > 7 else None)
        assert tracemalloc.get_traced_memory()[0] - filled_size < 1000
        ll.clear()
        assert tracemalloc.get_traced_memory()[0] - start < 1000
        ll.append(1)
        assert ll.to_list() == [1]
    finally:
        tracemalloc.stop()


class LinkedListMachine(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.ll, self.model = LinkedList(), []

    def _in_range(self, index):
        if index >= len(self.model):
            raise ValueError("Index out of bounds")

    @rule(v=st.integers(0, 9), where=st.sampled_from(["prepend", "append"]))
    def add_at_an_end(self, v, where):
        getattr(self.ll, where)(v)
        self.model.insert(0 if where == "prepend" else len(self.model), v)

    @rule(v=st.integers(0, 9), index=st.none() | st.integers(0, 12))
    def insert(self, v, index):
        def model():
            at = len(self.model) if index is None else index
            if at > len(self.model):
                raise ValueError("Index out of bounds")
            self.model.insert(at, v)
        assert outcome(self.ll.insert, v, index) == outcome(model)

    @rule(index=st.none() | st.integers(0, 12))
    def pop(self, index):
        def model():
            if not self.model:
                raise ValueError("List is Empty")
            at = len(self.model) - 1 if index is None else index
            self._in_range(at)
            return self.model.pop(at)
        assert outcome(self.ll.pop, index) == outcome(model)

    @rule(index=st.integers(0, 12), head=st.booleans())
    def remove(self, index, head):
        index = 0 if head else index
        expected = self.model.pop(index) if index < len(self.model) else None
        assert (self.ll.remove_head() if head else self.ll.remove(index)) == expected

    @rule(v=st.integers(0, 9), index=st.integers(0, 12))
    def get_update_search(self, v, index):
        assert outcome(self.ll.get, index) == outcome(lambda: self._in_range(index) or self.model[index])
        assert outcome(self.ll.update, v, index) == outcome(lambda: self._in_range(index) or self.model.__setitem__(index, v))
        assert self.ll.search(v) == (self.model.index(v) if v in self.model else None)

    @invariant()
    def agrees(self):
        assert self.ll.to_list() == self.model
        assert (self.ll.size(), self.ll.is_empty(), bool(self.ll)) == (len(self.model), not self.model, True)


TestLinkedListMachine = LinkedListMachine.TestCase
