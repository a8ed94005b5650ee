"""Pickle round trips (dumps then loads, highest protocol) of large structures
against the same contents in list and dict, and a large Digraph."""

import pickle

from morvena import Digraph, Queue, RhoodMap, Stack
from morvena.bench import Workload


def _round_trip(build):
    """setup(n): `build(n)` untimed, then one dumps+loads of it is timed."""

    def setup(n):
        obj = build(n)

        def run():
            pickle.loads(pickle.dumps(obj, pickle.HIGHEST_PROTOCOL))

        return run

    return setup


def _stack(n):
    s = Stack()
    for x in range(n):
        s.push(x)
    return s


def _queue(n):
    q = Queue()
    for x in range(n):
        q.enqueue(x)
    return q


def _rhoodmap(n):
    m = RhoodMap(n + n // 4)
    for x in range(n):
        m.insert(x, x)
    return m


def _dict(n):
    return {x: x for x in range(n)}


# n is the edge count; the graph has one node per five edges, each node's
# successors spread over the graph by a fixed stride (no randomness needed).
def _edges(n):
    nodes = max(2, n // 5)
    return nodes, [(u, (u * 7919 + k * 104729 + 1) % nodes) for u in range(nodes) for k in range(5)]


def _digraph(n):
    nodes, edges = _edges(n)
    g = Digraph()
    for u in range(nodes):
        g.insert(u)
    for u, v in edges:
        if u != v:
            g.add_edge(v + 1, u + 1)
    return g


def _adjacency(n):
    nodes, edges = _edges(n)
    adjacency = {u: [] for u in range(nodes)}
    for u, v in edges:
        if u != v and v not in adjacency[u]:
            adjacency[u].append(v)
    return adjacency


WORKLOADS = [
    Workload("pickle Stack (ints)", "pickle list (ints)", 1_000_000,
             _round_trip(_stack), _round_trip(lambda n: list(range(n))), target=2.0),
    Workload("pickle Queue (ints)", "pickle list (ints)", 1_000_000,
             _round_trip(_queue), _round_trip(lambda n: list(range(n))), target=2.0),
    Workload("pickle RhoodMap (int: int)", "pickle dict (int: int)", 1_000_000,
             _round_trip(_rhoodmap), _round_trip(_dict), target=2.0),
    # 100,000 nodes and 500,000 edges; per edge, a whole round trip in well under
    # a second is below 2,000 ns. The dict of successor lists is reported only.
    Workload("pickle Digraph (per edge)", "pickle dict of lists (per edge)", 500_000,
             _round_trip(_digraph), _round_trip(_adjacency), quick_size=100_000),
]
