"""Hash maps against dict at a size where cache misses dominate.

Maps are built with twice the keys' count as capacity so that they never fill;
lookups run over the same keys that were stored (hits) or over keys of the same
shape that were not (misses), in a shuffled order: probing in insertion order
would walk dict's entry array sequentially and hide the misses a real workload has.
"""

import random

from morvena import RhoodMap, VaskMap
from morvena.bench import Workload

SIZE = 400_000


def _str_keys(n, tag="k"):
    return [f"{tag}{i:07d}" for i in range(n)]


def _int_keys(n, offset=0):
    return [offset + i * 7919 for i in range(n)]


def _keys(kind, n, miss):
    """The stored keys and the shuffled probes."""
    if kind == "str":
        stored, probes = _str_keys(n), _str_keys(n, "miss") if miss else None
    else:
        stored, probes = _int_keys(n), _int_keys(n, 1 << 40) if miss else None
    probes = list(probes or stored)
    random.Random(4).shuffle(probes)
    return stored, probes


def _filled(make, insert, keys):
    m = make(2 * len(keys))
    add = getattr(m, insert)
    for value, key in enumerate(keys):
        add(key, value)
    return m


def _lookup(make, insert, method, kind, miss):
    def setup(n):
        stored, probes = _keys(kind, n, miss)
        probe = getattr(_filled(make, insert, stored), method)

        def run():
            for key in probes:
                probe(key)

        return run

    return setup


def _dict_in(kind, miss):
    def setup(n):
        stored, probes = _keys(kind, n, miss)
        d = dict.fromkeys(stored, 0)

        def run():
            for key in probes:
                key in d

        return run

    return setup


def _dict_getitem(n):
    stored, probes = _keys("str", n, False)
    d = dict.fromkeys(stored, 0)

    def run():
        for key in probes:
            d[key]

    return run


def _fresh_insert(make, insert):
    def setup(n):
        keys = _str_keys(n)
        m = make(2 * n)
        add = getattr(m, insert)

        def run():
            for key in keys:
                add(key, key)

        return run

    return setup


def _dict_setitem(n):
    keys = _str_keys(n)
    d = {}

    def run():
        for key in keys:
            d[key] = key

    return run


class _Dict(dict):
    """dict built like a map and filled under the maps' method name, so one setup
    serves both sides; lookups use dict's own get."""

    def __init__(self, _capacity):
        super().__init__()

    insert = dict.__setitem__


_rhood_rows = []
for kind in ("str", "int"):
    for miss in (False, True):
        label = f"{kind} {'miss' if miss else 'hit'}"
        _rhood_rows += [
            Workload(f"RhoodMap.get ({label})", f"dict.get ({label})", SIZE,
                     _lookup(RhoodMap, "insert", "get", kind, miss), _lookup(_Dict, "insert", "get", kind, miss),
                     target=2.0, quick_size=40_000),
            Workload(f"RhoodMap.contains ({label})", f"k in dict ({label})", SIZE,
                     _lookup(RhoodMap, "insert", "contains", kind, miss), _dict_in(kind, miss),
                     target=2.5, quick_size=40_000),
        ]

WORKLOADS = _rhood_rows + [
    Workload("RhoodMap.insert (fresh, str)", "d[k] = v (fresh dict)", SIZE,
             _fresh_insert(RhoodMap, "insert"), _dict_setitem, target=2.5, quick_size=40_000),
    Workload("VaskMap.get (str hit)", "dict.get (str hit)", SIZE,
             _lookup(VaskMap, "insert", "get", "str", False), _lookup(_Dict, "insert", "get", "str", False),
             target=3.0, quick_size=40_000),
    Workload("VaskMap.get (str miss)", "dict.get (str miss)", SIZE,
             _lookup(VaskMap, "insert", "get", "str", True), _lookup(_Dict, "insert", "get", "str", True),
             target=3.0, quick_size=40_000),
    Workload("VaskMap.insert (fresh, str)", "d[k] = v (fresh dict)", SIZE,
             _fresh_insert(VaskMap, "insert"), _dict_setitem, target=3.0, quick_size=40_000),
    Workload("dict d[k] (str hit)", "dict.get (str hit)", SIZE,
             _dict_getitem, _lookup(_Dict, "insert", "get", "str", False), quick_size=40_000),
]
