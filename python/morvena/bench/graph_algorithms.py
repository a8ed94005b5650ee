"""Shortest paths, topological order and components against networkx and
rustworkx, on the random graph of the graph tour (100,000 nodes, 500,000 edges
at full size; a DAG with a spanning tree from node 0, see graphs.py).

Shortest paths run on a weighted copy (weights drawn from 1..100 with a fixed
seed) from node 0, which reaches every node; rustworkx reads the weight through
its edge-cost callback, as its API requires. Undirected components use the
same edges without their direction. Every peer's result is materialised as the
list or dict ours returns.
"""

from __future__ import annotations

import functools
import random

from morvena import BaseGraph, Digraph, WeightedDigraph
from morvena.bench.graphs import N, QUICK, _edges, _graph_workloads, _our_edges


@functools.lru_cache(maxsize=2)
def _weights(n):
    rng = random.Random(n + 1)
    return [float(rng.randint(1, 100)) for _ in _edges(n)]


def _build(side, n, weighted=False, directed=True):
    """One graph per (library, kind), built once and shared by the workloads."""
    import networkx as nx
    import rustworkx as rx

    weights = _weights(n) if weighted else [None] * len(_edges(n))
    if side == "ours":
        g = (WeightedDigraph if weighted else Digraph if directed else BaseGraph)()
        for i in range(n):
            g.insert(i)
        for (to_id, from_id), w in zip(_our_edges(n), weights):
            g.add_edge(to_id, from_id, *([w] if weighted else []))
    elif side == "networkx":
        g = nx.DiGraph() if directed else nx.Graph()
        g.add_nodes_from(range(n))
        for (a, b), w in zip(_edges(n), weights):
            g.add_edge(a, b, weight=w)
    else:
        g = rx.PyDiGraph() if directed else rx.PyGraph()
        g.add_nodes_from(range(n))
        g.add_edges_from([(a, b, w) for (a, b), w in zip(_edges(n), weights)])
    return g


_graph = functools.lru_cache(maxsize=None)(_build)


def _on(side, call, **kind):
    """A workload timing call(graph, n) on the shared graph of that kind."""

    def setup(n):
        g = _graph(side, n, **kind)
        return lambda: call(g, n)

    return setup


def _nx(name, *args, **kwargs):
    def call(g, n):
        import networkx as nx

        return getattr(nx, name)(g, *args, **kwargs)

    return call


def _rx(name, *args):
    def call(g, n):
        import rustworkx as rx

        return getattr(rx, name)(g, *args)

    return call


WEIGHTED = dict(weighted=True)
UNDIRECTED = dict(directed=False)


def _rows(name, ours, nx_call, nx_name, rx_call, rx_name, **kind):
    return _graph_workloads(name, _on("ours", ours, **kind), _on("networkx", nx_call, **kind), nx_name,
                            _on("rustworkx", rx_call, **kind), rx_name, size=N, quick=QUICK)


WORKLOADS = [
    *_rows("WeightedDigraph.distances", lambda g, n: g.distances(1),
           lambda g, n: dict(_nx("single_source_dijkstra_path_length", 0)(g, n)), "nx.single_source_dijkstra_p_l",
           lambda g, n: dict(_rx("dijkstra_shortest_path_lengths", 0, float)(g, n)), "rx.dijkstra_shortest_path_lengths",
           **WEIGHTED),
    *_rows("WeightedDigraph.shortest_path (far)", lambda g, n: g.shortest_path(n, 1),
           lambda g, n: _nx("dijkstra_path", 0, n - 1)(g, n), "nx.dijkstra_path",
           lambda g, n: list(_rx("dijkstra_shortest_paths", 0, n - 1, float)(g, n)[n - 1]), "rx.dijkstra_shortest_paths",
           **WEIGHTED),
    *_rows("Digraph.distances", lambda g, n: g.distances(1),
           lambda g, n: dict(_nx("single_source_shortest_path_length", 0)(g, n)), "nx.single_source_shortest_p_l",
           lambda g, n: dict(_rx("dijkstra_shortest_path_lengths", 0, lambda _: 1.0)(g, n)), "rx.dijkstra (unit cost)"),
    *_rows("Digraph.topological_order", lambda g, n: g.topological_order(),
           lambda g, n: list(_nx("topological_sort")(g, n)), "nx.topological_sort",
           lambda g, n: list(_rx("topological_sort")(g, n)), "rx.topological_sort"),
    *_rows("Digraph.components", lambda g, n: g.components(),
           lambda g, n: list(_nx("weakly_connected_components")(g, n)), "nx.weakly_connected_components",
           lambda g, n: _rx("weakly_connected_components")(g, n), "rx.weakly_connected_components"),
    *_rows("Digraph.strong_components", lambda g, n: g.strong_components(),
           lambda g, n: list(_nx("strongly_connected_components")(g, n)), "nx.strongly_connected_components",
           lambda g, n: _rx("strongly_connected_components")(g, n), "rx.strongly_connected_components"),
    *_rows("BaseGraph.components", lambda g, n: g.components(),
           lambda g, n: list(_nx("connected_components")(g, n)), "nx.connected_components",
           lambda g, n: _rx("connected_components")(g, n), "rx.connected_components", **UNDIRECTED),
]
