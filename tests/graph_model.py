"""A pure-Python model of the four pairwise graph classes, a hypothesis state
machine that runs every operation on a graph and the model side by side, and a
differential check against networkx on random graphs."""

from __future__ import annotations

import random
from functools import partialmethod

import networkx as nx
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, rule

from morvena import BaseGraph, Digraph, WeightedDigraph, WeightedGraph
from conftest import outcome

EMPTY = "No elements currently available in Graph"
XY = ("X node not found in current Graph", "Y node not found in current Graph")
UNDIRECTED = dict(directed=False, self_loops=True, path_from_first=True, add=XY, query=XY, path=XY,
                  self_edge="Cannot connect nodes to oneself", no_connection="No connection between x and y nodes")
TO_ID = ("To ID node not found in current Graph", "From ID node not found in current Graph")
KINDS = {
    BaseGraph: dict(UNDIRECTED, weighted=False),
    WeightedGraph: dict(UNDIRECTED, weighted=True),
    Digraph: dict(directed=True, weighted=False, self_loops=False, path_from_first=True,
                  add=("To_id node not found in current Graph", "From_id node not found in current Graph"),
                  query=("To_id node not found in present Graph", "From_id node not found in present Graph"),
                  path=XY, self_edge="Nodes cannot be connected to themselves",
                  no_connection="No connection between specified nodes"),
    WeightedDigraph: dict(directed=True, weighted=True, self_loops=True, path_from_first=False, add=TO_ID,
                          query=TO_ID, path=TO_ID, self_edge="Cannot connect nodes to oneself",
                          no_connection="No connection between x and y nodes"),
}


class Model:
    """Nodes in a dict (insertion order), each with a dict of neighbours in edge
    order; methods mirror the native ones, raising ValueError the same way."""

    def __init__(self, kind):
        # payload: id -> item; adj: id -> {neighbour id: weight (None when unweighted)}
        self.kind, self.payload, self.adj, self.next_id = kind, {}, {}, 1

    def _need(self, ids, messages=(None, None)):
        if not self.payload:
            raise ValueError(EMPTY)
        for i, message in zip(ids, messages):
            if i not in self.payload:
                raise ValueError(message)

    def _ends(self, a, b, which, allow_self=False):
        self._need((a, b), self.kind[which])
        if a == b and not allow_self:
            raise ValueError(self.kind["self_edge"])
        return (b, a) if self.kind["directed"] else (a, b)

    def insert(self, item):
        self.payload[self.next_id], self.adj[self.next_id] = item, {}
        self.next_id += 1
        return True

    def remove(self, key):
        self._need((key,), ("Value not found in Graph",))
        del self.adj[key]
        for nbrs in self.adj.values():
            nbrs.pop(key, None)
        return self.payload.pop(key)

    def is_empty(self):
        return not self.payload

    def keys(self):
        return self._need(()) or list(self.payload)

    def edges(self):
        return self._need(()) or list(self.payload.items())

    def extract(self, key):
        if key not in self.payload:  # no empty-graph error here
            raise ValueError("Value not found in Graph")
        return self.payload[key]

    def update(self, item, index):
        self._need((index,), ("Index not found in present Graph",))
        self.payload[index] = item

    def add_edge(self, a, b, weight=None):
        f, t = self._ends(a, b, "add", self.kind["self_loops"])
        self.adj[f][t] = weight
        if not self.kind["directed"]:
            self.adj[t][f] = weight

    def is_connected(self, a, b):
        f, t = self._ends(a, b, "query")
        return t in self.adj[f]

    def remove_edge(self, a, b):
        if not self.is_connected(a, b):
            raise ValueError(self.kind["no_connection"])
        f, t = self._ends(a, b, "query")
        del self.adj[f][t]
        if not self.kind["directed"]:
            self.adj[t].pop(f, None)

    def get_weight(self, a, b):
        if not self.is_connected(a, b):
            raise ValueError("X and Y nodes are not connected")
        f, t = self._ends(a, b, "query")
        return self.adj[f][t]

    def neighbours(self, index):
        self._need((index,), ("Index not found in present Graph",))
        return list(self.adj[index].items()) if self.kind["weighted"] else list(self.adj[index])

    def degree(self, id, weighted=False):
        self._need((id,), ("ID value not found in Graph",))
        return sum(self.adj[id].values(), 0.0) if weighted else len(self.adj[id])

    weighted_degree = partialmethod(degree, weighted=True)

    def _edges(self):
        for u, nbrs in self.adj.items():
            for v, w in nbrs.items():
                if self.kind["directed"] or v >= u:
                    yield u, v, w

    def edge_count(self):
        return self._need(()) or sum(1 for _ in self._edges())

    def total_weight(self):
        return self._need(()) or sum((w for _, _, w in self._edges()), 0.0)

    def density(self):
        n, factor = len(self.payload), 1 if self.kind["directed"] else 2
        return self._need(()) or (0.0 if n == 1 else factor * self.edge_count() / (n * (n - 1)))

    def _walk(self, start, return_value=None, depth_first=False):
        self._need((start,), ("Index value not found in Graph",))
        pending, seen, order = [start], {start}, []
        while pending:
            u = pending.pop() if depth_first else pending.pop(0)
            order.append(u)
            for v in self.adj[u]:
                if v not in seen:
                    seen.add(v)
                    pending.append(v)
        return [(u, self.payload[u]) for u in order] if return_value else order

    bfs_list, dfs_list = partialmethod(_walk, depth_first=False), partialmethod(_walk, depth_first=True)

    def has_path(self, a, b):
        self._need((a, b), self.kind["path"])
        source, target = (a, b) if self.kind["path_from_first"] else (b, a)
        return target in self._walk(source)

    def clear(self):
        if not self.payload:
            raise ValueError("Graph is already empty")
        self.payload, self.adj, self.next_id = {}, {}, 1

    def transpose(self):
        self._need(())
        t = Model(self.kind)
        t.payload, t.next_id, t.adj = dict(self.payload), self.next_id, {u: {} for u in self.adj}
        for u, v, w in self._edges():  # every edge: transpose exists only on the directed classes
            t.adj[v][u] = w
        return t

    def has_cycle(self):
        return self._need(()) or any(u in self._walk(v) for u in self.adj for v in self.adj[u])


def make(cls, n, edges=()):
    """A graph of n nodes with payloads "p1".."pn" and the given edges (weight 1.0)."""
    g = cls()
    for i in range(n):
        g.insert(f"p{i + 1}")
    for a, b in edges:
        # (a, b) is always the edge a -> b; the directed classes take (to_id, from_id).
        args = (b, a) if KINDS[cls]["directed"] else (a, b)
        g.add_edge(*args, *([1.0] if KINDS[cls]["weighted"] else []))
    return g


def ids(listing):
    """The ids of a neighbour listing, with or without weights."""
    return [x if isinstance(x, int) else x[0] for x in listing]


def snapshot(graph):
    """Everything the listing methods show of a graph (and of the model)."""
    if graph.is_empty():
        return []
    keys = graph.keys()
    return [keys, graph.edges(), [graph.neighbours(k) for k in keys], graph.edge_count()]


def machine_for(cls):
    kind = KINDS[cls]
    node_ids = st.integers(0, 7)
    weights = st.sampled_from([-1.5, 0.0, 2.0, 3.25, float("inf")])
    payloads = st.sampled_from(["a", "b", 7, None, (1, 2)])
    # The calls that take one or two ids, and those that take none.
    arity = dict.fromkeys(["remove", "extract", "degree", "neighbours"], 1)
    arity.update(dict.fromkeys(["is_connected", "has_path", "remove_edge"], 2))
    whole = ["edge_count", "clear"] + (["has_cycle"] if kind["directed"] else [])
    if kind["weighted"]:
        arity.update(weighted_degree=1, get_weight=2)
        whole += ["total_weight", "density"]

    class GraphMachine(RuleBasedStateMachine):
        def __init__(self):
            super().__init__()
            self.graph, self.model = cls(), Model(kind)

        def same(self, name, *args):
            real = outcome(lambda: getattr(self.graph, name)(*args))
            assert real == outcome(lambda: getattr(self.model, name)(*args)), (name, args)

        @rule(item=payloads)
        def insert(self, item):
            self.same("insert", item)

        @rule(name=st.sampled_from(sorted(arity)), a=node_ids, b=node_ids)
        def by_ids(self, name, a, b):
            self.same(name, *(a, b)[:arity[name]])

        @rule(name=st.sampled_from(whole))
        def whole_graph(self, name):
            self.same(name)

        @rule(a=node_ids, b=node_ids, weight=weights)
        def add_edge(self, a, b, weight):
            self.same("add_edge", a, b, *([weight] if kind["weighted"] else []))

        @rule(item=payloads, index=node_ids)
        def update(self, item, index):
            self.same("update", item, index)

        @rule(name=st.sampled_from(["bfs_list", "dfs_list"]), start=node_ids,
              with_payload=st.sampled_from([None, False, True]))
        def walks(self, name, start, with_payload):
            self.same(name, start, with_payload)

        if kind["directed"]:
            @rule()
            def transpose(self):
                real, model = outcome(self.graph.transpose), outcome(self.model.transpose)
                assert real[0] == model[0]
                if real[0] == "ok":
                    assert snapshot(real[1]) == snapshot(model[1])
                    assert real[1].insert("new") and real[1].keys()[-1] == model[1].next_id

        @invariant()
        def listings_agree(self):
            count = self.graph.node_coutn() if cls is BaseGraph else self.graph.node_count()
            assert count == len(self.model.payload)
            assert snapshot(self.graph) == snapshot(self.model)

    return GraphMachine


def random_pair(cls, seed, nodes=60, edges=180, lowest_weight=-3, dag=False):
    """The same random graph, with node and edge removals, as ours and as networkx's;
    with `dag` every edge runs from a lower to a higher node."""
    kind, rng = KINDS[cls], random.Random(seed)
    ours, theirs = cls(), (nx.DiGraph() if kind["directed"] else nx.Graph())
    for i in range(1, nodes + 1):
        ours.insert(i)
        theirs.add_node(i)
    for _ in range(edges):
        u, v = sorted(rng.sample(range(1, nodes + 1), 2)) if dag else (rng.randint(1, nodes), rng.randint(1, nodes))
        if u == v and not kind["self_loops"]:
            continue
        w = float(rng.randint(lowest_weight, 9))
        ours.add_edge(*((v, u) if kind["directed"] else (u, v)), *([w] if kind["weighted"] else []))
        theirs.add_edge(u, v, weight=w)
    for u in rng.sample(range(1, nodes + 1), nodes // 8):
        assert ours.remove(u) == u
        theirs.remove_node(u)
    for u, v in rng.sample(sorted(theirs.edges()), len(theirs.edges()) // 6):
        if u != v:
            ours.remove_edge(*((v, u) if kind["directed"] else (u, v)))
            theirs.remove_edge(u, v)
    return ours, theirs
