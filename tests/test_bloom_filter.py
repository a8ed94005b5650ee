import itertools
import math
import os
import random

import pytest
from conftest import Boom, CallsBack, RaisingHash, assert_no_leak, assert_refused, panic_type, same_refcount

from morvena import BloomFilter

PROBABILITY = "probability value must be 0 - 1"


# A bad probability is reported before a zero size.
@pytest.mark.parametrize(
    "size, probability, message",
    [(10, 0, PROBABILITY), (10, 1, PROBABILITY), (10, 1.5, PROBABILITY), (10, math.nan, PROBABILITY),
     (0, 2, PROBABILITY), (0, 0.5, "n value must be more than 0")],
)
def test_bad_parameters_abort_construction(size, probability, message):
    with pytest.raises(BaseException) as info:
        BloomFilter(size, probability)
    assert type(info.value) is panic_type() and str(info.value) == message


@pytest.mark.skipif(
    bool(os.environ.get("MORVENA_SANITIZED")),
    reason="the sanitizer's allocator aborts on an oversized request instead of failing it",
)
@pytest.mark.parametrize("size, probability", [(2**64 - 1, 0.5), (10**17, 1e-9)])
def test_bits_too_many_to_allocate_raise_memory_error(size, probability):
    with pytest.raises(MemoryError):
        BloomFilter(size, probability)


def test_membership_follows_the_object_hash_and_clear_forgets():
    f = BloomFilter(size=1000, probability=0.01)
    assert not any(f.contains(x) for x in range(-50, 50))
    for item in (1, "word", (1, "tuple")):
        f.add(item)
    assert all(f.contains(x) for x in (1, True, 1.0, "word", (1, "tuple")))
    assert f.clear() is None
    assert not any(f.contains(x) for x in (1, "word", (1, "tuple")))


def test_hashing_failures_call_backs_and_references():
    f = BloomFilter(100, 0.001)
    for op, (item, error) in itertools.product(("add", "contains"), [([1], TypeError), (RaisingHash(), Boom)]):
        with pytest.raises(error):
            getattr(f, op)(item)
    assert not any(f.contains(x) for x in range(200))
    adding = CallsBack(lambda: f.add(2))
    f.add(adding)
    assert_refused(adding, "Already borrowed")
    reading = CallsBack(lambda: f.contains(2))  # a read inside a read is allowed
    f.contains(reading)
    assert not reading.errors
    item = object()
    with same_refcount(item):
        f.add(item)
        f.contains(item)
    assert_no_leak(lambda: (f.add(3), f.contains(4)))


ITEMS = {
    "random ints": lambda count: random.Random(5).sample(range(1 << 62), count),
    "sequential ints": range,
    "short strs": lambda count: [f"k{i}" for i in range(count)],
}


@pytest.mark.parametrize("kind", ITEMS)
@pytest.mark.parametrize("p", [0.1, 0.01, 0.001, 0.0001])
def test_false_positive_rate_is_close_to_the_requested_one(kind, p):
    n = 100_000
    # Enough probes for about a hundred false positives at the smallest rate.
    items = ITEMS[kind](n + max(n, round(100 / p)))
    f = BloomFilter(n, p)
    for x in items[:n]:
        f.add(x)
    assert all(map(f.contains, items[:n]))
    assert 0.5 * p <= sum(map(f.contains, items[n:])) / len(items[n:]) <= 1.5 * p
