"""Correct, fully annotated use of the classes: mypy --strict must accept it, and
it runs as it reads. The assert_type lines pin what the stubs infer."""

from __future__ import annotations

from dataclasses import dataclass
from typing import assert_type

from morvena import (AVLTree, BloomFilter, CircularBuffer, Digraph, Flatlist, HyperGraph, PriorityQueue,
                     Queue, RhoodMap, Stack, Trie, VaskMap, WeightedGraph)


@dataclass
class City:
    name: str


def stacks_and_queues() -> None:
    s = Stack[int]()
    s.push(1)
    s.push(2)
    assert_type(s.pop(), int | None)
    assert_type(s.to_list(), list[int])
    assert_type(s.copy(), Stack[int])
    q: Queue[str] = Queue()
    q.enqueue("a")
    assert_type(q.dequeue(), str)
    ring = CircularBuffer[bytes](2)
    ring.extend([b"x", b"y"])
    assert_type(ring[0], bytes)
    tasks = PriorityQueue[str]("min")
    tasks.extend([("write", 2), ("test", 1)])
    assert_type(tasks.peek(), str)
    assert_type(tasks.peek(True), tuple[str, int])


def trees_and_maps() -> None:
    tree = AVLTree[float](allow_duplicates=False)
    tree.extend([2.5, 1.0])
    assert_type(tree.min(), float)
    words = Trie()
    words.insert("tree")
    assert_type(words.words(), list[str])
    ages = RhoodMap[str, int](capacity=8)
    ages.insert("ada", 36)
    assert_type(ages.get("ada"), int | None)
    assert_type(ages.items(), list[tuple[str, int]])
    ids = VaskMap[int, str]()
    ids.insert(7, "seven")
    assert_type(ids.remove(7), str | None)
    ordered = Flatlist[int]()
    ordered.extend([3, 1])
    assert_type(ordered.pop_first(), int)
    seen = BloomFilter[str](100, 0.01)
    seen.add("alice")


def graphs() -> None:
    g = Digraph[City]()
    g.insert(City("oslo"))
    g.insert(City("bergen"))
    g.add_edge(2, 1)
    assert_type(g.extract(1), City)
    assert_type(g.transpose(), Digraph[City])
    w = WeightedGraph[str]()
    w.insert("a")
    assert_type(w.edges(), list[tuple[int, str]])
    h = HyperGraph[City]()
    h.insert(City("tromso"))
    assert_type(h.remove(1), City)


stacks_and_queues()
trees_and_maps()
graphs()
