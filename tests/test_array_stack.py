import pytest
from conftest import outcome, same_refcount
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, rule

from morvena import ArrayStack

EMPTY = "No elements currently available in Stack"


@pytest.mark.parametrize("make", [ArrayStack, lambda: ArrayStack(None), lambda: ArrayStack(size=0)])
def test_without_limit_never_fills(make):
    s = make()
    s.extend(list(range(1000)))
    assert s.size() == 1000 and not s.is_full()


@pytest.mark.parametrize("bad", [(1,), {1}, (x for x in [1]), "ab", None])
def test_extend_takes_only_lists(bad):
    with pytest.raises(TypeError, match="^argument 'iterable': .* cannot be converted to 'PyList'"):
        ArrayStack().extend(bad)


def test_no_length_protocol_and_shallow_copy_keeping_the_limit():
    s = ArrayStack(2)
    with pytest.raises(TypeError):
        len(s)
    assert bool(s)
    s.extend([[], 1])
    c = s.copy()
    c.pop()
    c.peek().append(1)
    assert s.to_list() == [[1], 1] and c.to_list() == [[1]]
    c.push(2)
    assert c.is_full() and outcome(c.push, 3) == (ValueError, "Stack is at max capacity")


def test_reference_counts():
    x, y = object(), object()
    with same_refcount(x, y):
        s = ArrayStack(3)
        s.extend([x, x, y])
        assert outcome(s.push, y)[0] is ValueError and outcome(s.extend, [y])[0] is ValueError
        s.swap(0)
        s.reverse()
        s.update_top(x)
        c = s.copy()
        assert s.pop() is x and s.peek() is x
        s.clear()
        del s, c


class ArrayStackMachine(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.limit, self.s, self.model = 0, ArrayStack(), []

    @rule(limit=st.integers(0, 6))
    def restart(self, limit):
        self.limit, self.s, self.model = limit, ArrayStack(limit), []

    def _fits(self, n, message):
        if self.limit and len(self.model) + n > self.limit:
            raise ValueError(message)

    def _not_empty(self):
        if not self.model:
            raise ValueError(EMPTY)

    @rule(v=st.integers(0, 5))
    def push(self, v):
        expected = outcome(lambda: self._fits(1, "Stack is at max capacity") or self.model.append(v))
        assert outcome(self.s.push, v) == expected

    @rule(items=st.lists(st.integers(0, 5), max_size=4))
    def extend(self, items):
        message = "Stack doens't have enough capacity for these elements"
        assert outcome(self.s.extend, items) == outcome(lambda: self._fits(len(items), message) or self.model.extend(items))

    @rule()
    def pop(self):
        assert outcome(self.s.pop) == outcome(lambda: self._not_empty() or self.model.pop())

    @rule(index=st.integers(0, 7))
    def swap(self, index):
        def model():
            self._not_empty()
            if index >= len(self.model):
                raise ValueError("Index out of bounds")
            if len(self.model) == 1:
                raise ValueError("Only 1 element available in Stack - Cannot swap")
            self.model[index], self.model[-1] = self.model[-1], self.model[index]
        assert outcome(self.s.swap, index) == outcome(model)

    @rule(v=st.integers(0, 5))
    def reverse_update_contains(self, v):
        assert outcome(self.s.reverse) == outcome(lambda: self._not_empty() or self.model.reverse())
        assert outcome(self.s.update_top, v) == outcome(lambda: self._not_empty() or self.model.__setitem__(-1, v))
        assert self.s.contains(v) == (v in self.model)
        assert outcome(self.s.peek) == outcome(lambda: self._not_empty() or self.model[-1])

    @rule()
    def replace_by_copy(self):
        if self.model:
            self.s = self.s.copy()  # keeps the limit: the invariant checks is_full
        else:
            assert outcome(self.s.copy) == (ValueError, "No elements in Stack to copy")

    @invariant()
    def agrees(self):
        assert self.s.to_list() == self.model
        assert (self.s.top_index(), self.s.is_empty()) == (len(self.model) - 1, not self.model)
        assert self.s.is_full() == (self.limit != 0 and len(self.model) == self.limit)


TestArrayStackMachine = ArrayStackMachine.TestCase
