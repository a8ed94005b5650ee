"""Digraph against networkx and rustworkx on one random graph (100,000 nodes and
500,000 edges at full size): building it call by call, the full traversals, the
DAG check, the transpose, a far reachability query and node removal; and
BaseGraph built call by call from the same edges.

The graph is a DAG whose edges run from lower to higher node numbers and that
includes a spanning tree from node 0, so a traversal from 0 reaches every node
and the cycle test must scan everything. Our ids are the node numbers plus one.

`python -m morvena.bench.graphs` prints the memory each library needs per node
and per edge, each measured in a fresh interpreter.
"""

from __future__ import annotations

import functools
import os
import random
import subprocess
import sys

from morvena import BaseGraph, Digraph
from morvena.bench import Workload

EDGES_PER_NODE = 5


@functools.lru_cache(maxsize=2)
def _packed_edges(n):
    """Edges a -> b (a < b) packed as a * n + b, in a random order."""
    rng = random.Random(n)
    edges = {rng.randrange(b) * n + b for b in range(1, n)}
    while len(edges) < EDGES_PER_NODE * n:
        a, b = rng.randrange(n), rng.randrange(n)
        if a != b:
            edges.add(min(a, b) * n + max(a, b))
    edges = list(edges)
    rng.shuffle(edges)
    return edges


# Each side gets its pairs built the same way, in the final order, so neither
# iterates over objects laid out more favourably in memory than the other's.
@functools.lru_cache(maxsize=2)
def _edges(n):
    return [(p // n, p % n) for p in _packed_edges(n)]


@functools.lru_cache(maxsize=2)
def _our_edges(n):
    """The edges as our (to_id, from_id) arguments."""
    return [(p % n + 1, p // n + 1) for p in _packed_edges(n)]


def _build_ours(n, directed=True):
    g = Digraph() if directed else BaseGraph()
    insert, add_edge = g.insert, g.add_edge
    for i in range(n):
        insert(i)
    for to_id, from_id in _our_edges(n):
        add_edge(to_id, from_id)
    return g


def _build_nx(n, directed=True):
    import networkx as nx

    g = nx.DiGraph() if directed else nx.Graph()
    add_node, add_edge = g.add_node, g.add_edge
    for i in range(n):
        add_node(i)
    for a, b in _edges(n):
        add_edge(a, b)
    return g


def _build_rx(n, directed=True):
    import rustworkx as rx

    g = rx.PyDiGraph() if directed else rx.PyGraph()
    add_node, add_edge = g.add_node, g.add_edge
    for i in range(n):
        add_node(i)
    for a, b in _edges(n):
        add_edge(a, b, None)
    return g


BUILDERS = {"ours": _build_ours, "networkx": _build_nx, "rustworkx": _build_rx}
# The same edges as undirected graphs (BaseGraph's add_edge takes either order).
BUILDERS.update({f"{side} undirected": functools.partial(build, directed=False) for side, build in BUILDERS.items()})


@functools.lru_cache(maxsize=3)
def _graph(side, n):
    """One shared graph per library for the read-only workloads."""
    return BUILDERS[side](n)


def _building(side):
    def setup(n):
        _edges(n), _our_edges(n)
        return lambda: BUILDERS[side](n)

    return setup


def _reading(side, make_call):
    """A workload that times one call on the shared graph."""

    def setup(n):
        return make_call(_graph(side, n), n)

    return setup


def _nx_bfs(g, n):
    import networkx as nx

    return lambda: [0] + [v for _, v in nx.bfs_edges(g, 0)]


def _nx_dfs(g, n):
    import networkx as nx

    return lambda: list(nx.dfs_preorder_nodes(g, 0))


def _nx_dag(g, n):
    import networkx as nx

    return lambda: nx.is_directed_acyclic_graph(g)


def _nx_has_path(g, n):
    import networkx as nx

    return lambda: nx.has_path(g, 0, n - 1)


def _rx(function, *args):
    def make(g, n):
        import rustworkx as rx

        call = getattr(rx, function)
        actual = [n - 1 if a == "far" else a for a in args]
        # rustworkx returns lazy sequences; materialise them as our lists are.
        return lambda: list(call(g, *actual))

    return make


def _rx_dag(g, n):
    import rustworkx as rx

    return lambda: rx.is_directed_acyclic_graph(g)


def _rx_has_path(g, n):
    import rustworkx as rx

    return lambda: rx.has_path(g, 0, n - 1)


def _rx_transpose(g, n):
    def run():
        reversed_graph = g.copy()
        reversed_graph.reverse()
        return reversed_graph

    return run


def _removing(side, remove, first_id=0):
    """Removes n random nodes from a fresh graph of GRAPH_PER_REMOVAL * n nodes."""

    def setup(n):
        size = n * GRAPH_PER_REMOVAL
        g = BUILDERS[side](size)
        victims = [first_id + v for v in random.Random(7).sample(range(size), n)]

        def run():
            for node in victims:
                remove(g, node)

        return run

    return setup


GRAPH_PER_REMOVAL = 100
N, QUICK = 100_000, 2_000


def _graph_workloads(name, ours, nx_peer, nx_name, rx_peer, rx_name, nx_target=0.1, rx_target=1.0, size=N,
                     quick=QUICK):
    rows = [Workload(name, nx_name, size, ours, nx_peer, target=nx_target, requires="networkx", quick_size=quick)]
    if rx_peer:
        rows.append(Workload(name, rx_name, size, ours, rx_peer, target=rx_target, requires="rustworkx",
                             quick_size=quick))
    return rows


WORKLOADS = [
    *_graph_workloads("Digraph insert+add_edge", _building("ours"), _building("networkx"), "nx add_node+add_edge",
                      _building("rustworkx"), "rx add_node+add_edge", rx_target=1.2),
    *_graph_workloads("Digraph.bfs_list", _reading("ours", lambda g, n: lambda: g.bfs_list(1)),
                      _reading("networkx", _nx_bfs), "nx.bfs_edges", _reading("rustworkx", _rx("bfs_layers", [0])),
                      "rx.bfs_layers"),
    *_graph_workloads("Digraph.dfs_list", _reading("ours", lambda g, n: lambda: g.dfs_list(1)),
                      _reading("networkx", _nx_dfs), "nx.dfs_preorder_nodes",
                      _reading("rustworkx", _rx("dfs_edges", 0)), "rx.dfs_edges"),
    *_graph_workloads("Digraph.has_cycle (DAG)", _reading("ours", lambda g, n: g.has_cycle),
                      _reading("networkx", _nx_dag), "nx.is_directed_acyclic_graph",
                      _reading("rustworkx", _rx_dag), "rx.is_directed_acyclic_graph"),
    *_graph_workloads("Digraph.transpose", _reading("ours", lambda g, n: g.transpose),
                      _reading("networkx", lambda g, n: g.reverse), "nx DiGraph.reverse",
                      _reading("rustworkx", _rx_transpose), "rx copy+reverse"),
    *_graph_workloads("Digraph.has_path (far)", _reading("ours", lambda g, n: lambda: g.has_path(1, n)),
                      _reading("networkx", _nx_has_path), "nx.has_path",
                      _reading("rustworkx", _rx_has_path), "rx.has_path", rx_target=None),
    *_graph_workloads("Digraph.remove", _removing("ours", lambda g, v: g.remove(v), first_id=1),
                      _removing("networkx", lambda g, v: g.remove_node(v)), "nx remove_node",
                      _removing("rustworkx", lambda g, v: g.remove_node(v)), "rx remove_node", rx_target=None,
                      size=1_000, quick=20),
    *_graph_workloads("BaseGraph insert+add_edge", _building("ours undirected"), _building("networkx undirected"),
                      "nx Graph add_node+add_edge", _building("rustworkx undirected"), "rx PyGraph add_node+add_edge",
                      rx_target=1.2),
]


# ---------------------------------------------------------------------------
# Memory, measured as the growth of the resident set in a fresh interpreter, so
# that native allocations (ours, rustworkx's) count as well as Python objects.

def _resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def _measure(side, n):
    edges = _edges(n)
    import networkx  # noqa: F401 - imported before the baseline by every side alike
    import rustworkx  # noqa: F401

    # Payloads are None where a library has them; networkx's nodes are their own keys.
    add_node, add_edge = {
        "ours": lambda g, i: g.insert(None),
        "networkx": lambda g, i: g.add_node(i),
        "rustworkx": lambda g, i: g.add_node(None),
    }[side], {
        "ours": lambda g, a, b: g.add_edge(b + 1, a + 1),
        "networkx": lambda g, a, b: g.add_edge(a, b),
        "rustworkx": lambda g, a, b: g.add_edge(a, b, None),
    }[side]
    base = _resident_bytes()
    g = {"ours": Digraph, "networkx": networkx.DiGraph, "rustworkx": rustworkx.PyDiGraph}[side]()
    for i in range(n):
        add_node(g, i)
    nodes = _resident_bytes()
    for a, b in edges:
        add_edge(g, a, b)
    done = _resident_bytes()
    print((nodes - base) / n, (done - nodes) / len(edges))


def memory_report(n=N):
    print(f"{'library':<10} {'bytes/node':>11} {'bytes/edge':>11}   ({n} nodes, {EDGES_PER_NODE * n} edges)")
    for side in ("ours", "networkx", "rustworkx"):
        out = subprocess.run([sys.executable, "-m", "morvena.bench.graphs", "--measure", side, str(n)], check=True,
                             capture_output=True, text=True).stdout.split()
        print(f"{side:<10} {float(out[0]):>11.1f} {float(out[1]):>11.1f}")


if __name__ == "__main__":
    if sys.argv[1:2] == ["--measure"]:
        _measure(sys.argv[2], int(sys.argv[3]))
    else:
        memory_report(int(sys.argv[1]) if len(sys.argv) > 1 else N)
