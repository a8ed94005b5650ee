"""Shortest paths, topological order and components of the four pairwise graphs:
against networkx on seeded random graphs, against a pure-Python model (exact
routes, orders and messages, failing calls included), and on a million-node
path that any recursion would not survive."""

import heapq
import random

import networkx as nx
import pytest
from hypothesis import strategies as st
from hypothesis.stateful import rule

from morvena import BaseGraph, Digraph, WeightedDigraph, WeightedGraph
from conftest import outcome, run_on_small_stack
from graph_model import EMPTY, KINDS, Model, machine_for, make, random_pair

GRAPHS = [BaseGraph, Digraph, WeightedGraph, WeightedDigraph]
DIRECTED = [Digraph, WeightedDigraph]
CYCLE = "Graph contains a cycle: no topological order exists"


def forward(cls, a, b):
    """Arguments of a two-id call that asks about the way from a to b."""
    return (a, b) if KINDS[cls]["path_from_first"] else (b, a)


class AlgorithmModel(Model):
    """The searches written plainly: the same tie rules, checks and messages."""

    def _search(self, source, target=None):
        weighted, dist, parent, settled = self.kind["weighted"], {source: 0}, {source: source}, []
        if not weighted:
            queue = [source]  # breadth first, a node is settled when found
            for u in queue:
                if target in parent:
                    break
                for v in self.adj[u]:
                    if v not in parent:
                        parent[v], dist[v] = u, dist[u] + 1
                        queue.append(v)
            return dist, parent, queue
        dist[source], heap, done = 0.0, [(0.0, source)], set()
        while heap:
            d, u = heapq.heappop(heap)
            if u in done:
                continue
            done.add(u)
            settled.append(u)
            if u == target:
                break
            for v, w in self.adj[u].items():
                if not w >= 0:
                    raise ValueError(f"Edge weight {w!r} is negative or NaN: shortest paths need weights >= 0")
                if v not in done and (v not in parent or d + w < dist[v]):
                    parent[v], dist[v] = u, d + w
                    heapq.heappush(heap, (d + w, v))
        return dist, parent, settled

    def _path_ends(self, a, b):
        self._need((a, b), self.kind["path"])
        return (a, b) if self.kind["path_from_first"] else (b, a)

    def shortest_path(self, a, b):
        source, target = self._path_ends(a, b)
        _, parent, _ = self._search(source, target)
        if target not in parent:
            return None
        route = [target]
        while route[-1] != source:
            route.append(parent[route[-1]])
        return route[::-1]

    def distance(self, a, b):
        source, target = self._path_ends(a, b)
        return self._search(source, target)[0].get(target)

    def distances(self, x):
        self._need((x,), (self.kind["path"][0 if self.kind["path_from_first"] else 1],))
        dist, _, settled = self._search(x)
        return {u: dist[u] for u in settled}

    def topological_order(self):
        self._need(())
        pending = dict.fromkeys(self.adj, 0)
        for u in self.adj:
            for v in self.adj[u]:
                pending[v] += 1
        ready, order = [u for u in self.adj if not pending[u]], []
        while ready:
            u = heapq.heappop(ready)
            order.append(u)
            for v in self.adj[u]:
                pending[v] -= 1
                if not pending[v]:
                    heapq.heappush(ready, v)
        if len(order) != len(self.adj):
            raise ValueError(CYCLE)
        return order

    def _reach(self, u):
        seen, todo = {u}, [u]
        while todo:
            for v in self.adj[todo.pop()]:
                if v not in seen:
                    seen.add(v)
                    todo.append(v)
        return seen

    def _groups(self, same):
        groups = []
        for u in self.adj:  # insertion order
            for group in groups:
                if same(group[0], u):
                    group.append(u)
                    break
            else:
                groups.append([u])
        return groups

    def components(self):
        self._need(())
        joined = {u: set(nbrs) for u, nbrs in self.adj.items()}
        for u, nbrs in self.adj.items():
            for v in nbrs:
                joined[v].add(u)
        label = {}
        for u in self.adj:
            if u not in label:
                todo = [u]
                label[u] = u
                while todo:
                    for v in joined[todo.pop()]:
                        if v not in label:
                            label[v] = u
                            todo.append(v)
        return self._groups(lambda a, b: label[a] == label[b])

    def strong_components(self):
        self._need(())
        reach = {u: self._reach(u) for u in self.adj}
        return self._groups(lambda a, b: b in reach[a] and a in reach[b])


def algorithm_machine(cls):
    kind, base = KINDS[cls], machine_for(cls)
    node_ids = st.integers(0, 7)
    two = ["shortest_path", "distance"]
    whole = ["components"] + (["topological_order", "strong_components"] if kind["directed"] else [])

    class AlgorithmMachine(base):
        def __init__(self):
            super().__init__()
            self.model = AlgorithmModel(kind)

        @rule(name=st.sampled_from(two), a=node_ids, b=node_ids)
        def paths(self, name, a, b):
            self.same(name, a, b)

        @rule(x=node_ids)
        def distances(self, x):
            real, model = outcome(self.graph.distances, x), outcome(self.model.distances, x)
            assert real == model and (real[0] != "ok" or list(real[1].items()) == list(model[1].items()))

        @rule(name=st.sampled_from(whole))
        def listings(self, name):
            self.same(name)

    return AlgorithmMachine


TestBaseGraphAlgorithms = algorithm_machine(BaseGraph).TestCase
TestDigraphAlgorithms = algorithm_machine(Digraph).TestCase
TestWeightedGraphAlgorithms = algorithm_machine(WeightedGraph).TestCase
TestWeightedDigraphAlgorithms = algorithm_machine(WeightedDigraph).TestCase


@pytest.mark.parametrize("cls", GRAPHS)
@pytest.mark.parametrize("seed", range(5))
def test_paths_match_networkx(cls, seed):
    ours, theirs = random_pair(cls, seed, lowest_weight=0)
    weight = "weight" if KINDS[cls]["weighted"] else None
    nodes, rng = list(theirs.nodes), random.Random(seed)
    for source in rng.sample(nodes, 6):
        expected = nx.single_source_dijkstra_path_length(theirs, source, weight=weight or (lambda *_: 1))
        found = ours.distances(source)
        assert found == expected and list(found.values()) == sorted(found.values())
        for target in rng.sample(nodes, 8):
            route, length = ours.shortest_path(*forward(cls, source, target)), ours.distance(*forward(cls, source, target))
            if target not in expected:
                assert route is None and length is None
                continue
            assert route[0] == source and route[-1] == target and length == expected[target]
            steps = list(zip(route, route[1:]))
            assert all(theirs.has_edge(u, v) for u, v in steps)
            assert sum(theirs.edges[u, v]["weight"] if weight else 1 for u, v in steps) == length
            assert type(length) is (float if weight else int)


@pytest.mark.parametrize("cls", GRAPHS)
@pytest.mark.parametrize("seed", range(5))
def test_orders_and_components_match_networkx(cls, seed):
    directed = KINDS[cls]["directed"]
    ours, theirs = random_pair(cls, seed, edges=50 + 15 * seed)
    weak = nx.weakly_connected_components(theirs) if directed else nx.connected_components(theirs)
    found = ours.components()
    # Ids follow insertion order, so the rule "insertion order within, first node across" is sortedness.
    assert found == sorted(sorted(c) for c in weak)
    if not directed:
        return
    assert ours.strong_components() == sorted(sorted(c) for c in nx.strongly_connected_components(theirs))
    acyclic = nx.is_directed_acyclic_graph(theirs)
    expected = ("ok", list(nx.lexicographical_topological_sort(theirs))) if acyclic else (ValueError, CYCLE)
    assert outcome(ours.topological_order) == expected
    dag, theirs_dag = random_pair(cls, seed, edges=200, dag=True)
    order = dag.topological_order()
    assert order == list(nx.lexicographical_topological_sort(theirs_dag))
    assert all(order.index(u) < order.index(v) for u, v in theirs_dag.edges)


def test_ties_follow_insertion_and_edge_order():
    # Two equal routes 1-3-4 and 1-2-4. Breadth first, the edge added first finds 4
    # first; Dijkstra settles the nearer, then the earlier inserted node first.
    for cls in GRAPHS:
        g = make(cls, 4, [(1, 3), (1, 2), (2, 4), (3, 4)])
        assert g.shortest_path(*forward(cls, 1, 4)) == ([1, 2, 4] if KINDS[cls]["weighted"] else [1, 3, 4])
        assert list(g.distances(1)) == ([1, 2, 3, 4] if KINDS[cls]["weighted"] else [1, 3, 2, 4])
    # Of the nodes ready, the earliest inserted comes next (a queue would give 3, 4, 1, 2).
    assert make(Digraph, 4, [(3, 1), (4, 2)]).topological_order() == [3, 1, 4, 2]


@pytest.mark.parametrize("cls", [WeightedGraph, WeightedDigraph])
@pytest.mark.parametrize("bad, text", [(-1.5, "-1.5"), (float("nan"), "nan"), (float("-inf"), "-inf")])
def test_negative_or_nan_weight_is_refused_only_when_scanned(cls, bad, text):
    g = make(cls, 4, [(1, 2), (2, 3)])
    g.add_edge(*forward(cls, 4, 4), bad)  # a self-loop on a node the search from 1 never reaches
    assert g.distance(*forward(cls, 1, 3)) == 2.0 and g.distances(1) == {1: 0.0, 2: 1.0, 3: 2.0}
    g.add_edge(*forward(cls, 3, 1), bad)  # an edge back to the settled source
    for call in (lambda: g.distances(1), lambda: g.shortest_path(*forward(cls, 1, 4))):
        with pytest.raises(ValueError, match=f"^Edge weight {text} is negative or NaN"):
            call()
    # Infinite weights are lengths like any other.
    h = make(cls, 2)
    h.add_edge(*forward(cls, 1, 2), float("inf"))
    assert h.distance(*forward(cls, 1, 2)) == float("inf") and h.shortest_path(*forward(cls, 1, 2)) == [1, 2]


@pytest.mark.parametrize("cls", GRAPHS)
def test_bad_ids_and_empty_graphs(cls):
    names = ["components"] + (["topological_order", "strong_components"] if cls in DIRECTED else [])
    for name in names:
        assert outcome(getattr(cls(), name)) == (ValueError, EMPTY)
    assert outcome(cls().distance, 1, 1) == (ValueError, EMPTY)
    g = make(cls, 2, [(1, 2)])
    first, second = KINDS[cls]["path"]
    assert outcome(g.shortest_path, 9, 1) == (ValueError, first)
    assert outcome(g.distance, 1, 9) == (ValueError, second)
    assert outcome(g.distances, 9) == (ValueError, first if KINDS[cls]["path_from_first"] else second)
    assert outcome(g.distances, -1)[0] is OverflowError and outcome(g.shortest_path, 1, "2")[0] is TypeError
    assert g.shortest_path(1, 1) == [1] and g.distance(2, 2) == 0


def test_million_node_path_needs_no_deep_recursion():
    n, results = 1_000_000, {}
    chain = make(Digraph, n, zip(range(1, n), range(2, n + 1)))
    weighted = make(WeightedGraph, n, zip(range(1, n), range(2, n + 1)))

    def work():
        results["order"] = chain.topological_order() == list(range(1, n + 1))
        results["path"] = chain.distance(1, n) == n - 1 and weighted.shortest_path(n, 1)[::-1] == list(range(1, n + 1))
        results["components"] = chain.components() == [list(range(1, n + 1))]
        chain.add_edge(1, n)  # closing the cycle makes it one strong component
        results["strong"] = chain.strong_components() == [list(range(1, n + 1))]

    run_on_small_stack(work)
    assert results == dict.fromkeys(["order", "path", "components", "strong"], True)
