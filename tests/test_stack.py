import copy
import sys

import pytest
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, precondition, rule

from morvena import Stack
from conftest import RaisingEq, assert_no_leak, same_refcount


def make(*items):
    s = Stack()
    for x in items:
        s.push(x)
    return s


def test_empty_reads_are_not_errors():
    s = Stack()
    assert s.pop() is None and s.peek() is None
    assert s.size() == 0 and len(s) == 0 and not s and s.is_empty()
    assert s.to_list() == []


@pytest.mark.parametrize(
    "index, expected",
    [(None, [2, 3, 1]), (1, [2, 3, 1]), (2, [1, 2, 3]), (0, [3, 2, 1])],
)
def test_swap(index, expected):
    s = make(1, 2, 3)
    s.swap(index)
    assert s.to_list() == expected


@pytest.mark.parametrize(
    "items, index, message",
    [
        ((1, 2, 3), 3, "Index out of bounds"),
        ((1, 2, 3), 4, "Index out of bounds"),
        ((), None, "Index out of bounds"),
        ((), 0, "Stack is currently empty"),
        ((1,), 1, "Only 1 element available in Stack - Cannot swap"),
        ((1,), 0, "Only 1 element available in Stack - Cannot swap"),
        ((1,), 2, "Index out of bounds"),
    ],
)
def test_swap_errors_leave_the_stack_unchanged(items, index, message):
    s = make(*items)
    with pytest.raises(ValueError) as info:
        s.swap(index)
    assert str(info.value) == message
    assert s.to_list() == list(reversed(items))


@pytest.mark.parametrize(
    "action, items, message",
    [
        (lambda s: s.reverse(), (), "Reverse will have no effect on current Stack"),
        (lambda s: s.reverse(), (1,), "Reverse will have no effect on current Stack"),
        (lambda s: s.update_top(5), (), "No current top available in Stack"),
    ],
)
def test_value_errors(action, items, message):
    s = make(*items)
    with pytest.raises(ValueError, match=f"^{message}$"):
        action(s)
    assert s.to_list() == list(reversed(items))


def test_reverse_update_and_clear():
    s = make(1, 2, 3)
    s.reverse()
    assert s.to_list() == [1, 2, 3] and s.peek() == 1
    s.update_top("top")
    assert s.to_list() == ["top", 2, 3]
    s.clear()
    assert s.to_list() == [] and s.size() == 0
    s.push(9)
    assert s.pop() == 9


def test_contains_uses_equality_and_discards_errors():
    nan = float("nan")
    s = make(1, "a", nan, RaisingEq())
    assert s.contains(1) and 1.0 in s and "a" in s
    assert not s.contains(nan)  # no identity shortcut: NaN never equals itself
    assert 2 not in s


def test_copies_are_shallow_and_independent():
    inner = []
    s = make(inner, 2)
    for duplicate in (s.copy(), copy.copy(s)):
        assert type(duplicate) is Stack and duplicate.to_list() == [2, inner]
        duplicate.pop()
        duplicate.push(3)
        assert s.to_list() == [2, inner]
    s.copy().to_list()[1].append("shared")
    assert inner == ["shared"]
    assert Stack().copy().to_list() == []


def test_reference_counts():
    obj = object()
    with same_refcount(obj):
        s = make(obj, obj)
        assert sys.getrefcount(obj) >= 4
        assert s.peek() is obj
        s.swap()
        s.update_top(obj)
        c = s.copy()
        assert s.to_list() == [obj, obj]
        assert s.pop() is obj
        del c, s
    with same_refcount(obj):
        s = make(obj)
        s.clear()
    with same_refcount(obj):
        s = make(obj)
        with pytest.raises(ValueError):
            s.swap(5)
        del s


def test_no_leak_over_many_cycles():
    def cycle():
        s = make(*range(20))
        s.swap(5)
        c = s.copy()
        c.reverse()
        c.to_list()
        while s.pop() is not None:
            pass
        c.clear()

    assert_no_leak(cycle)


def test_five_million_elements_are_released():
    s = Stack()
    for x in range(5_000_000):
        s.push(x)
    assert len(s) == 5_000_000
    del s


class StackModel(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.stack = Stack()
        self.model = []  # top last

    @rule(value=st.integers(-5, 5))
    def push(self, value):
        self.stack.push(value)
        self.model.append(value)

    @rule()
    def pop(self):
        assert self.stack.pop() == (self.model.pop() if self.model else None)

    @rule(index=st.one_of(st.none(), st.integers(0, 6)))
    def swap(self, index):
        n, i = len(self.model), 1 if index is None else index
        expected = None
        if i > n or (i == n and n > 1):
            expected = "Index out of bounds"
        elif n == 0:
            expected = "Stack is currently empty"
        elif n == 1:
            expected = "Only 1 element available in Stack - Cannot swap"
        if expected:
            with pytest.raises(ValueError, match=expected):
                self.stack.swap(index)
        else:
            self.stack.swap(index)
            if i:
                self.model[-1], self.model[-1 - i] = self.model[-1 - i], self.model[-1]

    @rule()
    def reverse(self):
        if len(self.model) < 2:
            with pytest.raises(ValueError):
                self.stack.reverse()
        else:
            self.stack.reverse()
            self.model.reverse()

    @rule(value=st.integers(-5, 5))
    def update_top(self, value):
        if not self.model:
            with pytest.raises(ValueError):
                self.stack.update_top(value)
        else:
            self.stack.update_top(value)
            self.model[-1] = value

    @precondition(lambda self: len(self.model) > 3)
    @rule()
    def replace_with_copy(self):
        self.stack = copy.copy(self.stack)

    @rule(value=st.integers(-5, 5))
    def contains(self, value):
        assert (value in self.stack) == (value in self.model)

    @invariant()
    def same_contents(self):
        assert self.stack.to_list() == self.model[::-1]
        assert len(self.stack) == len(self.model)
        assert self.stack.peek() == (self.model[-1] if self.model else None)


TestStackModel = StackModel.TestCase
