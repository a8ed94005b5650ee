import math
import operator
import random

import pytest
from hypothesis import settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, rule

from conftest import CallsBack, RaisingStr, assert_no_leak, assert_refused, panic_type, same_refcount
from morvena import Flatlist


def flat_compare(a, b):
    for op, result in ((operator.lt, -1), (operator.eq, 0), (operator.gt, 1)):
        try:
            if op(a, b):
                return result
        except Exception:  # noqa: BLE001 - the list's order discards them
            pass
    return 0


def equal(a, b):
    try:
        return bool(a == b)
    except Exception:  # noqa: BLE001
        return False


class Model:
    """Level 0 of the list, maintained by the algorithms as written."""

    def __init__(self):
        self.items = []

    def insert(self, x):
        items, base, size = self.items, 0, len(self.items)
        if items:
            while size > 1:
                half = size // 2
                if flat_compare(items[base + half], x) != 1:
                    base += half
                size -= half
            base += flat_compare(items[base], x) == -1
        items.insert(base, x)

    def remove(self, key):
        kept = [x for x in self.items if not equal(x, key)]
        removed = [x for x in self.items if equal(x, key)]
        if removed:
            self.items = kept
            return removed[-1]
        raise ValueError(f"No value with key {key} found in list!")

    def index_of(self, key):
        for i, x in enumerate(self.items):
            if equal(x, key):
                return i
        raise ValueError(f"No node with value {key} found in Flatlist!")

    def find(self, key):  # the walk of level 0, what every height being 0 gives
        for x in self.items:
            c = flat_compare(x, key)
            if c != -1:
                return x if c == 0 else None
        return None


def shown(values):
    return [(type(v).__name__, repr(v)) for v in values]


def outcome(call, *args):
    try:
        result = call(*args)
    except ValueError as error:
        return ("error", str(error))
    return ("ok",) + tuple(shown([result]))


NUMBERS = st.one_of(st.integers(-6, 6), st.integers(-6, 6).map(float), st.sampled_from([0.5, -2.5, math.inf]))
MIXED = st.one_of(NUMBERS, st.sampled_from([math.nan, 2**70, -(2**70), "a", "b", (1,)]))


def machine(payloads):
    class FlatlistMachine(RuleBasedStateMachine):
        def __init__(self):
            super().__init__()
            self.list = Flatlist(None, 0.0)  # every height 0: lookups are exactly the level-0 walk
            self.model = Model()

        @rule(x=payloads)
        def insert(self, x):
            assert self.list.insert(x) is True
            self.model.insert(x)

        @rule(xs=st.lists(payloads, max_size=6))
        def extend(self, xs):
            assert self.list.extend(xs) is True
            for x in xs:
                self.model.insert(x)

        @rule(xs=st.lists(payloads, max_size=6))
        def merge(self, xs):
            other = Flatlist(2, 1.0)
            other.extend(xs)
            before = shown(other.to_list())
            assert self.list.merge(other) is True and shown(other.to_list()) == before
            for x in other.to_list():
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
            ours = outcome(self.list.pop_last if last else self.list.pop_first)
            if self.model.items:
                assert ours == ("ok",) + tuple(shown([self.model.items.pop(-1 if last else 0)]))
            else:
                assert ours == ("error", "No nodes currently present in Flatlist!")

        @rule()
        def clear(self):
            self.list.clear()
            self.model.items.clear()

        @invariant()
        def same_level_zero(self):
            items = self.model.items
            assert shown(self.list.to_list()) == shown(items)
            assert self.list.size() == len(items) and self.list.is_empty() == (not items)
            peeks = outcome(self.list.peek_first), outcome(self.list.peek_last)
            if items:
                assert peeks == (("ok",) + tuple(shown([items[0]])), ("ok",) + tuple(shown([items[-1]])))
            else:
                assert peeks == (("error", "No first value found in Flatlist!"), ("error", "No last value found in Flatlist!"))

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
    pool = {
        "ints": lambda: rng.randrange(400),
        "strs": lambda: str(rng.randrange(400)),
        "numbers": lambda: rng.choice([rng.randrange(300), float(rng.randrange(300)), rng.randrange(300) + 0.5]),
        "mixed": lambda: rng.choice([rng.randrange(300), float(rng.randrange(300)), math.nan, 2**65, "s"]),
    }[payloads]
    ours, model = Flatlist(), Model()
    for step in range(3000 if payloads != "mixed" else 1200):
        x = pool()
        if step % 7 == 3:
            assert outcome(ours.remove, x) == outcome(model.remove, x)
        elif step % 11 == 5 and model.items:
            assert shown([ours.pop_first(), ours.pop_last()]) == shown([model.items.pop(0), model.items.pop()])
        else:
            ours.insert(x)
            model.insert(x)
        if step % 97 == 0:
            assert outcome(ours.index_of, x) == outcome(model.index_of, x)
            # Random heights only matter where the order is not a total one.
            if payloads != "mixed" or model.find(x) is not None:
                assert ours.contains(x) is (model.find(x) is not None)
    assert shown(ours.to_list()) == shown(model.items)
    for x in model.items[::37]:
        assert outcome(ours.index_of, x) == outcome(model.index_of, x)


@pytest.mark.parametrize("num_list, probability", [(4, -0.1), (2, 1.5), (3, math.nan), (0, 0.5)])
@pytest.mark.parametrize("call", ["insert", "update", "extend", "merge"])
def test_unusable_levels_insert_nothing(num_list, probability, call):
    f = Flatlist(num_list, probability)
    source = Flatlist()
    source.insert(1)
    action = {"insert": lambda: f.insert(1), "update": lambda: f.update(1, 1),
              "extend": lambda: f.extend([1, 2]), "merge": lambda: f.merge(source)}[call]
    with pytest.raises(ValueError, match="num_list is 0" if num_list == 0 else "probability"):
        action()
    assert f.to_list() == [] and not f.contains(1)


@pytest.mark.parametrize("probability", [-3.0, 2.0, math.nan, 1.0, 0.0])
def test_probability_is_free_without_a_height_to_draw(probability):
    one_level = Flatlist(1, probability)
    for x in (3, 1, 2):
        one_level.insert(x)
    assert one_level.to_list() == [1, 2, 3]


@pytest.mark.parametrize("method", ["size", "is_empty", "index_of", "peek_first", "peek_last", "pop_first", "pop_last"])
def test_no_levels_is_an_ordinary_error(method):
    f = Flatlist(0)
    args = (1,) if method == "index_of" else ()
    with pytest.raises(ValueError, match="num_list is 0"):
        getattr(f, method)(*args)
    assert f.to_list() == [] and f.get(1) is None and not f.contains(1)


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


def test_an_abort_in_a_comparison_changes_nothing():
    with pytest.raises(BaseException):
        Flatlist().remove(RaisingStr())
    panic = panic_type()

    class Aborts:
        def __lt__(self, other):
            raise panic("abort")

        __gt__ = __eq__ = __lt__
        __hash__ = object.__hash__

    f = Flatlist()
    f.extend(["a", "b", "c"])
    for call in (f.insert, f.remove, f.index_of, lambda key: f.update(key, "z")):
        with pytest.raises(panic):
            call(Aborts())
        assert f.to_list() == ["a", "b", "c"]


def test_reentrant_calls_are_refused():
    f = Flatlist()
    f.extend(["x", "y"])
    element = CallsBack(lambda: f.insert(0))
    f.insert(element)
    assert_refused(element, "Already borrowed")


def test_references_are_released():
    payload, key = object(), 10**30
    with same_refcount(payload, key):
        f = Flatlist()
        for _ in range(3):
            f.insert(payload)
            f.insert(key)
        assert f.remove(key) is key
        assert f.pop_first() is payload
        f.update(payload, payload)
        f.clear()
        f.extend([payload] * 600)
        del f

    def cycle():
        f = Flatlist()
        f.extend(range(300))
        f.remove(5)
        f.pop_last()
        f.index_of(100)

    assert_no_leak(cycle, rounds=200)
