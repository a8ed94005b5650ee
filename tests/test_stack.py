import copy
import sys

import pytest
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, rule

from morvena import Stack
from conftest import RaisingEq, assert_no_leak, outcome, same_refcount


def make(*items):
    s = Stack()
    for x in items:
        s.push(x)
    return s


def test_contains_uses_equality_and_discards_errors():
    nan = float("nan")
    s = make(1, "a", nan, RaisingEq())
    assert s.contains(1) and 1.0 in s and "a" in s
    assert not s.contains(nan)  # no identity shortcut: NaN never equals itself
    assert 2 not in s


@pytest.mark.parametrize(
    "items, index, message",
    [((1, 2, 3), 3, "Index out of bounds"), ((), None, "Index out of bounds"), ((), 0, "Stack is currently empty"),
     ((1,), 0, "Only 1 element available in Stack - Cannot swap"), ((1,), 2, "Index out of bounds")],
)
def test_swap_at_the_boundaries(items, index, message):
    s = make(*items)
    assert outcome(s.swap, index) == (ValueError, message)
    assert s.to_list() == list(reversed(items))


def test_copies_are_shallow_and_independent():
    inner = []
    s = make(inner, 2)
    for duplicate in (s.copy(), copy.copy(s)):
        assert type(duplicate) is Stack
        duplicate.pop()
        duplicate.push(3)
        duplicate.to_list()[1].append("shared")
    assert s.to_list() == [2, inner] and inner == ["shared", "shared"]


def test_references_and_memory_are_released():
    obj = object()

    def cycle():
        s = make(*range(20), obj, obj)
        assert sys.getrefcount(obj) >= 4 and s.peek() is obj
        s.swap(5)
        s.update_top(obj)
        c = s.copy()
        c.reverse()
        assert outcome(s.swap, 50)[0] is ValueError
        assert s.pop() is obj and c.to_list()[-1] is obj
        while s.pop() is not None:
            pass
        c.clear()

    with same_refcount(obj):
        assert_no_leak(cycle)


def test_five_million_elements_are_released():
    s = Stack()
    for x in range(5_000_000):
        s.push(x)
    assert len(s) == 5_000_000
    del s


class StackModel(RuleBasedStateMachine):
    """Every method against a list whose last item is the top; reading an empty stack is not an error."""

    def __init__(self):
        super().__init__()
        self.stack, self.model = Stack(), []

    @rule(values=st.lists(st.integers(-5, 5), min_size=1, max_size=3))
    def push(self, values):
        for value in values:
            self.stack.push(value)
            self.model.append(value)

    @rule()
    def pop(self):
        assert self.stack.pop() == (self.model.pop() if self.model else None)

    @rule(index=st.none() | st.integers(0, 5))
    def swap(self, index):
        def model():
            n, i = len(self.model), 1 if index is None else index
            if i > n or (i == n and n > 1):
                raise ValueError("Index out of bounds")
            if n < 2:
                raise ValueError("Only 1 element available in Stack - Cannot swap" if n else "Stack is currently empty")
            if i:
                self.model[-1], self.model[-1 - i] = self.model[-1 - i], self.model[-1]
        assert outcome(self.stack.swap, index) == outcome(model)

    @rule(value=st.integers(-5, 5))
    def reverse_and_update_top(self, value):
        def reverse():
            if len(self.model) < 2:
                raise ValueError("Reverse will have no effect on current Stack")
            self.model.reverse()

        def update_top():
            if not self.model:
                raise ValueError("No current top available in Stack")
            self.model[-1] = value
        assert outcome(self.stack.reverse) == outcome(reverse)
        assert outcome(self.stack.update_top, value) == outcome(update_top)

    @rule(value=st.integers(-5, 5))
    def contains(self, value):
        assert (value in self.stack) == self.stack.contains(value) == (value in self.model)

    @rule(by_module=st.booleans())
    def replace_with_copy(self, by_module):
        self.stack = copy.copy(self.stack) if by_module else self.stack.copy()

    @rule()
    def clear(self):
        self.stack.clear()
        self.model.clear()

    @invariant()
    def same_contents(self):
        assert self.stack.to_list() == self.model[::-1]
        assert self.stack.peek() == (self.model[-1] if self.model else None)
        n = len(self.model)
        assert (len(self.stack), self.stack.size(), bool(self.stack), self.stack.is_empty()) == (n, n, n > 0, n == 0)


TestStackModel = StackModel.TestCase
