"""Trees and the heap against heapq, sortedcontainers, set and a dict-of-dicts trie."""

import heapq
import random
import string

from morvena import AVLTree, PriorityQueue, Trie
from morvena.bench import Workload


def _priorities(n):
    rng = random.Random(7)
    return [(i, rng.randrange(-(2**31), 2**31)) for i in range(n)]


def _pq_enqueue(n):
    pairs = _priorities(n)

    def run():
        q = PriorityQueue("min")
        enqueue = q.enqueue
        for value, priority in pairs:
            enqueue(value, priority)

    return run


def _heappush(n):
    pairs = _priorities(n)

    def run():
        h = []
        push = heapq.heappush
        for value, priority in pairs:
            push(h, (priority, value))

    return run


def _pq_dequeue(n):
    q = PriorityQueue("min")
    q.extend(_priorities(n))
    dequeue = q.dequeue
    loop = range(n)

    def run():
        for _ in loop:
            dequeue()

    return run


def _heappop(n):
    h = [(priority, value) for value, priority in _priorities(n)]
    heapq.heapify(h)
    pop = heapq.heappop
    loop = range(n)

    def run():
        for _ in loop:
            pop(h)

    return run


def _ints(n):
    rng = random.Random(11)
    return [rng.randrange(10 * n) for _ in range(n)]


def _avl_add(n):
    values = _ints(n)

    def run():
        add = AVLTree(True).add
        for x in values:
            add(x)

    return run


def _sorted_list_add(n):
    from sortedcontainers import SortedList

    values = _ints(n)

    def run():
        add = SortedList().add
        for x in values:
            add(x)

    return run


def _avl_contains(n):
    values = _ints(n)
    tree = AVLTree(True)
    tree.extend(values)
    contains = tree.contains
    probes = values[::-1]

    def run():
        for x in probes:
            contains(x)

    return run


def _sorted_list_in(n):
    from sortedcontainers import SortedList

    values = _ints(n)
    s = SortedList(values)
    probes = values[::-1]

    def run():
        for x in probes:
            x in s

    return run


def _words(n):
    rng = random.Random(3)
    letters = string.ascii_lowercase
    return [''.join(rng.choices(letters, k=rng.randint(3, 12))) for _ in range(n)]


def _prefixes(n):
    return [w[: max(1, len(w) // 2)] for w in _words(n)]


END = None  # the dict-of-dicts trie marks a word end with this key


def _dict_insert(root, word):
    node = root
    for ch in word:
        node = node.setdefault(ch, {})
    node[END] = True


def _dict_find(root, text):
    node = root
    for ch in text:
        node = node.get(ch)
        if node is None:
            return None
    return node


def _dict_contains(root, word):
    node = _dict_find(root, word)
    return node is not None and END in node


def _dict_starts_with(root, prefix):
    return _dict_find(root, prefix) is not None


def _trie_insert(n):
    words = _words(n)

    def run():
        insert = Trie().insert
        for w in words:
            insert(w)

    return run


def _set_add(n):
    words = _words(n)

    def run():
        add = set().add
        for w in words:
            add(w)

    return run


def _dict_trie_insert(n):
    words = _words(n)

    def run():
        root = {}
        for w in words:
            _dict_insert(root, w)

    return run


def _trie_query(method, probes):
    def setup(n):
        trie = Trie()
        trie.extend(_words(n))
        query = getattr(trie, method)
        items = probes(n)

        def run():
            for p in items:
                query(p)

        return run

    return setup


def _set_in(n):
    s = set(_words(n))
    probes = _words(n)

    def run():
        for w in probes:
            w in s

    return run


def _dict_trie_query(query, probes):
    def setup(n):
        root = {}
        for w in _words(n):
            _dict_insert(root, w)
        items = probes(n)

        def run():
            for p in items:
                query(root, p)

        return run

    return setup


WORKLOADS = [
    Workload("PriorityQueue.enqueue", "heapq.heappush (p, v)", 100_000, _pq_enqueue, _heappush, target=1.2),
    Workload("PriorityQueue.dequeue", "heapq.heappop (p, v)", 100_000, _pq_dequeue, _heappop, target=0.5),
    Workload("AVLTree.add", "SortedList.add", 100_000, _avl_add, _sorted_list_add, target=2.0,
             requires="sortedcontainers"),
    Workload("AVLTree.contains", "x in SortedList", 100_000, _avl_contains, _sorted_list_in, target=2.0,
             requires="sortedcontainers"),
    Workload("Trie.insert", "set.add", 100_000, _trie_insert, _set_add),
    Workload("Trie.insert", "dict-of-dicts insert", 100_000, _trie_insert, _dict_trie_insert),
    Workload("Trie.contains", "x in set", 100_000, _trie_query("contains", _words), _set_in),
    Workload("Trie.contains", "dict-of-dicts lookup", 100_000, _trie_query("contains", _words),
             _dict_trie_query(_dict_contains, _words)),
    Workload("Trie.starts_with", "dict-of-dicts prefix walk", 100_000, _trie_query("starts_with", _prefixes),
             _dict_trie_query(_dict_starts_with, _prefixes), target=0.2),
]
