"""Key conversion and hashing shared by RhoodMap and VaskMap, and the key
failures both maps must survive unchanged."""

from contextlib import nullcontext

import pytest
from conftest import (BAD_KEYS, UNSUPPORTED_KEY, Boom, CallsBack, RaisingEq, RaisingHash, assert_refused, key_fx_hash,
                      key_hash, same_refcount)

from morvena import RhoodMap, VaskMap

MAPS = [RhoodMap, VaskMap]

# (kind, payload, key_hash, key_fx_hash). The first four hashes are the published
# reference values; the rest were produced by the reference code in conftest and
# freeze it, so a change on either side shows here.
REFERENCE = [
    ("Int", 0, 0xBD60ACB658C79E45, 0x0),
    ("Int", 1, 0x1E9F734161D62DD9, 0x517CC1B727220A95),
    ("Str", b"a", 0x719B50B9A4F0E9F3, 0xAA44C3C5B8E22AFF),
    ("Str", b"", 0x30406EA523C53DEF, 0xFF * 0x517CC1B727220A95 % 2**64),
    ("Int", -1, 0x2F205BE2FEC8E38D, 0xAE833E48D8DDF56B),
    ("Int", 2**63 - 1, 0xFF6F2F2512D26FC7, 0x2E833E48D8DDF56B),
    ("Int", -(2**63), 0xEF0826FA9EC09086, 0x8000000000000000),
    ("Float", -0.0, 0xEF0826FA9EC09086, 0x8000000000000000),
    ("Float", 1.0, 0xBFFA9617E1A39336, 0x96B0000000000000),
    ("Float", float("inf"), 0x58454220DBDD1E32, 0xD6B0000000000000),
    ("Str", "é".encode(), 0xD6E909F7D92E03B3, 0x114B7317341EF97A),
    ("Str", b"abcdefg", 0x2295EF44BD078AE9, 0x8D58CB512476AD60),
    ("Str", "日本語".encode(), 0x45B6F3C35FCDCA3E, 0xD2A2293C818F65F1),
    ("Bool", True, 0x44BC103B1F8540ED, 0x517CC1B727220A95),
]


@pytest.mark.parametrize("kind, payload, sip, fx", REFERENCE)
def test_reference_vectors(kind, payload, sip, fx):
    assert (key_hash(kind, payload), key_fx_hash(kind, payload)) == (sip, fx)


Index = type("Index", (), {"__init__": lambda self, value: setattr(self, "value", value),
                           "__index__": lambda self: self.value})
Real = type("Real", (), {"__float__": lambda self: 1.5})
Text = type("Text", (str,), {})
Unhashable = type("Unhashable", (RaisingHash, int), {})


# VaskMap.contains identifies keys by native key alone, so it shows which keys
# convert alike; 1 and 5e-324 share their 64 hashed bits but not their kind.
@pytest.mark.parametrize("stored, probe, same", [
    (1, True, True), (7, Index(7), True), (1.5, Real(), True), ("ab", Text("ab"), True),
    (2**63, 2**63 + 1, True), (2**64, Index(2**64), True), (3, Unhashable(3), True),
    (1, 1.0, False), (0.0, -0.0, False), ("1", 1, False), ("", 0, False), (1, 5e-324, False)])
def test_which_keys_share_a_native_key(stored, probe, same):
    m = VaskMap()
    m.insert(stored, "v")
    assert m.contains(probe) == same


@pytest.mark.parametrize("key", BAD_KEYS + [Index(10**400)], ids=repr)
@pytest.mark.parametrize("make", MAPS)
def test_unsupported_keys_change_nothing(make, key):
    m, value = make(), object()
    m.insert(1, "one")
    with same_refcount(value, *[k for k in (key,) if k is not None]):  # None is shared too widely to count
        for call in (lambda: m.insert(key, value), lambda: m.get(key), lambda: m.contains(key),
                     lambda: m.update(key, value), lambda: m.remove(key), lambda: m.from_keys([1, key])):
            with pytest.raises(ValueError, match=f"^{UNSUPPORTED_KEY}$"):
                call()
    assert m.items() == [(1, "one")]


RaisingKey = type("RaisingKey", (int,), {"__eq__": RaisingEq.__eq__, "__hash__": int.__hash__})


@pytest.mark.parametrize("make", MAPS)
def test_equality_calling_back_is_refused(make):
    m = make(8)
    element = CallsBack(lambda: m.clear())
    key = type("CallsBackKey", (int,), {"__eq__": lambda self, other: element._run(), "__hash__": int.__hash__})(1)
    m.insert(key, "v")
    assert m.get(1) is None and m.update(1, 2) is False
    assert_refused(element, "Already borrowed")
    assert m.items() == [(key, "v")]


@pytest.mark.parametrize("make", MAPS)
def test_references_on_every_path_and_failing_equality(make):
    key, v1, v2, raising = "k-" + "x" * 10, object(), object(), RaisingKey(5)
    with same_refcount(key, v1, v2, raising):
        m = make(8)
        m.insert(key, v1)
        c = m.copy()
        assert m.update(key, v2) and m.remove(key) is v2 and c.get(key) is v1
        m.insert(raising, v1)
        for call in (lambda: m.get(5), lambda: m.update(5, 1), lambda: m.from_keys([5])):  # the error propagates
            with pytest.raises(Boom):
                call()
        assert m.items() == [(raising, v1)]
        m.clear()
        del m, c


@pytest.mark.parametrize("make, signature, full", [(RhoodMap, ("update", "($self, key, new_value)"), "Maximum capacity"),
                                                 (VaskMap, ("insert", "($self, key, value)"), "Max capacity")])
def test_surface_and_zero_capacity(make, signature, full):
    m = make(None)
    m.insert("a", None)
    m.insert("b", 2)
    assert m.from_keys(["b", "zz", "a", "b"]) == [2, 2] and m.percentage() == 2 / 1024 * 100
    assert list(m.info().items()) == [("type", make.__name__), ("capacity", 1024), ("size", 2),
                                      ("percentage", m.percentage()), ("keys", m.keys()), ("values", m.values())]
    rule = "-" * 81
    assert make.__doc__ == f"{rule}\nImplementation of {make.__name__} structure/class & related operations\n{rule}"
    assert getattr(make, signature[0]).__text_signature__ == signature[1]
    m.clear()
    assert m.is_empty() and m.capacity() == 1024 and m.keys() == [] and m.insert("a", 1)
    z = make(0, 0) if make is VaskMap else make(0)
    assert (z.get(1), z.contains(1), z.update(1, 2), z.from_keys([1, "a"]), z.keys()) == (None, False, False, [], [])
    with pytest.raises(ValueError, match=rf"^{full} \(0\) reached! Unable to insert key-value$"):
        z.insert(1, 1)
    with pytest.raises(ValueError, match="^Could not locate key 1 in rhoodMap$") if make is RhoodMap else nullcontext():
        assert z.remove(1) is None
