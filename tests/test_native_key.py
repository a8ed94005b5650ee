"""Key conversion and the two key hashes shared by RhoodMap and VaskMap."""

import pytest
from conftest import BAD_KEYS, UNSUPPORTED_KEY, Boom, key_fx_hash, key_hash, same_refcount

from morvena import RhoodMap, VaskMap

# (kind, payload, key_hash, key_fx_hash). The first rows are the published
# reference values; the others were produced by the reference code in conftest
# and freeze it, so a change in either side shows here.
REFERENCE = [
    ("Int", 0, 0xBD60ACB658C79E45, 0x0),
    ("Int", 1, 0x1E9F734161D62DD9, 0x517CC1B727220A95),
    ("Str", b"a", 0x719B50B9A4F0E9F3, 0xAA44C3C5B8E22AFF),
    ("Str", b"", 0x30406EA523C53DEF, 0xFF * 0x517CC1B727220A95 % 2**64),
    ("Int", -1, 0x2F205BE2FEC8E38D, 0xAE833E48D8DDF56B),
    ("Int", 2**63 - 1, 0xFF6F2F2512D26FC7, 0x2E833E48D8DDF56B),
    ("Int", -(2**63), 0xEF0826FA9EC09086, 0x8000000000000000),
    ("Float", 0.0, 0xBD60ACB658C79E45, 0x0),
    ("Float", -0.0, 0xEF0826FA9EC09086, 0x8000000000000000),
    ("Float", 1.0, 0xBFFA9617E1A39336, 0x96B0000000000000),
    ("Float", float("inf"), 0x58454220DBDD1E32, 0xD6B0000000000000),
    ("Float", 2.0**63, 0x4CC334D5DC37A1FC, 0x4160000000000000),
    ("Str", "é".encode(), 0xD6E909F7D92E03B3, 0x114B7317341EF97A),
    ("Str", b"abcdefg", 0x2295EF44BD078AE9, 0x8D58CB512476AD60),
    ("Str", "日本語".encode(), 0x45B6F3C35FCDCA3E, 0xD2A2293C818F65F1),
    ("Bool", False, 0x68A914128E01E473, 0x0),
    ("Bool", True, 0x44BC103B1F8540ED, 0x517CC1B727220A95),
]


@pytest.mark.parametrize("kind, payload, sip, fx", REFERENCE)
def test_reference_vectors(kind, payload, sip, fx):
    assert key_hash(kind, payload) == sip
    assert key_fx_hash(kind, payload) == fx


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Real:
    def __float__(self):
        return 1.5


class Text(str):
    pass


# Pairs that convert to the same native key, or at least to the same bytes, so
# VaskMap.contains (which compares hashes only) answers for one with the other.
SAME_HASH = [(1, True), (0, False), (7, Index(7)), (1.5, Real()), ("ab", Text("ab")), (1, 5e-324),
             (2**63, 2**63 + 1), (2**64, 2.0**64), (2**64, Index(2**64)), (-1, 2**64 - 1 - 2**64), (0.0, 0)]
DIFFERENT = [(1, 1.0), (0.0, -0.0), ("1", 1), ("", 0), (2**63, 2**63 - 1)]


@pytest.mark.parametrize("stored, probe", SAME_HASH)
def test_keys_with_one_native_key_share_a_hash(stored, probe):
    m = VaskMap()
    m.insert(stored, "v")
    assert m.contains(probe)


@pytest.mark.parametrize("stored, probe", DIFFERENT)
def test_keys_with_different_native_keys_differ(stored, probe):
    m = VaskMap()
    m.insert(stored, "v")
    assert not m.contains(probe)


@pytest.mark.parametrize("key", BAD_KEYS + [Index(10**400)], ids=repr)
@pytest.mark.parametrize("make", [RhoodMap, VaskMap])
def test_unsupported_keys_are_refused_by_every_key_method(make, key):
    m, value = make(), object()
    m.insert(1, "one")
    with same_refcount(value, *[k for k in (key,) if k is not None]):  # None is shared too widely to count
        for call in (lambda: m.insert(key, value), lambda: m.get(key), lambda: m.contains(key),
                     lambda: m.update(key, value), lambda: m.remove(key), lambda: m.from_keys([1, key])):
            with pytest.raises(ValueError) as error:
                call()
            assert str(error.value) == UNSUPPORTED_KEY
    assert m.items() == [(1, "one")]


class Unhashable(int):
    def __hash__(self):
        raise Boom("hash")


@pytest.mark.parametrize("make", [RhoodMap, VaskMap])
def test_python_hash_is_never_used(make):
    m = make()
    m.insert(Unhashable(3), "three")
    assert m.get(3) == "three" and m.contains(Unhashable(3))

