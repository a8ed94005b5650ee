"""Bloom and cuckoo filters against rbloom and the built-in set."""

import math
import random

from morvena import BloomFilter, CuckooFilter
from morvena.bench import Workload

BLOOM_RATE = 0.01
CUCKOO_BUCKET_SIZE = 4


def _bits_per_item(p):
    return math.ceil(math.log(p) / -0.4804530139182014 * 1_000_000) / 1_000_000


def _random_ints(n, seed=8):
    return random.Random(seed).sample(range(1 << 62), n)


def _add(make, bind):
    def setup(n):
        items = _random_ints(n)

        def run():
            add = bind(make(n))
            for x in items:
                add(x)

        return run

    return setup


def _bloom_contains(make, add, run_probes):
    """Half the probes were added, half were not."""

    def setup(n):
        items = _random_ints(2 * n)
        f = make(n)
        for x in items[: n // 2]:
            add(f, x)
        probes = items[: n // 2] + items[n:n + n - n // 2]
        random.Random(1).shuffle(probes)
        return lambda: run_probes(f, probes)

    return setup


def _in_loop(f, probes):
    for x in probes:
        x in f


def _contains_loop(f, probes):
    contains = f.contains
    for x in probes:
        contains(x)


def _cuckoo(n):
    # Buckets for twice the items: a load of one half, the regime a cuckoo filter
    # is sized for, and far below the load where inserts start failing.
    return CuckooFilter(max(1, n // (CUCKOO_BUCKET_SIZE // 2)), CUCKOO_BUCKET_SIZE, 100)


def _rbloom(n):
    import rbloom

    return rbloom.Bloom(n, BLOOM_RATE)


def load_at_first_failure(buckets=25_000, retries=4, seed=3):
    """The load factor just before the first insert that returns False."""
    f = CuckooFilter(buckets, CUCKOO_BUCKET_SIZE, retries)
    for x in _random_ints(buckets * CUCKOO_BUCKET_SIZE, seed):
        if not f.insert(x):
            break
    return f.load_factor()


_BITS = f"{_bits_per_item(BLOOM_RATE):.2f} bits/item"
_LOAD = f"first failure at load {load_at_first_failure():.2f}"

WORKLOADS = [
    Workload(f"BloomFilter.add ({_BITS})", "rbloom.Bloom.add", 1_000_000,
             _add(lambda n: BloomFilter(n, BLOOM_RATE), lambda f: f.add),
             _add(_rbloom, lambda f: f.add), target=1.0, requires="rbloom"),
    Workload("BloomFilter.contains", "x in rbloom.Bloom", 1_000_000,
             _bloom_contains(lambda n: BloomFilter(n, BLOOM_RATE), BloomFilter.add, _contains_loop),
             _bloom_contains(_rbloom, lambda f, x: f.add(x), _in_loop), target=1.0, requires="rbloom"),
    Workload(f"CuckooFilter.insert ({_LOAD})", "set.add", 1_000_000,
             _add(_cuckoo, lambda f: f.insert), _add(lambda n: set(), lambda s: s.add)),
    Workload("CuckooFilter.contains", "x in set", 1_000_000,
             _bloom_contains(_cuckoo, CuckooFilter.insert, _contains_loop),
             _bloom_contains(lambda n: set(), set.add, _in_loop)),
]
