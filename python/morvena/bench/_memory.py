"""Memory per element: every class against its nearest peer.

A structure's cost is measured as the growth of the resident set while it is
built in a fresh interpreter, so native allocations (ours, rustworkx's, rbloom's)
count as well as Python objects, and nothing another measurement left behind
skews it. The elements are made before the baseline and are the same objects
for both sides: what is counted is the structure holding them, not the ints or
strings themselves.
"""

from __future__ import annotations

import gc
import importlib
import os
import random
import string
import subprocess
import sys
from dataclasses import dataclass
from typing import Callable, Optional

from morvena.bench import measure_each, selected, summary
from morvena.bench.flathyper import _memberships as hypergraph_memberships

# build(elements) returns the filled structure; the elements come from ELEMENTS.
Build = Callable[[object], object]


@dataclass(frozen=True)
class MemoryCase:
    name: str  # our class
    peer: str
    elements: str  # key of ELEMENTS
    ours: Build
    theirs: Build
    target: Optional[float] = None  # largest acceptable ours/peer ratio
    max_bytes: Optional[float] = None  # largest acceptable bytes per element of ours
    requires: Optional[str] = None
    size: int = 1_000_000
    quick_size: int = 100_000


@dataclass
class MemoryResult:
    case: MemoryCase
    size: int
    ours: float  # bytes per element
    theirs: float

    @property
    def ratio(self) -> float:
        return self.ours / self.theirs if self.theirs > 0 else float("inf")

    @property
    def verdict(self) -> str:
        checks = []
        if self.case.target is not None:
            checks.append(self.ratio <= self.case.target)
        if self.case.max_bytes is not None:
            checks.append(self.ours <= self.case.max_bytes)
        if not checks:
            return "report"
        return "ok" if all(checks) else "LARGE"


# ---------------------------------------------------------------------------
# The elements. Making them leaves no freed memory behind: blocks freed before
# the baseline would be reused by the structure and hide part of its cost, so
# whatever a generator builds on the way stays alive with the elements (the
# measuring process ends right after). Ints are distinct and above the
# small-int cache, in random order so the search trees stay shallow; graphs
# have five edges per node.

EDGES_PER_NODE = 5


def _ints(n):
    items = list(range(1 << 32, (1 << 32) + 7919 * n, 7919))
    random.Random(5).shuffle(items)
    return items


def _words(n):
    # Random letters, then the word's number in letters: distinct without a set.
    rng = random.Random(6)
    letters = string.ascii_lowercase
    words = []
    for i in range(n):
        suffix = []
        while True:
            i, digit = divmod(i, 26)
            suffix.append(letters[digit])
            if not i:
                break
        words.append("".join(rng.choices(letters, k=rng.randint(2, 8))) + "".join(suffix))
    return words


def _graph(n):
    """(n, edges, kept): distinct (a, b) node-number pairs, a != b, EDGES_PER_NODE * n of them."""
    rng = random.Random(7)
    packed = set()
    while len(packed) < EDGES_PER_NODE * n:
        a, b = rng.randrange(n), rng.randrange(n)
        if a != b:
            packed.add(min(a, b) * n + max(a, b))
    return n, [divmod(p, n) for p in packed], packed


def _memberships(n):
    """(n, edge names, (edge, node id) pairs): the speed tour's hypergraph."""
    joins, edges = hypergraph_memberships(n)
    return n, edges, joins


ELEMENTS = {"ints": _ints, "words": _words, "graph": _graph, "memberships": _memberships}


# ---------------------------------------------------------------------------
# Builders, written as a user fills each structure.

def _filled(make, method):
    def build(items):
        s = make(len(items))
        put = getattr(s, method)
        for x in items:
            put(x)
        return s

    return build


def _priority_queue(items):
    from morvena import PriorityQueue

    q = PriorityQueue("min")
    for x in items:
        q.enqueue(x, x & 0x7FFFFFFF)
    return q


def _heap(items):
    import heapq

    h = []
    for x in items:
        heapq.heappush(h, (x & 0x7FFFFFFF, x))
    return h


def _mapped(make):
    def build(items):
        m = make(len(items))
        for x in items:
            m.insert(x, x)
        return m

    return build


def _dict(items):
    d = {}
    for x in items:
        d[x] = x
    return d


def _sorted_list(_n):
    from sortedcontainers import SortedList

    return SortedList()


def _rbloom(n):
    import rbloom

    return rbloom.Bloom(n, 0.01)


# The weight of every edge: one float object, so the peers that keep weights as
# Python objects are not charged for floats a caller may share.
WEIGHT = 1.5


def _our_graph(class_name, directed, weighted):
    def build(graph):
        import morvena

        n, edges, _ = graph
        g = getattr(morvena, class_name)()
        for _ in range(n):
            g.insert(None)
        for a, b in edges:
            # Ids count from 1; the directed classes take (to_id, from_id).
            first, second = (b + 1, a + 1) if directed else (a + 1, b + 1)
            if weighted:
                g.add_edge(first, second, WEIGHT)
            else:
                g.add_edge(first, second)
        return g

    return build


def _rx_graph(directed, weighted):
    def build(graph):
        import rustworkx as rx

        n, edges, _ = graph
        g = rx.PyDiGraph() if directed else rx.PyGraph()
        for _ in range(n):
            g.add_node(None)
        weight = WEIGHT if weighted else None
        for a, b in edges:
            g.add_edge(a, b, weight)
        return g

    return build


def _hypergraph(data):
    from morvena import HyperGraph

    n, edges, joins = data
    g = HyperGraph()
    for _ in range(n):
        g.insert(None)
    for e in edges:
        g.add_edge(e)
    for e, node in joins:
        g.connect(e, node)
    return g


def _dict_hypergraph(data):
    n, edges, joins = data
    nodes = dict.fromkeys(range(1, n + 1))
    members = {e: {} for e in edges}
    memberships = {}
    for e, node in joins:
        members[e][node] = None
        memberships.setdefault(node, {})[e] = None
    return nodes, members, memberships


def cases() -> list[MemoryCase]:
    import collections

    import morvena as m

    def unbounded(cls):
        return lambda _n: cls()

    deque_ = unbounded(collections.deque)
    graph = dict(elements="graph", requires="rustworkx", size=100_000, quick_size=20_000)
    return [
        MemoryCase("Stack", "list", "ints", _filled(unbounded(m.Stack), "push"), _filled(unbounded(list), "append")),
        MemoryCase("ArrayStack", "list", "ints", _filled(unbounded(m.ArrayStack), "push"),
                   _filled(unbounded(list), "append")),
        MemoryCase("Queue", "deque", "ints", _filled(unbounded(m.Queue), "enqueue"), _filled(deque_, "append")),
        MemoryCase("LinkedList", "deque", "ints", _filled(unbounded(m.LinkedList), "append"),
                   _filled(deque_, "append")),
        MemoryCase("CircularBuffer", "deque(maxlen=n)", "ints", _filled(m.CircularBuffer, "enqueue"),
                   _filled(lambda n: collections.deque(maxlen=n), "append")),
        MemoryCase("RingBuffer", "deque(maxlen=n)", "ints", _filled(m.RingBuffer, "enqueue"),
                   _filled(lambda n: collections.deque(maxlen=n), "append")),
        MemoryCase("PriorityQueue", "heapq list of (p, v)", "ints", _priority_queue, _heap),
        MemoryCase("BinarySearchTree", "SortedList", "ints", _filled(lambda _n: m.BinarySearchTree(False), "add"),
                   _filled(_sorted_list, "add"), max_bytes=40, requires="sortedcontainers"),
        MemoryCase("AVLTree", "SortedList", "ints", _filled(lambda _n: m.AVLTree(False), "add"),
                   _filled(_sorted_list, "add"), max_bytes=40, requires="sortedcontainers"),
        MemoryCase("Trie", "set of str", "words", _filled(unbounded(m.Trie), "insert"), _filled(unbounded(set), "add")),
        MemoryCase("BaseGraph (5 edges/node)", "rx.PyGraph", ours=_our_graph("BaseGraph", False, False),
                   theirs=_rx_graph(False, False), **graph),
        MemoryCase("Digraph (5 edges/node)", "rx.PyDiGraph", ours=_our_graph("Digraph", True, False),
                   theirs=_rx_graph(True, False), target=1.0, **graph),
        MemoryCase("WeightedGraph (5 edges/node)", "rx.PyGraph", ours=_our_graph("WeightedGraph", False, True),
                   theirs=_rx_graph(False, True), **graph),
        MemoryCase("WeightedDigraph (5 edges/node)", "rx.PyDiGraph", ours=_our_graph("WeightedDigraph", True, True),
                   theirs=_rx_graph(True, True), **graph),
        MemoryCase("HyperGraph (3 edges/node)", "dict of dicts", "memberships", _hypergraph, _dict_hypergraph,
                   size=100_000, quick_size=20_000),
        # Capacity for twice the keys, as the maps are sized in the speed tour.
        MemoryCase("RhoodMap (capacity 2n)", "dict", "ints", _mapped(lambda n: m.RhoodMap(2 * n)), _dict),
        MemoryCase("VaskMap (capacity 2n)", "dict", "ints", _mapped(lambda n: m.VaskMap(2 * n)), _dict),
        MemoryCase("BloomFilter (1% false positives)", "rbloom.Bloom", "ints",
                   _filled(lambda n: m.BloomFilter(n, 0.01), "add"), _filled(_rbloom, "add"), requires="rbloom"),
        MemoryCase("CuckooFilter (load 1/2)", "set", "ints",
                   _filled(lambda n: m.CuckooFilter(max(1, n // 2), 4, 100), "insert"), _filled(unbounded(set), "add")),
        MemoryCase("Flatlist", "SortedList", "ints", _filled(unbounded(m.Flatlist), "insert"),
                   _filled(_sorted_list, "add"), target=2.0, requires="sortedcontainers"),
    ]


# ---------------------------------------------------------------------------
# Measuring, one structure per fresh interpreter.

def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def _return_free_memory():
    """Hands the C heap's free pages back to the system (glibc), so that the
    structure's allocations show up as growth even where they reuse them."""
    try:
        import ctypes

        ctypes.CDLL(None).malloc_trim(0)
    except (OSError, AttributeError):
        pass


def _measure_here(name: str, side: str, n: int) -> float:
    case = next(c for c in cases() if c.name == name)
    build = case.ours if side == "ours" else case.theirs
    elements = ELEMENTS[case.elements](n)
    # Whatever the build imports is imported before the baseline.
    for module in ("collections", "heapq", case.requires):
        if module:
            importlib.import_module(module)
    gc.collect()
    _return_free_memory()
    base = resident_bytes()
    structure = build(elements)
    grown = resident_bytes() - base
    del structure
    return grown / n


def measure_case(case: MemoryCase, n: int) -> MemoryResult:
    def side(which):
        command = [sys.executable, "-m", "morvena.bench._memory", case.name, which, str(n)]
        done = subprocess.run(command, check=True, capture_output=True, text=True)
        return float(done.stdout.split()[-1])

    return MemoryResult(case, n, side("ours"), side("theirs"))


def run(quick: bool = False, match: str = "", out=print, progress=None, size: Optional[int] = None):
    """Measures every selected class against its peer and prints the table.
    `size` overrides every case's element count."""
    def elements(case):
        return size or (case.quick_size if quick else case.size)

    results, missing = measure_each(selected(cases(), match), lambda case: measure_case(case, elements(case)), progress,
                                    "memory ", lambda case: f", {elements(case):,} elements")
    header = (f"{'ours (bytes per element)':<34} {'peer':<22} {'elements':>10} {'ours B':>8} {'peer B':>8} "
              f"{'ratio':>7} {'target':>8}  verdict")
    out(header)
    out("-" * len(header))
    for r in results:
        target = " ".join(t for t in (f"{r.case.target:.1f}x" if r.case.target is not None else "",
                                      f"{r.case.max_bytes:.0f}B" if r.case.max_bytes is not None else "") if t)
        out(f"{r.case.name:<34} {r.case.peer:<22} {r.size:>10,} {r.ours:>8.1f} {r.theirs:>8.1f} {r.ratio:>7.2f} "
            f"{target or '-':>8}  {r.verdict}")
    for case in missing:
        out(f"{case.name:<34} {case.peer:<22} {'skipped: ' + str(case.requires) + ' not installed':>40}")
    out(summary([r.verdict for r in results], len(missing)))
    return results


if __name__ == "__main__":
    print(_measure_here(sys.argv[1], sys.argv[2], int(sys.argv[3])))
