import math
import operator
import random
from operator import methodcaller

import pytest
from hypothesis import settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, rule

from conftest import CallsBack, RaisingStr, assert_no_leak, assert_refused, panic_type, same_refcount
from morvena import Flatlist


def quietly(op, a, b):
    try:
        return bool(op(a, b))
    except Exception:  # noqa: BLE001 - the list's order discards them
        return False


def flat_compare(a, b):
    return next((r for op, r in ((operator.lt, -1), (operator.eq, 0), (operator.gt, 1)) if quietly(op, a, b)), 0)


class Model:
    """Level 0 of the list, maintained by the algorithms as written."""

    def __init__(self):
        self.items = []

    def insert(self, x):
        items, base, size = self.items, 0, len(self.items)
        while size > 1:
            half = size // 2
            if flat_compare(items[base + half], x) != 1:
                base += half
            size -= half
        items.insert(base + (bool(items) and flat_compare(items[base], x) == -1), x)

    def remove(self, key):
        removed = [x for x in self.items if quietly(operator.eq, x, key)]
        if not removed:
            raise ValueError(f"No value with key {key} found in list!")
        self.items = [x for x in self.items if not quietly(operator.eq, x, key)]
        return removed[-1]

    def index_of(self, key):
        for i, x in enumerate(self.items):
            if quietly(operator.eq, x, key):
                return i
        raise ValueError(f"No node with value {key} found in Flatlist!")

    def find(self, key):  # the walk of level 0, what every height being 0 gives
        c, x = next(((flat_compare(x, key), x) for x in self.items if flat_compare(x, key) != -1), (1, None))
        return x if c == 0 else None


def shown(value):
    return ("ok", type(value).__name__, repr(value))


def listed(values):
    return [shown(v) for v in values]


def outcome(call, *args):
    try:
        return shown(call(*args))
    except ValueError as error:
        return ("error", str(error))


def filled(*items):
    f = Flatlist()
    f.extend(items)
    return f


NUMBERS = st.one_of(st.integers(-6, 6), st.integers(-6, 6).map(float), st.sampled_from([0.5, -2.5, math.inf]))
MIXED = st.one_of(NUMBERS, st.sampled_from([math.nan, 2**70, -(2**70), "a", "b", (1,)]))


def machine(payloads):
    class FlatlistMachine(RuleBasedStateMachine):
        def __init__(self):
            super().__init__()
            self.list = Flatlist(None, 0.0)  # every height 0: lookups are exactly the level-0 walk
            self.model = Model()

        @rule(xs=st.lists(payloads, max_size=6), how=st.sampled_from(["insert", "extend", "merge"]))
        def add(self, xs, how):
            if how == "merge":
                other = Flatlist(2, 1.0)
                other.extend(xs)
                xs, before = other.to_list(), listed(other.to_list())
                assert self.list.merge(other) is True and listed(other.to_list()) == before
            elif how == "extend":
                assert self.list.extend(xs) is True
            else:
                assert all(self.list.insert(x) is True for x in xs)
            for x in xs:
                self.model.insert(x)

        @rule(key=payloads)
        def remove(self, key):
            assert outcome(self.list.remove, key) == outcome(self.model.remove, key)

        @rule(key=payloads, value=payloads)
        def update(self, key, value):
            assert self.list.update(key, value) is True
            outcome(self.model.remove, key)
            self.model.insert(value)

        @rule(key=payloads)
        def lookups(self, key):
            assert outcome(self.list.index_of, key) == outcome(self.model.index_of, key)
            found = self.model.find(key)
            assert self.list.get(key) is found
            assert self.list.contains(key) is (found is not None)

        @rule(last=st.booleans())
        def pop(self, last):
            items = self.model.items
            expected = shown(items.pop(-1 if last else 0)) if items else ("error", "No nodes currently present in Flatlist!")
            assert outcome(self.list.pop_last if last else self.list.pop_first) == expected

        @rule()
        def clear(self):
            self.list.clear()
            self.model.items.clear()

        @invariant()
        def same_level_zero(self):
            items = self.model.items
            assert listed(self.list.to_list()) == listed(items)
            assert self.list.size() == len(items) and self.list.is_empty() == (not items)
            assert outcome(self.list.peek_first) == (shown(items[0]) if items else ("error", "No first value found in Flatlist!"))
            assert outcome(self.list.peek_last) == (shown(items[-1]) if items else ("error", "No last value found in Flatlist!"))

    return FlatlistMachine


TestNumbers = machine(NUMBERS).TestCase
TestStrs = machine(st.text("ab\u00e9", max_size=3)).TestCase
TestMixed = machine(MIXED).TestCase
TestNumbers.settings = TestStrs.settings = TestMixed.settings = settings(
    max_examples=150, stateful_step_count=40, deadline=None)


@pytest.mark.parametrize("payloads", ["ints", "numbers", "strs", "mixed"])
def test_many_blocks_follow_the_model(payloads):
    # Thousands of elements spread level 0 over many blocks; equal-but-distinct
    # payloads (2 and 2.0) pin down where each insert lands among equals.
    rng = random.Random(payloads)
    r = lambda: rng.randrange(300)  # noqa: E731
    pool = {"ints": lambda: rng.randrange(400), "strs": lambda: str(rng.randrange(400)),
            "numbers": lambda: rng.choice([r(), float(r()), r() + 0.5]),
            "mixed": lambda: rng.choice([r(), float(r()), math.nan, 2**65, "s"])}[payloads]
    ours, model = Flatlist(), Model()
    for step in range(3000 if payloads != "mixed" else 1200):
        x = pool()
        if step % 7 == 3:
            assert outcome(ours.remove, x) == outcome(model.remove, x)
        elif step % 11 == 5 and model.items:
            assert listed([ours.pop_first(), ours.pop_last()]) == listed([model.items.pop(0), model.items.pop()])
        else:
            ours.insert(x)
            model.insert(x)
        if step % 97 == 0:
            assert outcome(ours.index_of, x) == outcome(model.index_of, x)
            # Random heights only matter where the order is not a total one.
            if payloads != "mixed" or model.find(x) is not None:
                assert ours.contains(x) is (model.find(x) is not None)
    assert listed(ours.to_list()) == listed(model.items)
    for x in model.items[::37]:
        assert outcome(ours.index_of, x) == outcome(model.index_of, x)


INSERTS = {"insert": methodcaller("insert", 1), "update": methodcaller("update", 1, 1),
           "extend": methodcaller("extend", [1, 2]), "merge": methodcaller("merge", filled(1))}
READS = {m: methodcaller(m) for m in ("size", "is_empty", "peek_first", "peek_last", "pop_first", "pop_last")}
READS["index_of"] = methodcaller("index_of", 1)


# Two levels or more cannot draw a height from a probability outside [0, 1], and no
# levels leave no level 0: both are ordinary errors that store nothing. One level
# draws no height, so any probability serves.
@pytest.mark.parametrize("num_list, probability, call", [
    *((n, p, c) for n, p in [(4, -0.1), (2, 1.5), (3, math.nan), (0, 0.5)] for c in INSERTS),
    *((0, None, c) for c in READS)])
def test_unusable_levels_are_ordinary_errors(num_list, probability, call):
    f = Flatlist(num_list, probability)
    with pytest.raises(ValueError, match="num_list is 0" if num_list == 0 else "probability"):
        {**INSERTS, **READS}[call](f)
    assert f.to_list() == [] and f.get(1) is None and not f.contains(1)
    one_level = Flatlist(1, probability)
    one_level.extend([3, 1, 2])
    assert one_level.to_list() == [1, 2, 3]


def test_argument_errors():
    f = Flatlist()
    with pytest.raises(TypeError, match="^argument 'items': Can't extract `str` to `Vec`$"):
        f.extend("ab")
    with pytest.raises(TypeError, match="^argument 'items': 'int' object cannot be converted to 'Sequence'$"):
        f.extend(5)
    with pytest.raises(TypeError, match="^argument 'other': 'list' object cannot be converted to 'Flatlist'$"):
        f.merge([1])
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        f.merge(f)


def test_comparisons_that_abort_change_nothing_and_call_backs_are_refused():
    with pytest.raises(BaseException):
        Flatlist().remove(RaisingStr())
    panic = panic_type()

    class Aborts:
        def __lt__(self, other):
            raise panic("abort")

        __gt__ = __eq__ = __lt__
        __hash__ = object.__hash__

    f = filled("a", "b", "c")
    for call in (f.insert, f.remove, f.index_of, lambda key: f.update(key, "z")):
        with pytest.raises(panic):
            call(Aborts())
        assert f.to_list() == ["a", "b", "c"]
    element = CallsBack(lambda: f.insert(0))
    f.insert(element)
    assert_refused(element, "Already borrowed")


def test_references_are_released():
    payload, key = object(), 10**30
    with same_refcount(payload, key):
        f = Flatlist()
        for _ in range(3):
            f.insert(payload), f.insert(key)
        assert f.remove(key) is key and f.pop_first() is payload
        f.update(payload, payload)
        f.clear()
        f.extend([payload] * 600)
        del f

    def cycle():
        f = filled(*range(300))
        f.remove(5), f.pop_last(), f.index_of(100)

    assert_no_leak(cycle, rounds=200)
