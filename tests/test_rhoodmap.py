"""RhoodMap: Robin Hood placement, lookups, backward-shift removal, key kinds."""

from contextlib import nullcontext

import pytest
from conftest import (BAD_KEYS, KEY_POOL, UNSUPPORTED_KEY, Boom, CallsBack, assert_no_leak, assert_refused,
                      hashes_of, same_refcount)
from hypothesis import settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, rule

from morvena import RhoodMap

RULE = "-" * 81


class Model:
    """The placement rules in plain Python; slots hold [key, value, distance]."""

    def __init__(self, capacity=1024):
        self.capacity = capacity
        self.slots = [None] * capacity

    def home(self, key):
        return hashes_of(key)[0] % self.capacity

    def insert(self, key, value):
        if sum(s is not None for s in self.slots) >= self.capacity:
            raise ValueError(f"Maximum capacity ({self.capacity}) reached! Unable to insert key-value")
        i, carried = self.home(key), [key, value, 0]
        while self.slots[i] is not None:
            if carried[2] >= self.slots[i][2]:
                self.slots[i], carried = carried, self.slots[i]
            carried[2] += 1
            i = (i + 1) % self.capacity
        self.slots[i] = carried

    def find(self, key):
        hashes_of(key)  # conversion errors come first
        if self.capacity:
            i = self.home(key)
            for _ in range(self.capacity):
                if self.slots[i] is None:
                    break
                if self.slots[i][0] == key:
                    return i
                i = (i + 1) % self.capacity
        return None

    def remove(self, key):
        i = self.find(key)
        if i is None:
            raise ValueError(f"Could not locate key {key} in rhoodMap")
        value, self.slots[i] = self.slots[i][1], None
        j = (i + 1) % self.capacity
        while self.slots[j] is not None and self.slots[j][2] != 0:
            self.slots[j][2] -= 1
            self.slots[i], self.slots[j] = self.slots[j], None
            i, j = j, (j + 1) % self.capacity
        return value

    def items(self):
        return [(s[0], s[1]) for s in self.slots if s is not None]


def same_items(actual, expected):
    return [(id(k), id(v)) for k, v in actual] == [(id(k), id(v)) for k, v in expected]


@pytest.mark.parametrize("capacity", [1, 2, 3, 5, 7, 16, 23, 31, 64, 97, 1024, 65521])
def test_placement_follows_the_reference_hash(capacity):
    # Every pool key at once: the listing order pins each key's home slot, so a
    # native hash that strays from the reference reorders it.
    m, model = RhoodMap(capacity), Model(capacity)
    for value, key in enumerate(KEY_POOL[:capacity]):
        m.insert(key, value)
        model.insert(key, value)
    assert same_items(m.items(), model.items())


def test_key_one_sits_at_home_473_of_the_default_map():
    model = Model()
    assert model.home(1) == 473
    before = next(k for k in range(10**6) if model.home(k) == 472)
    after = next(k for k in range(10**6) if model.home(k) == 474)
    m = RhoodMap()
    for key in (after, 1, before):
        m.insert(key, None)
    assert m.keys() == [before, 1, after]


def test_equal_keys_stack_newest_first():
    m = RhoodMap()
    m.insert("k", 1)
    m.insert("k", 2)
    assert (m.size(), m.keys(), m.get("k")) == (2, ["k", "k"], 2)
    assert m.remove("k") == 2 and m.get("k") == 1


def test_ties_displace_and_removal_shifts_back():
    model = Model(8)
    first, second = [k for k in range(1000) if model.home(k) == 3][:2]
    m = RhoodMap(8)
    m.insert(first, "a")
    m.insert(second, "b")
    assert m.keys() == [second, first]
    c = m.copy()
    assert m.remove(second) == "b" and m.keys() == [first] and m.contains(first)
    assert c.remove(first) == "a" and c.keys() == [second] and c.get(second) == "b"


def test_full_map():
    m = RhoodMap(4)
    for k in range(4):
        m.insert(k, k)
    for key in (99, None):  # the capacity check comes before the key's conversion
        with pytest.raises(ValueError, match=r"^Maximum capacity \(4\) reached! Unable to insert key-value$"):
            m.insert(key, 0)
    assert (m.get(99), m.contains(99), m.update(99, 1), m.percentage()) == (None, False, False, 100.0)
    m.clear()
    assert m.is_empty() and m.capacity() == 4 and m.keys() == []


def test_capacity_zero_reports_not_found():
    m = RhoodMap(0)
    assert (m.get(1), m.contains(1), m.update(1, 2), m.from_keys([1, "a"]), m.keys()) == (None, False, False, [], [])
    with pytest.raises(ValueError, match="^Could not locate key 1 in rhoodMap$"):
        m.remove(1)
    with pytest.raises(ValueError, match=r"^Maximum capacity \(0\)"):
        m.insert(1, 1)
    with pytest.raises(ValueError, match=UNSUPPORTED_KEY):
        m.get(None)


def test_surface():
    m = RhoodMap(capacity=8)
    m.insert("a", None)
    m.insert("b", 2)
    assert m.from_keys(["b", "zz", "a", "b"]) == [2, 2]
    assert m.info() == {"type": "RhoodMap", "capacity": 8, "size": 2, "percentage": 25.0,
                        "keys": m.keys(), "values": m.values()}
    assert list(m.info()) == ["type", "capacity", "size", "percentage", "keys", "values"]
    assert RhoodMap.__doc__ == f"{RULE}\nImplementation of RhoodMap structure/class & related operations\n{RULE}"
    assert RhoodMap.update.__text_signature__ == "($self, key, new_value)"
    assert RhoodMap(None).capacity() == 1024
    with pytest.raises(TypeError, match="^argument 'capacity': "):
        RhoodMap("8")
    with pytest.raises(OverflowError):
        RhoodMap(-1)
    with pytest.raises(MemoryError):
        RhoodMap(2**64 - 1)


class Key(int):
    """An int key (so it converts) whose equality is its own."""

    def __eq__(self, other):
        raise Boom("eq")

    __hash__ = int.__hash__


@pytest.mark.parametrize("call", ["get", "contains", "update", "remove", "from_keys"])
def test_failing_equality_propagates_and_changes_nothing(call):
    m = RhoodMap(4)
    stored, value = Key(5), object()
    m.insert(stored, value)
    with same_refcount(stored, value):
        with pytest.raises(Boom):
            {"update": lambda: m.update(5, 1), "from_keys": lambda: m.from_keys([5])}.get(
                call, lambda: getattr(m, call)(5))()
    assert m.items() == [(stored, value)]


def callback_key(value, callback):
    element = CallsBack(callback)
    cls = type("CallsBackKey", (int,), {"__eq__": lambda self, other: element._run(), "__hash__": int.__hash__})
    return cls(value), element


@pytest.mark.parametrize("outer", ["update", "remove", "get"])
def test_equality_calling_back_is_refused(outer):
    m = RhoodMap(4)
    key, element = callback_key(1, lambda: m.clear())
    m.insert(key, "v")
    with pytest.raises(ValueError) if outer == "remove" else nullcontext():
        getattr(m, outer)(*((1, 2) if outer == "update" else (1,)))
    assert_refused(element, "Already borrowed")
    assert m.items() == [(key, "v")]


def test_references_are_kept_and_released():
    key, v1, v2 = "k-" + "x" * 10, object(), object()
    with same_refcount(key, v1, v2):
        m = RhoodMap(8)
        m.insert(key, v1)
        c = m.copy()
        m.update(key, v2)
        assert m.remove(key) is v2
        m.insert(key, v1)
        m.clear()
        del m, c
    assert_no_leak(lambda: RhoodMap(8).insert("a", [1]))


@settings(max_examples=60, stateful_step_count=40, deadline=None)
class RhoodMachine(RuleBasedStateMachine):
    @initialize(capacity=st.integers(1, 8))
    def create(self, capacity):
        self.capacity = capacity
        self.map, self.model = RhoodMap(capacity), Model(capacity)

    keys = st.sampled_from(KEY_POOL + BAD_KEYS)

    def both(self, name, *args):
        def outcome(f):
            try:
                return f(*args), None
            except ValueError as error:
                return None, str(error)

        ours, theirs = outcome(getattr(self.map, name)), outcome(getattr(self.model, name))
        assert ours[1] == theirs[1]
        return ours[0], theirs[0]

    @rule(key=keys, value=st.integers())
    def insert(self, key, value):
        self.both("insert", key, value)

    @rule(key=keys)
    def remove(self, key):
        ours, theirs = self.both("remove", key)
        assert ours is theirs

    @rule(key=keys)
    def lookups(self, key):
        found = self.model.find(key) if key not in BAD_KEYS else None
        value = None if found is None else self.model.slots[found][1]
        try:
            assert self.map.get(key) is value and self.map.contains(key) == (found is not None)
        except ValueError as error:
            assert str(error) == UNSUPPORTED_KEY

    @rule(key=st.sampled_from(KEY_POOL), value=st.integers())
    def update(self, key, value):
        found = self.model.find(key)
        if found is not None:
            self.model.slots[found][1] = value
        assert self.map.update(key, value) == (found is not None)

    @rule()
    def copy(self):
        self.map = self.map.copy()
        items, self.model = self.model.items(), Model(self.capacity)
        for k, v in items:
            self.model.insert(k, v)

    @invariant()
    def listings_agree(self):
        assert same_items(self.map.items(), self.model.items())
        assert self.map.size() == len(self.model.items())


test_rhood_machine = RhoodMachine.TestCase
