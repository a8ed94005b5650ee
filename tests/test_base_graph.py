"""BaseGraph, and the node, id, ordering and ownership rules that the four
pairwise graph classes share (parametrized over all of them)."""

import networkx as nx
import pytest

from morvena import BaseGraph, Digraph, WeightedDigraph, WeightedGraph
from conftest import IndexCallsBack, assert_no_leak, assert_refused, same_refcount
from graph_model import KINDS, ids, machine_for, make, random_pair, snapshot

GRAPHS = [BaseGraph, Digraph, WeightedGraph, WeightedDigraph]


@pytest.mark.parametrize("cls", GRAPHS)
def test_listing_order_is_insertion_and_edge_order(cls):
    g = make(cls, 6, [(1, 4), (1, 2), (1, 6), (2, 3), (4, 5)])
    assert g.bfs_list(1) == [1, 4, 2, 6, 5, 3]
    # The stack takes the last pushed neighbour first: 6, then 2 and what 2 reaches, then 4.
    assert g.dfs_list(1) == [1, 6, 2, 3, 4, 5]
    g.remove(2)
    assert g.keys() == [1, 3, 4, 5, 6] and g.bfs_list(1, True) == [(1, "p1"), (4, "p4"), (6, "p6"), (5, "p5")]


@pytest.mark.parametrize("cls", [BaseGraph, WeightedGraph, WeightedDigraph])
def test_self_loop_is_one_edge(cls):
    g = make(cls, 2, [(1, 1), (1, 2)])
    assert g.edge_count() == 2 and g.degree(1) == 2 and g.has_path(1, 1)
    assert hasattr(g, "node_count") != (cls is BaseGraph)
    g.remove(2)
    assert g.edge_count() == 1 and g.degree(1) == 1


@pytest.mark.parametrize("cls", GRAPHS)
@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda g: g.remove(-1), OverflowError, "can't convert negative int to unsigned"),
        (lambda g: g.extract("1"), TypeError, "argument 'key': 'str' object cannot be interpreted as an integer"),
        (lambda g: g.degree(1.0), TypeError, "argument 'id': 'float' object cannot be interpreted as an integer"),
        (lambda g: g.bfs_list(1, 1), TypeError, "argument 'return_value': 'int' object cannot be converted to 'PyBool'"),
        (lambda g: g.dfs_list(start_id=1, return_value="yes"), TypeError, "argument 'return_value': "),
    ],
)
def test_bad_input_changes_nothing(cls, call, error, message):
    g = make(cls, 3, [(1, 2), (2, 3)])
    before = snapshot(g)
    with pytest.raises(error) as info:
        call(g)
    assert str(info.value).startswith(message) and snapshot(g) == before


@pytest.mark.parametrize("cls", GRAPHS)
def test_payload_references(cls):
    item, other, kind = object(), object(), KINDS[cls]
    with same_refcount(item, other):
        g = make(cls, 0)
        g.insert(item)
        g.insert(item)
        assert g.extract(1) is item and g.bfs_list(1, True) == [(1, item)] and g.edges() == [(1, item), (2, item)]
        assert not kind["directed"] or g.transpose().extract(2) is item
        g.update(other, 2)
        assert g.remove(1) is item
        g.clear()
        g.insert(other)
        del g

    def churn():
        g = make(cls, 4, [(1, 2), (2, 3), (3, 1), (4, 4)] if kind["self_loops"] else [(1, 2), (2, 3)])
        g.remove(2)
        g.add_edge(3, 4, *([2.0] if kind["weighted"] else []))
        kind["directed"] and g.transpose()
        g.clear()

    assert_no_leak(churn, rounds=300)


@pytest.mark.parametrize("cls", GRAPHS)
def test_finaliser_calling_back_is_refused(cls):
    g, errors = cls(), []

    class CallsBack:
        def __del__(self):
            try:
                g.keys()
            except RuntimeError as error:
                errors.append(str(error))

    g.insert(CallsBack())
    g.update(CallsBack(), 1)
    g.clear()
    assert errors == ["Already mutably borrowed"] * 2 and g.is_empty()


@pytest.mark.parametrize("cls", GRAPHS)
def test_extract_borrows_exclusively(cls):
    g = make(cls, 1, [])
    key = IndexCallsBack(g.keys, result=1)
    assert g.extract(key) == "p1"
    assert_refused(key, "Already mutably borrowed")


@pytest.mark.parametrize("cls", GRAPHS)
# Sparse graphs scan neighbour vectors; dense ones (degree past 32) index them.
@pytest.mark.parametrize("seed, nodes, edges", [(0, 60, 180), (1, 60, 180), (2, 45, 1400), (3, 40, 1000)])
def test_traversals_match_networkx(cls, seed, nodes, edges):
    ours, theirs = random_pair(cls, seed, nodes, edges)
    directed = KINDS[cls]["directed"]
    assert ours.edge_count() == theirs.number_of_edges() and ours.keys() == list(theirs.nodes)
    for node in theirs.nodes:
        assert ids(ours.neighbours(node)) == list(theirs.adj[node]) and ours.degree(node) == len(theirs.adj[node])
        reached = nx.descendants(theirs, node) if directed else nx.node_connected_component(theirs, node) - {node}
        bfs = ours.bfs_list(node)
        assert bfs == [node] + [v for _, v in nx.bfs_edges(theirs, node)]
        assert sorted(ours.dfs_list(node)) == sorted(bfs) == sorted(reached | {node})
        distance = nx.single_source_shortest_path_length(theirs, node)
        assert all(distance[a] <= distance[b] for a, b in zip(bfs, bfs[1:]))
    nodes = list(theirs.nodes)
    for a, b in zip(nodes, reversed(nodes)):
        query = (b, a) if cls is WeightedDigraph else (a, b)
        assert ours.has_path(*query) == nx.has_path(theirs, a, b)
    if KINDS[cls]["weighted"]:
        assert ours.total_weight() == pytest.approx(theirs.size(weight="weight"))


def test_long_path_is_iterative():
    n = 1_000_000
    g = make(BaseGraph, n, zip(range(1, n), range(2, n + 1)))
    assert g.has_path(1, n) and g.dfs_list(1)[-1] == n and len(g.bfs_list(n)) == n
    for node in range(2, n + 1, 2):
        g.remove(node)
    assert g.edge_count() == 0 and not g.has_path(1, 3)


TestBaseGraphModel = machine_for(BaseGraph).TestCase
