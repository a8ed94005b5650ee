import math
import random
from collections import Counter

import pytest
from conftest import Boom, CallsBack, RaisingHash, assert_no_leak, assert_refused, same_refcount
from hypothesis import settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, rule

from morvena import CuckooFilter

MASK = (1 << 64) - 1


def mix(f):
    a = f * 0xFF51AFD7ED558CCD & MASK
    b = (a ^ (a >> 33)) * 0xC4CEB9FE1A85EC53 & MASK
    return b ^ (b >> 33)


def place(h, n):
    """(fingerprint, i1, i2) of an int below 2**61, whose object hash is itself."""
    f = max(h % 65536, 1)
    return f, h % n, (mix(f) ^ (h % n)) % n


@pytest.mark.parametrize("args", [(), (None, None, None)])
def test_defaults_are_100_buckets_of_4_and_no_buckets_is_refused(args):
    f = CuckooFilter(*args)
    assert f.is_empty() and f.len() == 0 and f.load_factor() == 0.0
    assert f.insert("x") is True
    assert f.load_factor() == 0.0025 and not f.is_empty()
    with pytest.raises(ValueError, match="^size value must be more than 0$"):
        CuckooFilter(0, *args[1:])


def test_fingerprint_and_candidate_buckets():
    assert mix(1) == 0xB456BCFC34C2CB2C
    assert [place(h, 100) for h in (1, 0, 12345)] == [(1, 1, 5), (1, 0, 4), (12345, 45, 16)]
    # One slot per bucket and no displacement: each stored item sits in its i1, and
    # probes sharing its fingerprint are found exactly when i1 or i2 is that bucket.
    f = CuckooFilter(100, 1, 0)
    assert all(map(f.insert, (1, 0, 12345)))
    seen = {place(x, 100)[:2] for x in (1, 0, 12345)}
    for probe in (k * 65536 + fingerprint for fingerprint in (0, 1, 12345) for k in range(1, 400)):
        fp, i1, i2 = place(probe, 100)
        assert f.contains(probe) is ((fp, i1) in seen or (fp, i2) in seen)


def test_no_room_means_false_and_no_change():
    f = CuckooFilter(1, 2, 0)
    assert f.insert(10) and f.insert(20)
    assert f.insert(30) is False and f.len() == 2
    assert f.contains(10) and f.contains(20)
    # With every slot taken no eviction chain can end: refused at once, whatever
    # the retry budget.
    full = CuckooFilter(3, 2, 2**64 - 1)
    assert sum(map(full.insert, range(7))) == 6 and full.load_factor() == 1.0


def colliding(count, seed):
    """Ints crowded onto few fingerprints, so copies of different items share buckets."""
    rng = random.Random(seed)
    return [rng.randrange(1 << 40) * 65536 + rng.randrange(1, 6) for _ in range(count)]


@pytest.mark.parametrize("n", [1, 7, 100, 1024])
@pytest.mark.parametrize("retries", [0, 4, 500])
@pytest.mark.parametrize("items", ["random", "colliding"])
def test_no_false_negatives_under_heavy_load(n, retries, items):
    slots = n * 4
    pool = random.Random(n).sample(range(1 << 62), 2 * slots) if items == "random" else colliding(2 * slots, n)
    f = CuckooFilter(n, 4, retries)
    kept = [x for x in pool if f.insert(x)]
    assert f.len() == len(kept) and f.load_factor() == len(kept) / slots
    assert all(map(f.contains, kept))
    random.Random(0).shuffle(kept)
    gone, kept = kept[: len(kept) // 2], kept[len(kept) // 2 :]
    assert all(map(f.delete, gone))
    assert all(map(f.contains, kept)) and f.len() == len(kept)
    # Refill: inserts after deletes still never lose an earlier copy.
    kept += [x for x in pool[::-1] if f.insert(x)]
    assert all(map(f.contains, kept)) and f.len() == len(kept)


def test_generous_retries_fill_the_filter():
    f = CuckooFilter(1000, 4, 500)
    inserted = sum(map(f.insert, random.Random(1).sample(range(1 << 62), 3800)))
    assert inserted >= 3700


@pytest.mark.parametrize("op", ["insert", "contains", "delete"])
def test_hashing_failures_and_call_backs_change_nothing_and_keep_nothing(op):
    f = CuckooFilter(4, 1, 0)
    f.insert(1)
    for item, error in (([1], TypeError), (RaisingHash(), Boom)):
        with pytest.raises(error):
            getattr(f, op)(item)
        assert f.len() == 1 and f.contains(1)
    # All three hold the exclusive borrow, contains included.
    item = CallsBack(f.len)
    getattr(f, op)(item)
    assert_refused(item, "Already mutably borrowed")
    plain = object()
    with same_refcount(plain):
        getattr(f, op)(plain)
    assert_no_leak(lambda: getattr(f, op)(3), rounds=500)


ITEMS = st.integers(0, 40) | st.builds(lambda k, low: k * 65536 + low, st.integers(0, 1000), st.integers(0, 3))


class CuckooModel(RuleBasedStateMachine):
    """Against a multiset of inserted items: an item inserted and not yet deleted
    is always found and always deletable; an empty filter finds and deletes nothing."""

    @initialize(n=st.sampled_from([1, 3, 7, 16, 100]), size=st.integers(0, 4), retries=st.integers(0, 30))
    def build(self, n, size, retries):
        self.filter, self.slots, self.model = CuckooFilter(n, size, retries), n * size, Counter()

    @rule(item=ITEMS)
    def insert(self, item):
        inserted = self.filter.insert(item)
        assert self.model or inserted is (self.slots > 0)  # an empty filter with slots has room
        if inserted:
            self.model[item] += 1

    # Which inserts succeed depends on the filter's own random evictions, so the
    # drawn data must not: a pick among the stored items, and a fallback for an
    # empty model, are drawn every time and only chosen between afterwards.
    @rule(pick=st.integers(0, 255), fallback=ITEMS)
    def delete(self, pick, fallback):
        item = sorted(self.model)[pick % len(self.model)] if self.model else fallback
        assert self.filter.delete(item) is (item in self.model)
        self.model -= Counter([item])

    @rule()
    def clear(self):
        assert self.filter.clear() is None
        self.model.clear()

    @invariant()
    def agrees(self):
        assert all(map(self.filter.contains, self.model))
        assert self.model or not any(map(self.filter.contains, range(41)))  # nothing stored, nothing found
        count, load = self.filter.len(), self.filter.load_factor()
        assert count == self.model.total() and self.filter.is_empty() == (not self.model)
        assert load == count / self.slots if self.slots else math.isnan(load)


TestCuckooModel = CuckooModel.TestCase
TestCuckooModel.settings = settings(stateful_step_count=60)
