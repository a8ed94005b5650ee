import math
import random
import struct

import pytest
from hypothesis import settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, rule

from conftest import IndexCallsBack, assert_no_leak, outcome, same_refcount
from morvena import HyperGraph

NO_NODES = "No elements currently available in Graph"
NO_EDGES = "No hyper edges currently available in Graph"


def need(cond, message):
    if not cond:
        raise ValueError(message)


class Model:
    """Dicts as ordered sets: the graph lists everything in insertion order."""

    def __init__(self):
        self.nodes, self.edges, self.joined, self.next_id = {}, {}, {}, 1

    def insert(self, payload):
        self.nodes[self.next_id] = payload
        self.next_id += 1
        return True

    def _known(self, key):
        need(self.nodes, NO_NODES)
        need(key in self.nodes, "Value not found in graph")

    def remove(self, key):
        self._known(key)
        for e in self.joined.pop(key, {}):
            del self.edges[e][key]
        return self.nodes.pop(key)

    def update(self, payload, key):
        self._known(key)
        self.nodes[key] = payload

    def add_edge(self, e, vertices):
        need(self.nodes, NO_NODES)
        need(e not in self.edges, f"Edge {e} already exists!")
        for v in vertices or ():
            need(v in self.nodes, f"Node with ID {v} does not exist in Graph")
        self.edges[e] = {}
        for v in vertices or ():
            self.connect(e, v)

    def remove_edge(self, e):
        for v in self.edges.get(e, ()):
            self._leave(v, e)
        return self.edges.pop(e, None) is not None

    def _leave(self, v, e):
        self.joined.get(v, {}).pop(e, None)
        if v in self.joined and not self.joined[v]:
            del self.joined[v]

    def _edge_and_node(self, e, v):
        need(e in self.edges, f"Edge with ID {e} not found!")
        need(v in self.nodes, f"Node with ID {v} not found!")

    def connect(self, e, v):
        self._edge_and_node(e, v)
        self.edges[e][v] = None
        self.joined.setdefault(v, {})[e] = None

    def disconnect(self, e, v):
        self._edge_and_node(e, v)
        self.edges[e].pop(v, None)
        self._leave(v, e)

    def is_connected(self, e, v):
        need(self.nodes, NO_NODES)
        need(v in self.nodes, f"Node with ID {v} not found!")
        need(self.edges, "No hyper-edges currently available in Graph")
        need(e in self.edges, f"Hyper edge with ID {e} not found!")
        return v in self.edges[e]

    def edges_of(self, v):
        need(self.edges, NO_EDGES)
        need(v in self.joined, f"Node with ID {v} not found in graph!")
        return list(self.joined[v])

    def nodes_of(self, e):
        need(self.nodes, "No nodes currently available in Graph")
        need(e in self.edges, f"Edge with ID {e} not found in Graph!")
        return list(self.edges[e])

    def intersection(self, e1, e2):
        for e in (e1, e2):
            need(e in self.edges, f"Hyper edge with ID {e} not found in Graph")
        small, big = sorted((self.edges[e1], self.edges[e2]), key=len)
        return [v for v in small if v in big]

    def degree(self, v):
        need(v in self.joined, f"Node with ID {v} not found in Graph")
        return len(self.joined[v])

    def edge_size(self, e):
        need(e in self.edges, f"Hyperedge with ID {e} not found in Graph!")
        return len(self.edges[e])


node_ids = st.integers(0, 5)
edge_ids = st.sampled_from(["e", "f", "é", ""])


class HyperGraphMachine(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.graph, self.model = HyperGraph(), Model()

    def same(self, method, *args):
        assert outcome(getattr(self.graph, method), *args) == outcome(getattr(self.model, method), *args)

    @initialize(count=st.integers(0, 5), edges=st.lists(st.tuples(edge_ids, st.lists(node_ids, max_size=3)), max_size=3))
    def populate(self, count, edges):  # most calls need nodes, edges and memberships to exist
        for call in [("insert", p) for p in range(count)] + [("add_edge", *e) for e in edges]:
            self.same(*call)

    @rule(call=st.one_of(
        st.tuples(st.just("insert"), st.integers()),
        st.tuples(st.just("remove"), node_ids),
        st.tuples(st.just("update"), st.integers(), node_ids),
        st.tuples(st.just("add_edge"), edge_ids, st.none() | st.lists(node_ids, max_size=4)),
        st.tuples(st.just("remove_edge"), edge_ids),
        st.tuples(st.sampled_from(["connect", "disconnect"]), edge_ids, node_ids)))
    def change(self, call):
        self.same(*call)

    @rule(e=edge_ids, e2=edge_ids, v=node_ids)
    def queries(self, e, e2, v):
        for method, args in [("is_connected", (e, v)), ("edges_of", (v,)), ("nodes_of", (e,)),
                             ("intersection", (e, e2)), ("degree", (v,)), ("edge_size", (e,))]:
            self.same(method, *args)

    @rule()
    def clear(self):
        self.graph.clear()
        self.model = Model()

    @invariant()
    def listings_and_counts(self):
        m, g = self.model, self.graph
        assert g.is_empty() == (not m.nodes)
        assert outcome(g.keys) == (("ok", list(m.nodes)) if m.nodes else (ValueError, NO_NODES))
        assert outcome(g.edges) == (("ok", list(m.edges)) if m.edges else (ValueError, NO_EDGES))
        assert outcome(g.edge_count) == (("ok", len(m.edges)) if m.edges else (ValueError, NO_EDGES))
        assert outcome(g.node_count) == (("ok", len(m.nodes)) if m.nodes else (ValueError, NO_NODES))
        degrees = [len(j) for j in m.joined.values()]
        assert (g.max_degree(), g.min_degree()) == (max(degrees, default=0), min(degrees, default=0))
        single = struct.unpack("f", struct.pack("f", sum(degrees) / len(degrees)))[0] if degrees else None
        assert math.isnan(g.average_degree()) if single is None else g.average_degree() == single
        for key, payload in m.nodes.items():
            assert g.extract(key) == payload and g.contains(key)


TestHyperGraphModel = HyperGraphMachine.TestCase
TestHyperGraphModel.settings = settings(max_examples=150, stateful_step_count=40, deadline=None)


def test_argument_errors():
    g = HyperGraph()
    g.insert(0)
    with pytest.raises(TypeError, match="^argument 'vertices': Can't extract `str` to `Vec`$"):
        g.add_edge("e", "12")
    with pytest.raises(TypeError, match="^argument 'edge_id': 'int' object cannot be converted to 'PyString'$"):
        g.edge_size(5)
    with pytest.raises(OverflowError):
        g.contains(-1)


@pytest.mark.parametrize("seed", range(3))
def test_large_churn_keeps_order(seed):
    # Enough inserts and removals to grow, shrink and repack every table.
    rng, g, m = random.Random(seed), HyperGraph(), Model()

    def both(method, *args):
        assert getattr(g, method)(*args) == getattr(m, method)(*args)

    edges = [f"e{i}" for i in range(40)]
    for _ in range(3000):
        both("insert", 0)
    for e in edges:
        both("add_edge", e, None)
    for _ in range(6000):
        v, e, action = rng.randrange(1, 3001), rng.choice(edges), rng.random()
        if v in m.nodes:
            both(*(("connect", e, v) if action < 0.5 else ("disconnect", e, v) if action < 0.8 else ("remove", v)))
    # Most entries gone, then new ones: the tables repack without losing order.
    for v in list(m.nodes)[: 2 * len(m.nodes) // 3]:
        both("remove", v)
    survivors = list(m.nodes)
    for e in edges:
        both("insert", e)
        both("connect", e, rng.choice(survivors))
    assert g.keys() == list(m.nodes)
    assert all(g.nodes_of(e) == m.nodes_of(e) for e in edges)
    assert all(g.edges_of(v) == m.edges_of(v) for v in list(m.joined)[::50])


def test_extract_is_a_reading_method():
    g = HyperGraph()
    g.insert("payload")
    seen = []
    key = IndexCallsBack(lambda: seen.append(g.keys()), result=1)
    assert g.extract(key) == "payload" and seen == [[1]] and key.errors == []


def test_payload_references():
    payload, other = object(), object()
    with same_refcount(payload, other):
        g = HyperGraph()
        g.insert(payload), g.insert(payload)
        g.update(other, 1)
        assert g.extract(2) is payload and g.remove(1) is other
        g.clear()
        g.insert(payload)
        del g

    def cycle():
        g = HyperGraph()
        for i in range(20):
            g.insert(i)
        g.add_edge("e", range(1, 21))
        g.remove_edge("e"), g.remove(3)

    assert_no_leak(cycle, rounds=300)
