"""Collection of cycles, deep teardown, iteration and `in` across the classes."""

from __future__ import annotations

import gc
import os
import random
import subprocess
import sys
import textwrap

import pytest

from conftest import CallsBack, assert_no_leak, same_refcount
from morvena import (
    AVLTree, ArrayStack, BaseGraph, BinarySearchTree, BloomFilter, CircularBuffer, CuckooFilter, Digraph,
    Flatlist, HyperGraph, LinkedList, PriorityQueue, Queue, RhoodMap, RingBuffer, Stack, Trie, VaskMap,
    WeightedDigraph, WeightedGraph,
)


# How to make each object-storing class and store one object in it, as source
# text too, so the deep teardown can run the same recipe in a subprocess.
STORES = {
    "Stack": ("Stack()", "s.push(x)"),
    "ArrayStack": ("ArrayStack()", "s.push(x)"),
    "Queue": ("Queue()", "s.enqueue(x)"),
    "LinkedList": ("LinkedList()", "s.append(x)"),
    "CircularBuffer": ("CircularBuffer(8)", "s.enqueue(x)"),
    "RingBuffer": ("RingBuffer(8)", "s.enqueue(x)"),
    "PriorityQueue": ("PriorityQueue('min')", "s.enqueue(x, 1)"),
    # One element needs no comparison, so any object can be a tree's element.
    "BinarySearchTree": ("BinarySearchTree(False)", "s.add(x) if s.is_empty() else None"),
    "AVLTree": ("AVLTree(False)", "s.add(x) if s.is_empty() else None"),
    "RhoodMap": ("RhoodMap(16)", "s.insert(f'k{s.size()}', x)"),
    "VaskMap": ("VaskMap(16, 4)", "s.insert(f'k{s.size()}', x)"),
    "BaseGraph": ("BaseGraph()", "s.insert(x)"),
    "Digraph": ("Digraph()", "s.insert(x)"),
    "WeightedGraph": ("WeightedGraph()", "s.insert(x)"),
    "WeightedDigraph": ("WeightedDigraph()", "s.insert(x)"),
    "HyperGraph": ("HyperGraph()", "s.insert(x)"),
    "Flatlist": ("Flatlist()", "s.insert(x) if s.is_empty() else None"),
}


def make(name):
    return eval(STORES[name][0])


def store(s, x):
    exec(STORES[type(s).__name__][1], {"s": s, "x": x})


class Finalised:
    """Records in `ran` that its finaliser ran; `back` closes a cycle."""

    ran: list[str] = []

    def __init__(self, label, back=None):
        self.label, self.back = label, back

    def __del__(self):
        Finalised.ran.append(self.label)


class Word(str):
    """A word that can point back at the trie holding it."""

    def __del__(self):
        Finalised.ran.append(str(self))


@pytest.fixture(autouse=True)
def _fresh_finalisers():
    gc.collect()
    Finalised.ran.clear()
    yield


def _collected(label):
    gc.collect()
    return label in Finalised.ran


# ---------------------------------------------------------------------------
# Cyclic garbage collection.


def _live(cls):
    gc.collect()
    return sum(type(o) is cls for o in gc.get_objects())


@pytest.mark.parametrize("name", STORES)
def test_cycles_through_a_structure_are_collected(name):
    cls = type(make(name))
    baseline = _live(cls)

    # An element that points back at its structure: its finaliser runs.
    s = make(name)
    store(s, Finalised("element", back=s))
    del s
    assert _collected("element")

    # A structure holding itself.
    s = make(name)
    store(s, s)
    del s
    assert _live(cls) == baseline

    # Two structures holding each other, one of them a finalised element too.
    a, b = make(name), make(name)
    store(a, b)
    store(b, a)
    store(b, Finalised("pair"))
    del a, b
    assert _live(cls) == baseline
    assert _collected("pair") or name in ("BinarySearchTree", "AVLTree", "Flatlist")  # hold one element only


def test_a_trie_word_pointing_back_is_collected():
    t = Trie()
    w = Word("cycle")
    w.back = t
    t.insert(w)
    del t, w
    assert _collected("cycle")


def test_graph_payload_and_edges_cycle_and_a_live_iterator_in_the_cycle():
    g = WeightedDigraph()
    for i in range(3):
        g.insert(Finalised(f"node{i}", back=g))
    g.add_edge(1, 2, 1.5)
    g.add_edge(2, 3, 2.5)
    g.update(Finalised("replaced", back=g), 2)
    it = iter(g)
    g.insert(it)  # the iterator keeps g alive, g keeps the iterator
    del g, it
    gc.collect()
    assert sorted(Finalised.ran) == ["node0", "node1", "node2", "replaced"]


def test_traversal_during_a_collection_triggered_mid_operation():
    # Comparisons run full collections while the trees and the list are mid-insert
    # (every 20th, as each one costs milliseconds).
    comparisons = [0]

    class Collects:
        def __init__(self, v):
            self.v = v

        def __lt__(self, other):
            comparisons[0] += 1
            if comparisons[0] % 20 == 0:
                gc.collect()
            return self.v < other.v

        def __gt__(self, other):
            return self.v > other.v

        def __eq__(self, other):
            return self.v == other.v

    rng = random.Random(7)
    for s in (BinarySearchTree(True), AVLTree(True), Flatlist()):
        for v in [rng.randrange(20) for _ in range(30)]:
            (s.insert if isinstance(s, Flatlist) else s.add)(Collects(v))
        assert [x.v for x in s] == sorted(x.v for x in s)
    assert comparisons[0] >= 100


# ---------------------------------------------------------------------------
# Deep teardown: a million instances nested in each other, freed at once, on a
# thread whose native stack is small, so that any recursion through the nesting
# crashes. Each class runs in a subprocess: a crash fails one case, not the
# session. The sanitizer build, ten times slower, nests a tenth as deep.

DEPTH = 100_000 if os.environ.get("MORVENA_SANITIZED") else 1_000_000


@pytest.mark.parametrize("name", STORES)
def test_freeing_a_million_nested_instances(name):
    create, add = STORES[name]
    script = textwrap.dedent(f"""
        import gc, threading
        from morvena import *
        gc.disable()  # the teardown, not the collector, is under test
        inner = {create}
        for _ in range({DEPTH}):
            s = {create}
            x = inner
            {add}
            inner = s
        del s, x
        threading.stack_size(512 * 1024)
        holder = [inner]
        del inner
        thread = threading.Thread(target=holder.clear)
        thread.start()
        thread.join()
        print("freed" if not holder else "kept")
    """)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=600)
    assert done.returncode == 0 and done.stdout.strip() == "freed", done.stderr[-2000:]


# ---------------------------------------------------------------------------
# Iteration yields the class's own listing, in its order.

rng = random.Random(12)
VALUES = [rng.randrange(-50, 50) for _ in range(200)]
WORDS = ["".join(rng.choice("abcé") for _ in range(rng.randrange(1, 6))) for _ in range(100)]


def _filled(cls, add, *args):
    def build():
        s = cls(*args)
        for v in VALUES:
            getattr(s, add)(v)
        return s
    return build


def _priority_queue():
    q = PriorityQueue("max")
    for i, v in enumerate(VALUES):
        q.enqueue(i, v)
    return q


def _trie():
    t = Trie()
    t.extend(WORDS)
    return t


def _map(cls, *args):
    def build():
        m = cls(*args)
        for v in VALUES:
            m.insert(v, str(v)) if not m.contains(v) else None
        m.insert(1.5, None)
        m.insert("s", None)
        return m
    return build


def _graph(cls):
    def build():
        g = cls()
        for v in VALUES[:40]:
            g.insert(v)
        for key in (3, 7, 20):
            g.remove(key)
        g.insert("after removals")
        return g
    return build


LISTINGS = [
    (_filled(Stack, "push"), "to_list"),
    (_filled(ArrayStack, "push"), "to_list"),
    (_filled(Queue, "enqueue"), "to_list"),
    (_filled(LinkedList, "append"), "to_list"),
    (_filled(CircularBuffer, "enqueue", 300), "to_list"),
    (_filled(RingBuffer, "enqueue", 64), "to_list"),  # overwritten many times: wrapped
    (_priority_queue, "to_list"),
    (_filled(Flatlist, "insert"), "to_list"),
    (_filled(BinarySearchTree, "add", True), "inorder_list"),
    (_filled(AVLTree, "add", True), "inorder_list"),
    (_filled(AVLTree, "add", False), "inorder_list"),
    (_trie, "words"),
    (_map(RhoodMap, 512), "keys"),
    (_map(VaskMap, 512, 4), "keys"),
] + [(_graph(cls), "keys") for cls in (BaseGraph, Digraph, WeightedGraph, WeightedDigraph, HyperGraph)]


@pytest.mark.parametrize("build, listing", LISTINGS, ids=lambda p: getattr(p, "__qualname__", p))
def test_iteration_follows_the_listing(build, listing):
    s = build()
    assert list(s) == getattr(s, listing)()
    it = iter(s)
    assert iter(it) is it
    for _ in it:
        pass
    with pytest.raises(StopIteration):
        next(it)


EMPTIES = [Stack(), ArrayStack(), Queue(), LinkedList(), CircularBuffer(3), RingBuffer(0), PriorityQueue("min"),
           BinarySearchTree(True), AVLTree(False), Trie(), RhoodMap(0), VaskMap(8, 4), BaseGraph(), Digraph(),
           WeightedGraph(), WeightedDigraph(), HyperGraph(), Flatlist(), Flatlist(0)]


@pytest.mark.parametrize("s", EMPTIES, ids=lambda s: type(s).__name__)
def test_empty_structures_iterate_as_empty(s):
    assert list(s) == []


@pytest.mark.parametrize("s", [BloomFilter(100, 0.01), CuckooFilter()], ids=lambda s: type(s).__name__)
def test_filters_are_not_iterable(s):
    with pytest.raises(TypeError):
        iter(s)


# ---------------------------------------------------------------------------
# A mutation invalidates live iterators; reading never does.

def _graph_with_edges(cls, weighted):
    g = cls()
    for v in "abc":
        g.insert(v)
    g.add_edge(1, 2, 1.0) if weighted else g.add_edge(1, 2)
    return g


MUTATIONS = [
    (lambda: _filled(Stack, "push")(), [lambda s: s.push(1), lambda s: s.update_top(0), lambda s: s.swap(),
                                        lambda s: s.reverse(), lambda s: s.pop(), lambda s: s.clear()]),
    (lambda: _filled(ArrayStack, "push")(), [lambda s: s.update_top(0), lambda s: s.swap(0), lambda s: s.extend([])]),
    (lambda: _filled(Queue, "enqueue")(), [lambda s: s.enqueue(1), lambda s: s.dequeue()]),
    (lambda: _filled(LinkedList, "append")(), [lambda s: s.update(0, 1), lambda s: s.insert(5, 0),
                                               lambda s: s.remove_head()]),
    (lambda: _filled(RingBuffer, "enqueue", 64)(), [lambda s: s.enqueue(1), lambda s: s.update(0, 2)]),
    # A failed mutating call counts as well: telling it apart would cost every call.
    (lambda: _filled(CircularBuffer, "enqueue", 300)(), [lambda s: s.dequeue(), lambda s: s.update(3, 3),
                                                         lambda s: pytest.raises(ValueError, s.update, 10**6, 1)]),
    (_priority_queue, [lambda s: s.update_priority(0, 1), lambda s: s.heapify_down()]),
    (lambda: _filled(AVLTree, "add", True)(), [lambda s: s.add(1), lambda s: s.remove(VALUES[0])]),
    (lambda: _filled(BinarySearchTree, "add", True)(), [lambda s: s.prune()]),
    (_trie, [lambda s: s.insert("zzz"), lambda s: s.remove(WORDS[0])]),
    (_map(RhoodMap, 512), [lambda s: s.update(VALUES[0], 0), lambda s: s.remove(VALUES[0])]),
    (_map(VaskMap, 512, 4), [lambda s: s.insert("new", 0), lambda s: s.clear()]),
    (lambda: _graph_with_edges(Digraph, False), [lambda s: s.remove_edge(1, 2), lambda s: s.insert(0)]),
    (lambda: _graph_with_edges(WeightedGraph, True), [lambda s: s.update("x", 1), lambda s: s.remove(3)]),
    (lambda: _graph(HyperGraph)(), [lambda s: s.insert(0), lambda s: s.add_edge("e", [1, 2])]),
    (lambda: _filled(Flatlist, "insert")(), [lambda s: s.pop_first(), lambda s: s.insert(0)]),
]
MUTATION_CASES = [(build, mutate) for build, mutators in MUTATIONS for mutate in mutators]


@pytest.mark.parametrize("build, mutate", MUTATION_CASES)
@pytest.mark.parametrize("consumed", [0, 1])
def test_a_mutation_invalidates_a_live_iterator(build, mutate, consumed):
    s = build()
    it = iter(s)
    for _ in range(consumed):
        next(it, None)
    mutate(s)
    message = f"{type(s).__name__} mutated during iteration"
    with pytest.raises(RuntimeError, match=f"^{message}$"):
        next(it)
    # Exhausted for good: never a value again.
    with pytest.raises(StopIteration):
        next(it)


def test_reading_while_iterating_never_invalidates():
    s = _filled(Stack, "push")()
    seen = []
    for v in s:
        s.peek(), s.to_list(), s.contains(v), s.size(), v in s, s.copy()
        seen.append(v)
    assert seen == s.to_list()
    # Listings that take the exclusive borrow but change nothing.
    t = _filled(BinarySearchTree, "add", True)()
    assert [v for v in t if t.bfs_list() and t.preorder_list() and t.postorder_list() and t.copy()] == t.inorder_list()
    a = _filled(AVLTree, "add", False)()
    assert [v for v in a if a.copy()] == a.inorder_list()
    g = _graph_with_edges(BaseGraph, False)
    assert [k for k in g if g.neighbours(k) is not None and g.bfs_list(1) and k in g] == [1, 2, 3]


def test_re_entrant_elements_during_iteration():
    # An element's __eq__ trying to mutate during a shared scan is refused, so the
    # iteration goes on untouched.
    ll = LinkedList()
    for v in range(5):
        ll.append(v)
    probe = CallsBack(lambda: ll.append("sneaked"))
    assert [v for v in ll if not ll.contains(probe)] == [0, 1, 2, 3, 4]
    assert probe.errors and all(isinstance(e, RuntimeError) for e in probe.errors)

    # A key converted while the map inserts steps an iterator over that map from
    # inside the exclusive call: the call has already invalidated it.
    m = RhoodMap(16)
    m.insert(1, 1)
    it = iter(m)
    errors = []

    class Key:
        def __index__(self):
            try:
                next(it)
            except RuntimeError as error:
                errors.append(error)
            return 5

    m.insert(Key(), 2)
    assert [str(e) for e in errors] == ["RhoodMap mutated during iteration"]
    with pytest.raises(StopIteration):
        next(it)

    # A comparison run by a tree insert steps an iterator over that same tree.
    t = AVLTree(True)
    t.add(CallsBack(lambda: None, result=True))
    walker = []
    element = CallsBack(lambda: walker.append(list(t)), result=True)
    t.add(element)
    assert element.errors and all(isinstance(e, RuntimeError) for e in element.errors)


# ---------------------------------------------------------------------------
# References: iterators own their structure and leak nothing.


def test_an_iterator_keeps_its_structure_alive():
    it = iter(_filled(LinkedList, "append")())
    gc.collect()
    assert list(it) == VALUES


@pytest.mark.parametrize("build, listing", LISTINGS, ids=lambda p: getattr(p, "__qualname__", p))
def test_iterating_leaks_nothing(build, listing):
    s = build()
    marker = object()

    def walk():
        list(s)
        it = iter(s)
        next(it, None)  # dropped half way

    assert_no_leak(walk, rounds=300)
    if hasattr(s, "push"):
        s.push(marker)
        with same_refcount(marker, s):
            for _ in range(100):
                list(s)
                next(iter(s))


# ---------------------------------------------------------------------------
# `x in s` is the contains method.

CONTAINS = [
    (_filled(LinkedList, "append"), [VALUES[3], 1000, "x"]),
    (_filled(ArrayStack, "push"), [VALUES[3], 1000]),
    (_filled(BinarySearchTree, "add", False), [VALUES[3], 1000]),
    (_filled(AVLTree, "add", False), [VALUES[3], 1000]),
    (_trie, [WORDS[0], "nope", WORDS[0][:-1]]),
    (_map(RhoodMap, 512), [VALUES[3], 1000, 1.5]),
    (_map(VaskMap, 512, 4), [VALUES[3], 1000, "s"]),
    (_filled(Flatlist, "insert"), [VALUES[3], 1000]),
    (_graph(BaseGraph), [1, 3, 99]),
    (_graph(HyperGraph), [1, 3, 99]),
]


@pytest.mark.parametrize("build, probes", CONTAINS, ids=lambda p: getattr(p, "__qualname__", p))
def test_in_is_the_contains_method(build, probes):
    s = build()
    assert [p in s for p in probes] == [s.contains(p) for p in probes]


@pytest.mark.parametrize("s, probe, error", [
    (Trie(), 5, ValueError),  # Trie only holds strings
    (_filled(BinarySearchTree, "add", False)(), "x", TypeError),
    (BaseGraph(), "x", TypeError),  # a key of the wrong kind, even when empty
    (HyperGraph(), -1, OverflowError),
])
def test_in_raises_what_contains_raises(s, probe, error):
    with pytest.raises(error) as raised:
        probe in s
    with pytest.raises(error) as direct:
        s.contains(probe)
    assert str(raised.value) == str(direct.value)


@pytest.mark.parametrize("cls", [BaseGraph, Digraph, WeightedGraph, WeightedDigraph, HyperGraph])
def test_in_an_empty_graph_is_false(cls):
    g = cls()
    assert (1 in g) is False
    with pytest.raises(ValueError, match="No elements currently available in Graph"):
        g.contains(1)


def test_in_the_filters():
    b, c = BloomFilter(100, 0.01), CuckooFilter()
    b.add("a")
    c.insert("a")
    assert ("a" in b, "a" in c, "zz" in c) == (True, True, c.contains("zz"))
