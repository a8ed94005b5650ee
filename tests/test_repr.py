"""repr() of every class: the contents in listing order, sizing where contents are
not shown, "Name(...)" for an instance met inside itself, element errors passed on."""

import pytest

import morvena as m
from conftest import Boom, assert_no_leak, same_refcount


def filled(cls, *args, fill):
    s = cls(*args)
    fill(s)
    return s


def graph(cls):
    g = cls()
    g.insert("a"), g.insert("b"), g.insert("c")
    if cls is m.HyperGraph:
        g.add_edge("team", [1, 2])
    elif cls in (m.WeightedGraph, m.WeightedDigraph):
        g.add_edge(1, 2, 0.5)
    else:
        g.add_edge(1, 2)
    return g


def pushes(method, items=(1, 2, 3)):
    return lambda s: [getattr(s, method)(x) for x in items]


SHOWN = [
    (lambda: filled(m.LinkedList, fill=pushes("append")), "LinkedList([1, 2, 3])"),
    (lambda: filled(m.Stack, fill=pushes("push")), "Stack([3, 2, 1])"),
    (lambda: filled(m.ArrayStack, fill=pushes("push")), "ArrayStack([1, 2, 3])"),
    (lambda: filled(m.Queue, fill=pushes("enqueue")), "Queue([1, 2, 3])"),
    (lambda: filled(m.RingBuffer, 2, fill=pushes("enqueue")), "RingBuffer([2, 3])"),
    (lambda: filled(m.CircularBuffer, 3, fill=pushes("enqueue")), "CircularBuffer([1, 2, 3])"),
    (lambda: filled(m.PriorityQueue, "min", fill=lambda q: q.extend([("a", 2), ("b", 1)])),
     "PriorityQueue([('b', 1), ('a', 2)])"),
    (lambda: filled(m.BinarySearchTree, True, fill=lambda t: t.extend([2, 3, 1, 2])),
     "BinarySearchTree([1, 2, 2, 3])"),
    (lambda: filled(m.AVLTree, False, fill=lambda t: t.extend([2, 3, 1, 2])), "AVLTree([1, 2, 3])"),
    (lambda: filled(m.Trie, fill=lambda t: t.extend(["tree", "heap", "tr"])), "Trie(['heap', 'tr', 'tree'])"),
    (lambda: filled(m.VaskMap, fill=lambda d: d.insert("k", [1])), "VaskMap({'k': [1]})"),
    (lambda: filled(m.RhoodMap, 8, fill=lambda d: d.insert(1, "one")), "RhoodMap({1: 'one'})"),
    (lambda: m.BloomFilter(100, 0.01), "BloomFilter(bits=959, hashes=7, probability=0.01)"),
    (lambda: m.CuckooFilter(10, 2), "CuckooFilter(size=10, bucket_size=2, retries=4)"),
    (lambda: filled(m.Flatlist, fill=lambda f: f.extend([3, 1, 2])), "Flatlist([1, 2, 3])"),
    (lambda: graph(m.BaseGraph), "BaseGraph(nodes=3, edges=1)"),
    (lambda: graph(m.Digraph), "Digraph(nodes=3, edges=1)"),
    (lambda: graph(m.WeightedGraph), "WeightedGraph(nodes=3, edges=1)"),
    (lambda: graph(m.WeightedDigraph), "WeightedDigraph(nodes=3, edges=1)"),
    (lambda: graph(m.HyperGraph), "HyperGraph(nodes=3, edges=1)"),
]

EMPTY = {
    "LinkedList": m.LinkedList, "Stack": m.Stack, "ArrayStack": m.ArrayStack, "Queue": m.Queue,
    "RingBuffer": lambda: m.RingBuffer(2), "CircularBuffer": lambda: m.CircularBuffer(2),
    "PriorityQueue": lambda: m.PriorityQueue("max"), "BinarySearchTree": lambda: m.BinarySearchTree(True),
    "AVLTree": lambda: m.AVLTree(True), "Trie": m.Trie, "Flatlist": m.Flatlist,
    "VaskMap": m.VaskMap, "RhoodMap": m.RhoodMap,
    "BaseGraph": m.BaseGraph, "Digraph": m.Digraph, "WeightedGraph": m.WeightedGraph,
    "WeightedDigraph": m.WeightedDigraph, "HyperGraph": m.HyperGraph,
}

# Classes that store arbitrary objects: how to make one, store an object, and the shown form.
HOLDERS = {
    "LinkedList": (m.LinkedList, lambda s, x: s.append(x), "LinkedList([{}])"),
    "Stack": (m.Stack, lambda s, x: s.push(x), "Stack([{}])"),
    "ArrayStack": (m.ArrayStack, lambda s, x: s.push(x), "ArrayStack([{}])"),
    "Queue": (m.Queue, lambda s, x: s.enqueue(x), "Queue([{}])"),
    "RingBuffer": (lambda: m.RingBuffer(4), lambda s, x: s.enqueue(x), "RingBuffer([{}])"),
    "CircularBuffer": (lambda: m.CircularBuffer(4), lambda s, x: s.enqueue(x),
                       "CircularBuffer([{}])"),
    "PriorityQueue": (lambda: m.PriorityQueue("min"), lambda s, x: s.enqueue(x, 5),
                      "PriorityQueue([({}, 5)])"),
    "BinarySearchTree": (lambda: m.BinarySearchTree(True), lambda s, x: s.add(x),
                         "BinarySearchTree([{}])"),
    "AVLTree": (lambda: m.AVLTree(True), lambda s, x: s.add(x), "AVLTree([{}])"),
    "VaskMap": (m.VaskMap, lambda s, x: s.insert("k", x), "VaskMap({{'k': {}}})"),
    "RhoodMap": (m.RhoodMap, lambda s, x: s.insert("k", x), "RhoodMap({{'k': {}}})"),
    "Flatlist": (m.Flatlist, lambda s, x: s.insert(x), "Flatlist([{}])"),
}


@pytest.mark.parametrize("make, expected", SHOWN, ids=[e.split("(")[0] for _, e in SHOWN])
def test_repr_shows_contents_in_listing_order(make, expected):
    s = make()
    assert repr(s) == expected
    assert str(s) == expected


@pytest.mark.parametrize("name", EMPTY)
def test_empty_structures(name):
    # Listings that raise on an empty tree, trie or graph must not leak into repr.
    s = EMPTY[name]()
    assert repr(s) in (f"{name}([])", f"{name}({{}})", f"{name}(nodes=0, edges=0)")


@pytest.mark.parametrize("name", HOLDERS)
def test_self_containment_shows_dots(name):
    make, put, form = HOLDERS[name]
    s = make()
    put(s, s)
    assert repr(s) == form.format(f"{name}(...)")
    # Two structures holding each other: each is shown once, then dots.
    a, b = make(), m.Stack()
    put(a, b)
    b.push(a)
    assert repr(a) == form.format(f"Stack([{name}(...)])")
    assert repr(b) == "Stack([" + form.format("Stack(...)") + "])"


class BadRepr:
    def __repr__(self):
        raise Boom("repr")


class Grows:
    """Pushes onto its stack while being shown: the shown contents are a snapshot."""

    def __init__(self, stack):
        self.stack = stack

    def __repr__(self):
        self.stack.push(0)
        return "g"


@pytest.mark.parametrize("name", HOLDERS)
def test_element_repr_error_passes_on(name):
    make, put, form = HOLDERS[name]
    s, bad = make(), BadRepr()
    put(s, bad)
    with same_refcount(bad, s):
        try:
            repr(s)
        except Boom:
            pass
        else:
            pytest.fail("the element's error was lost")
    # The failed repr left nothing behind: the instance is not still marked as
    # being shown, so it does not print as "...".
    s.clear()
    put(s, 7)
    assert repr(s) == form.format("7")


def test_element_may_change_the_structure_while_shown():
    s = m.Stack()
    s.push(Grows(s))
    assert repr(s) == "Stack([g])"
    assert s.to_list()[0] == 0


def test_repr_refused_during_an_exclusive_borrow():
    tree = m.AVLTree(True)

    class Peeks:
        def __lt__(self, other):
            with pytest.raises(RuntimeError, match="Already mutably borrowed"):
                repr(tree)
            return False

        __gt__ = __lt__

        def __eq__(self, other):
            return True

    tree.add(Peeks())
    tree.add(Peeks())
    assert tree.size() == 2


def test_deep_nesting_is_bounded_by_the_recursion_limit():
    outer = m.Stack()
    inner = outer
    for _ in range(2000):
        nxt = m.Stack()
        inner.push(nxt)
        inner = nxt
    try:
        text = repr(outer)
    except RecursionError:
        pass
    else:
        assert text.startswith("Stack([Stack([")
    while outer.size():  # break the chain without a deep teardown
        outer = outer.pop()


@pytest.mark.parametrize("make, _", SHOWN[:15:3])
def test_repr_does_not_leak(make, _):
    s = make()
    assert_no_leak(lambda: repr(s), rounds=500)
