"""Bloom and cuckoo filters against rbloom and the built-in set."""

import math
import random

from morvena import BloomFilter, CuckooFilter
from morvena.bench import Workload

BLOOM_RATE = 0.01
CUCKOO_BUCKET_SIZE = 4
CUCKOO_RETRIES = 100


def _random_ints(n, seed=8):
    return random.Random(seed).sample(range(1 << 62), n)


def _half_present(n):
    """n items to add and n probes, half of them among the added ones, shuffled."""
    items = _random_ints(2 * n)
    added = items[: n // 2]
    probes = added + items[n : 2 * n - n // 2]
    random.Random(1).shuffle(probes)
    # Fresh objects in probe order, so a probe's int is not a cache miss of its
    # own: the timing is of the filter, not of reading scattered ints.
    return added, [(x + 1) - 1 for x in probes]


def _rbloom(n):
    import rbloom

    return rbloom.Bloom(n, BLOOM_RATE)


def _cuckoo(n):
    # Buckets for twice the items: a load of one half, the regime a cuckoo filter
    # is sized for, well below the load where inserts start failing.
    return CuckooFilter(max(1, 2 * n // CUCKOO_BUCKET_SIZE), CUCKOO_BUCKET_SIZE, CUCKOO_RETRIES)


# Operations are written as users write them, `f.add(x)`, so that both sides get
# the interpreter's method-call fast paths.
def _bloom_add(n):
    items = _random_ints(n)

    def run():
        f = BloomFilter(n, BLOOM_RATE)
        for x in items:
            f.add(x)

    return run


def _rbloom_add(n):
    items = _random_ints(n)

    def run():
        f = _rbloom(n)
        for x in items:
            f.add(x)

    return run


def _bloom_contains(n):
    added, probes = _half_present(n)
    f = BloomFilter(n, BLOOM_RATE)
    for x in added:
        f.add(x)

    def run():
        for x in probes:
            f.contains(x)

    return run


def _rbloom_contains(n):
    added, probes = _half_present(n)
    f = _rbloom(n)
    for x in added:
        f.add(x)

    def run():
        for x in probes:
            x in f

    return run


def _cuckoo_insert(n):
    items = _random_ints(n)

    def run():
        f = _cuckoo(n)
        for x in items:
            f.insert(x)

    return run


def _set_add(n):
    items = _random_ints(n)

    def run():
        s = set()
        for x in items:
            s.add(x)

    return run


def _cuckoo_contains(n):
    added, probes = _half_present(n)
    f = _cuckoo(n)
    for x in added:
        f.insert(x)

    def run():
        for x in probes:
            f.contains(x)

    return run


def _set_contains(n):
    added, probes = _half_present(n)
    s = set(added)

    def run():
        for x in probes:
            x in s

    return run


def load_at_first_failure(retries, buckets=25_000, seed=3):
    """The load factor just before the first insert that returns False."""
    f = CuckooFilter(buckets, CUCKOO_BUCKET_SIZE, retries)
    for x in _random_ints(buckets * CUCKOO_BUCKET_SIZE, seed):
        if not f.insert(x):
            break
    return f.load_factor()


_BITS = math.ceil(math.log(BLOOM_RATE) / -0.4804530139182014 * 10**6) / 10**6
# The loads reached before the first failed insert with 4, 100 and 500 retries.
_LOADS = "/".join(f"{load_at_first_failure(r):.2f}" for r in (4, CUCKOO_RETRIES, 500))

WORKLOADS = [
    Workload(f"BloomFilter.add ({_BITS:.2f} bits/item)", "rbloom.Bloom.add", 1_000_000,
             _bloom_add, _rbloom_add, target=1.0, requires="rbloom"),
    Workload("BloomFilter.contains", "x in rbloom.Bloom", 1_000_000,
             _bloom_contains, _rbloom_contains, target=1.0, requires="rbloom"),
    Workload(f"CuckooFilter.insert (fills {_LOADS})", "set.add", 1_000_000, _cuckoo_insert, _set_add),
    Workload("CuckooFilter.contains", "x in set", 1_000_000, _cuckoo_contains, _set_contains),
]
