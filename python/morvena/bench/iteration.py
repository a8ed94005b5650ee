"""`for v in s` over n ints against `for v in lst` over the same ints.

The linear classes and the maps walk plain arrays and carry a 1.3x target; the
trees, Trie, Flatlist, the heap and the graphs keep a cursor with more state (an
explicit stack, a block and an offset, an object made per step) and are
reported only.
"""

from morvena import (
    AVLTree, ArrayStack, BaseGraph, BinarySearchTree, CircularBuffer, Digraph, Flatlist, HyperGraph,
    LinkedList, PriorityQueue, Queue, RhoodMap, RingBuffer, Stack, Trie, VaskMap,
)
from morvena.bench import Workload


def _walk(fill):
    """setup(n): a structure holding n ints (built untimed), timed while iterated."""

    def setup(n):
        s = fill(n)

        def run():
            for _ in s:
                pass

        return run

    return setup


def _each(make, put):
    def fill(n):
        s = make(n)
        add = getattr(s, put)
        for x in range(n):
            add(x)
        return s

    return fill


def _map(make):
    def fill(n):
        m = make(n)
        for x in range(n):
            m.insert(x, x)
        return m

    return fill


def _priority_queue(n):
    q = PriorityQueue("min")
    q.extend([(x, x % 1000) for x in range(n)])
    return q


def _balanced_tree(make):
    # Halving order keeps the unbalanced tree shallow, so both trees are walked
    # at their usual depth rather than as a chain.
    def fill(n):
        t = make(False)
        pending = [(0, n)]
        order = []
        while pending:
            lo, hi = pending.pop()
            if lo < hi:
                mid = (lo + hi) // 2
                order.append(mid)
                pending += [(lo, mid), (mid + 1, hi)]
        t.extend(order)
        return t

    return fill


def _trie(n):
    t = Trie()
    t.extend([str(x) for x in range(n)])
    return t


_LINEAR = [
    ("Stack", _each(lambda n: Stack(), "push")),
    ("ArrayStack", _each(lambda n: ArrayStack(), "push")),
    ("Queue", _each(lambda n: Queue(), "enqueue")),
    ("LinkedList", _each(lambda n: LinkedList(), "append")),
    ("CircularBuffer", _each(CircularBuffer, "enqueue")),
    ("RingBuffer", _each(RingBuffer, "enqueue")),
    ("RhoodMap", _map(lambda n: RhoodMap(2 * n))),
    ("VaskMap", _map(lambda n: VaskMap(2 * n, 4))),
]
# A PriorityQueue yields a new (value, priority) tuple per step.
_REPORTED = [
    ("PriorityQueue", _priority_queue),
    ("BinarySearchTree", _balanced_tree(BinarySearchTree)),
    ("AVLTree", _balanced_tree(AVLTree)),
    ("Trie", _trie),
    ("Flatlist", _each(lambda n: Flatlist(), "insert")),
    ("BaseGraph", _each(lambda n: BaseGraph(), "insert")),
    ("Digraph", _each(lambda n: Digraph(), "insert")),
    ("HyperGraph", _each(lambda n: HyperGraph(), "insert")),
]


def _as_list(fill):
    """The peer: a list of the very objects the structure yields, in its order,
    so both sides touch the same memory in the same sequence and the ratio
    measures the iteration itself (a map's hash order would otherwise cost it
    cache misses the list's allocation order never has)."""
    return _walk(lambda n: list(fill(n)))


WORKLOADS = [
    Workload(f"for v in {name}", "for v in list", 1_000_000, _walk(fill), _as_list(fill), target=target)
    for name, fill, target in [(name, fill, 1.3) for name, fill in _LINEAR]
    + [(name, fill, None) for name, fill in _REPORTED]
]
