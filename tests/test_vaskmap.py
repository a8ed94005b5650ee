"""VaskMap: two bucket tables, eviction through the first, hash-indexed membership."""

import re
import struct

import pytest
from conftest import BAD_KEYS, KEY_POOL, NAN, hashes_of, native_key, same_refcount
from hypothesis import settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, rule

from morvena import VaskMap

EVICTION = "Eviction maximum (100) reached! Unable to insert key-values"


class Model:
    """The placement rules in plain Python, the eviction chain walked in full."""

    def __init__(self, capacity=1024, bucket_size=4):
        self.capacity, self.limit = capacity, bucket_size
        self.n = capacity // bucket_size if capacity else 0
        self.tables = [[[] for _ in range(self.n)] for _ in range(2)]
        self.moved = self.refused = 0  # insertions that evicted, and that hit the limit

    def buckets(self, key):
        h, fx = hashes_of(key)
        return h, ((self.tables[0][h % self.n], self.tables[1][fx % self.n]) if self.n else ())

    def insert(self, key, value):
        if len(self.items()) >= self.capacity:
            raise ValueError(f"Max capacity ({self.capacity}) reached! Unable to insert key-value")
        _, (first, second) = self.buckets(key)
        for k, _ in first + second:
            try:
                if k == key:
                    return False
            except Exception:  # noqa: BLE001 - the duplicate check discards these
                pass
        pair = [key, value]
        for evictions in range(100):
            _, (first, second) = self.buckets(pair[0])
            for bucket in (first, second):
                if len(bucket) < self.limit:
                    bucket.append(pair)
                    self.moved += evictions > 0
                    return True
            pair, first[-1] = first[-1], pair
        self.refused += 1
        raise ValueError(EVICTION)

    def locate(self, key):
        _, buckets = self.buckets(key)  # by the native key, the latest pair first
        return next(((b, p) for b in buckets for p in reversed(range(len(b))) if identity(b[p][0]) == identity(key)),
                    (None, None))

    def remove(self, key):
        bucket, p = self.locate(key)
        return None if bucket is None else bucket.pop(p)[1]

    def find(self, key):
        _, buckets = self.buckets(key)
        return next((pair for bucket in buckets for pair in bucket if pair[0] == key), None)

    def items(self):
        return [tuple(pair) for table in self.tables for bucket in table for pair in bucket]


def identity(key):
    """A native key as comparable data: a float by its bit pattern (NaN is itself, -0.0 is not 0.0)."""
    kind, payload = native_key(key)
    return kind, struct.pack("<d", payload) if kind == "Float" else payload


def same_items(actual, expected):
    return [(id(k), id(v)) for k, v in actual] == [(id(k), id(v)) for k, v in expected]


def insert_both(m, model, key, value):
    before = m.items()
    try:
        expected = model.insert(key, value)
    except ValueError as error:
        with pytest.raises(ValueError, match=f"^{re.escape(str(error))}$"):
            m.insert(key, value)
        assert m.items() == before
    else:
        assert m.insert(key, value) == expected
    assert same_items(m.items(), model.items()) and m.size() == len(model.items())


@pytest.mark.parametrize("capacity, bucket_size", [(2, 1), (5, 1), (16, 1), (16, 2), (31, 3), (1024, 4), (100, 10)])
def test_placement_follows_the_reference_hashes(capacity, bucket_size):
    m, model = VaskMap(capacity, bucket_size), Model(capacity, bucket_size)
    for value, key in enumerate(KEY_POOL):
        insert_both(m, model, key, value)
    h, fx = hashes_of(1)
    assert (Model().n, h % 256, fx % 256, Model(10, 4).n) == (256, 217, 149, 2)


def test_eviction_moves_the_last_pair_on_or_fails_whole():
    # Bucket size 1 makes both outcomes common: the new key takes its first
    # bucket and the pair there moves to its own second bucket, or that is taken
    # too and the map stays exactly as it was.
    m, model = VaskMap(20, 1), Model(20, 1)
    values = [object() for _ in range(60)]
    with same_refcount(*values):
        for key in range(len(values)):
            insert_both(m, model, key, values[key])
        m.clear()
        model.tables = None
    assert model.moved and model.refused


@pytest.mark.parametrize("stored, probe", [(1.0, 4607182418800017408), (-(2**63), -0.0), (1, 5e-324), (2, 1e-323)])
def test_a_shared_hash_is_not_a_shared_key(stored, probe):
    # Int and Float hash their raw 64 bits, so these pairs collide on every hash:
    # only the native key's kind tells them apart.
    assert hashes_of(stored) == hashes_of(probe)
    m = VaskMap()
    m.insert(stored, "stored")
    assert not m.contains(probe) and m.remove(probe) is None and m.size() == 1
    assert m.insert(probe, "probe") and m.size() == 2
    assert m.remove(probe) == "probe" and m.contains(stored) and not m.contains(probe)
    assert m.remove(stored) == "stored" and m.is_empty()


@pytest.mark.parametrize("older, newer", [(NAN, NAN), (1, 5e-324), (2**63, 2**63 + 1)])
def test_pairs_sharing_a_hash_stay_reachable(older, newer):
    m = VaskMap(8, 4)
    m.insert(older, "old")
    m.insert(newer, "new")
    assert m.size() == 2 and m.contains(older) and m.contains(newer)
    assert m.remove(newer) == "new" and m.contains(older)
    assert m.remove(older) == "old" and m.keys() == [] and m.remove(older) is None


def test_constructor_errors():
    with pytest.raises(MemoryError):
        VaskMap(2**64 - 1, 1)
    for capacity, bucket_size in [(10, 0), (3, 4)]:
        with pytest.raises(ValueError, match=f"capacity {capacity} and bucket size {bucket_size}"):
            VaskMap(capacity, bucket_size)


@settings(stateful_step_count=40)
class VaskMachine(RuleBasedStateMachine):
    @initialize(capacity=st.integers(1, 8), bucket_size=st.integers(1, 3))
    def create(self, capacity, bucket_size):
        bucket_size = min(bucket_size, capacity)
        self.map, self.model = VaskMap(capacity, bucket_size), Model(capacity, bucket_size)

    @rule(key=st.sampled_from(KEY_POOL + BAD_KEYS), value=st.integers())
    def insert(self, key, value):
        insert_both(self.map, self.model, key, value)

    @rule(key=st.sampled_from(KEY_POOL))
    def remove(self, key):
        assert self.map.remove(key) is self.model.remove(key)

    @rule(key=st.sampled_from(KEY_POOL), value=st.integers())
    def lookups_and_update(self, key, value):
        pair = self.model.find(key)
        assert self.map.get(key) is (pair and pair[1])
        assert self.map.contains(key) == (self.model.locate(key)[0] is not None)
        if pair:
            pair[1] = value
        assert self.map.update(key, value) == bool(pair)

    @rule()
    def copy(self):
        # The copy keeps every pair in place: re-inserting them could refuse one
        # as equal to a key stored under another native key (1 beside 1.0).
        self.map = self.map.copy()

    @invariant()
    def listings_agree(self):
        assert same_items(self.map.items(), self.model.items())


test_vask_machine = VaskMachine.TestCase
