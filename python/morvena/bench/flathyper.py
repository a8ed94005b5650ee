"""Flatlist against sortedcontainers.SortedList, HyperGraph against a dict of dicts."""

import random

from morvena import Flatlist, HyperGraph
from morvena.bench import Workload


def _random_ints(n, seed):
    rng = random.Random(seed)
    return [rng.randrange(1 << 40) for _ in range(n)]


def _sorted_list():
    from sortedcontainers import SortedList

    return SortedList()


# Operations are written as users write them, `f.insert(x)`, so both sides get
# the interpreter's method-call fast paths.
def _flatlist_insert(n):
    items = _random_ints(n, 1)

    def run():
        f = Flatlist()
        for x in items:
            f.insert(x)

    return run


def _sortedlist_add(n):
    items = _random_ints(n, 1)

    def run():
        s = _sorted_list()
        for x in items:
            s.add(x)

    return run


def _filled(make, add_name, n):
    items = _random_ints(n, 2)
    s = make()
    add = getattr(s, add_name)
    for x in items:
        add(x)
    probes = items[:]
    random.Random(3).shuffle(probes)
    return s, probes


def _flatlist_contains(n):
    f, probes = _filled(Flatlist, "insert", n)

    def run():
        for x in probes:
            f.contains(x)

    return run


def _sortedlist_in(n):
    s, probes = _filled(_sorted_list, "add", n)

    def run():
        for x in probes:
            x in s

    return run


def _flatlist_index_of(n):
    f, probes = _filled(Flatlist, "insert", n)

    def run():
        for x in probes:
            f.index_of(x)

    return run


def _sortedlist_index(n):
    s, probes = _filled(_sorted_list, "add", n)

    def run():
        for x in probes:
            s.index(x)

    return run


# A hypergraph of n nodes where each node joins a few of n/10 hyperedges.
def _memberships(n):
    rng = random.Random(4)
    edges = [f"e{i}" for i in range(max(1, n // 10))]
    return [(rng.choice(edges), node) for node in range(1, n + 1) for _ in range(3)], edges


def _hypergraph_connect(n):
    joins, edges = _memberships(n)

    def run():
        g = HyperGraph()
        for node in range(n):
            g.insert(node)
        for e in edges:
            g.add_edge(e)
        for e, node in joins:
            g.connect(e, node)
        for e in edges:
            g.nodes_of(e)

    return run


def _dict_connect(n):
    joins, edges = _memberships(n)

    def run():
        nodes, members, memberships = {}, {}, {}
        for node in range(n):
            nodes[node + 1] = node
        for e in edges:
            members[e] = {}
        for e, node in joins:
            if node not in nodes:
                raise ValueError(node)
            members[e][node] = None
            memberships.setdefault(node, {})[e] = None
        for e in edges:
            list(members[e])

    return run


WORKLOADS = [
    Workload("Flatlist.insert 100k", "SortedList.add", 100_000,
             _flatlist_insert, _sortedlist_add, target=1.0, requires="sortedcontainers", quick_size=20_000),
    Workload("Flatlist.contains 100k", "x in SortedList", 100_000,
             _flatlist_contains, _sortedlist_in, target=1.0, requires="sortedcontainers", quick_size=20_000),
    Workload("Flatlist.index_of 100k", "SortedList.index", 100_000,
             _flatlist_index_of, _sortedlist_index, target=1.0, requires="sortedcontainers", quick_size=20_000),
    Workload("Flatlist.insert 1M", "SortedList.add", 1_000_000,
             _flatlist_insert, _sortedlist_add, target=1.0, requires="sortedcontainers", quick_size=200_000),
    Workload("Flatlist.contains 1M", "x in SortedList", 1_000_000,
             _flatlist_contains, _sortedlist_in, target=1.0, requires="sortedcontainers", quick_size=200_000),
    Workload("Flatlist.index_of 1M", "SortedList.index", 1_000_000,
             _flatlist_index_of, _sortedlist_index, target=1.0, requires="sortedcontainers", quick_size=200_000),
    Workload("HyperGraph build+connect", "dict of dicts", 20_000,
             _hypergraph_connect, _dict_connect),
]
