"""RhoodMap: Robin Hood placement, lookups, backward-shift removal, capacity."""

import pytest
from conftest import BAD_KEYS, KEY_POOL, hashes_of, outcome
from hypothesis import settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, rule

from morvena import RhoodMap


class Model:
    """The placement rules in plain Python; a slot is [key, value, distance]."""

    def __init__(self, capacity=1024):
        self.capacity, self.slots = capacity, [None] * capacity

    def home(self, key):
        return hashes_of(key)[0] % self.capacity

    def insert(self, key, value):
        if len(self.items()) >= self.capacity:
            raise ValueError(f"Maximum capacity ({self.capacity}) reached! Unable to insert key-value")
        i, carried = self.home(key), [key, value, 0]
        while self.slots[i] is not None:
            if carried[2] >= self.slots[i][2]:
                self.slots[i], carried = carried, self.slots[i]
            carried[2] += 1
            i = (i + 1) % self.capacity
        self.slots[i] = carried
        return True

    def find(self, key):
        hashes_of(key)  # conversion errors come first
        i = self.home(key) if self.capacity else 0
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


@pytest.mark.parametrize("capacity", [1, 2, 3, 7, 16, 23, 64, 97, 1024, 65521])
def test_placement_follows_the_reference_hash(capacity):
    # All pool keys at once: their listing order pins each key's home slot for
    # many moduli, so a native hash that strays from the reference shows.
    m, model = RhoodMap(capacity), Model(capacity)
    for value, key in enumerate(KEY_POOL[:capacity]):
        m.insert(key, value)
        model.insert(key, value)
    assert same_items(m.items(), model.items())
    assert Model().home(1) == 473


def test_ties_displace_and_copies_are_independent():
    first, second = [k for k in range(1000) if Model(8).home(k) == 3][:2]
    m = RhoodMap(8)
    m.insert(first, "a")
    m.insert(second, "b")
    c = m.copy()
    assert m.keys() == [second, first] and m.remove(second) == "b" and m.keys() == [first] and m.contains(first)
    assert c.remove(first) == "a" and c.keys() == [second] and c.get(second) == "b"


def test_a_copy_answers_like_its_source():
    # Equal keys may share a probe path; the newest must stay the one reached first.
    m = RhoodMap(8)
    for key, value in [("k", "old"), (1, "int"), (1.0, "float"), ("k", "new"), (True, "bool")]:
        m.insert(key, value)
    c = m.copy()
    assert same_items(c.items(), m.items())
    assert [c.get(k) for k in ("k", 1, 1.0)] == [m.get(k) for k in ("k", 1, 1.0)] == ["new", "bool", "float"]
    assert c.remove("k") == "new" and c.get("k") == "old" and m.get("k") == "new"


def test_constructor_arguments():
    assert RhoodMap(None).capacity() == 1024
    for arg, error in (("8", TypeError), (-1, OverflowError), (2**64 - 1, MemoryError)):
        with pytest.raises(error, match="^argument 'capacity': " if error is TypeError else None):
            RhoodMap(arg)


@settings(stateful_step_count=40)
class RhoodMachine(RuleBasedStateMachine):
    @initialize(capacity=st.integers(1, 8))
    def create(self, capacity):
        self.map, self.model = RhoodMap(capacity), Model(capacity)

    def both(self, name, *args):
        real, model = (outcome(getattr(x, name), *args) for x in (self.map, self.model))
        assert real[0] == model[0] and (real[1] is model[1] if real[0] == "ok" else real[1] == model[1])

    @rule(key=st.sampled_from(KEY_POOL + BAD_KEYS), value=st.integers())
    def insert(self, key, value):
        self.both("insert", key, value)

    @rule(key=st.sampled_from(KEY_POOL))
    def remove(self, key):
        self.both("remove", key)

    @rule(key=st.sampled_from(KEY_POOL), value=st.integers())
    def lookups_and_update(self, key, value):
        found = self.model.find(key)
        assert self.map.get(key) is (None if found is None else self.model.slots[found][1])
        assert self.map.contains(key) == (found is not None)
        if found is not None:
            self.model.slots[found][1] = value
        assert self.map.update(key, value) == (found is not None)

    @rule()
    def copy(self):
        # A copy keeps every pair in its slot: equal keys keep their order of reach.
        self.map = self.map.copy()
        self.model.slots = [None if s is None else list(s) for s in self.model.slots]

    @invariant()
    def listings_agree(self):
        assert same_items(self.map.items(), self.model.items())


test_rhood_machine = RhoodMachine.TestCase
