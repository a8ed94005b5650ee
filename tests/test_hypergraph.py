import math
import random
import struct

import pytest
from hypothesis import settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, rule

from conftest import assert_no_leak, same_refcount
from morvena import HyperGraph

NO_NODES = "No elements currently available in Graph"
NO_EDGES = "No hyper edges currently available in Graph"


class Model:
    """Dicts as ordered sets: the graph lists everything in insertion order."""

    def __init__(self):
        self.nodes, self.edges, self.joined, self.next_id = {}, {}, {}, 1

    def insert(self, payload):
        self.nodes[self.next_id] = payload
        self.next_id += 1
        return True

    @staticmethod
    def _need(cond, message):
        if not cond:
            raise ValueError(message)

    def remove(self, key):
        self._need(self.nodes, NO_NODES)
        self._need(key in self.nodes, "Value not found in graph")
        for e in self.joined.pop(key, {}):
            del self.edges[e][key]
        return self.nodes.pop(key)

    def update(self, payload, key):
        self._need(self.nodes, NO_NODES)
        self._need(key in self.nodes, "Value not found in graph")
        self.nodes[key] = payload

    def add_edge(self, e, vertices):
        self._need(self.nodes, NO_NODES)
        self._need(e not in self.edges, f"Edge {e} already exists!")
        for v in vertices or ():
            self._need(v in self.nodes, f"Node with ID {v} does not exist in Graph")
        self.edges[e] = dict.fromkeys(vertices or ())
        for v in self.edges[e]:
            self.joined.setdefault(v, {})[e] = None

    def remove_edge(self, e):
        if e not in self.edges:
            return False
        for v in self.edges.pop(e):
            self._leave(v, e)
        return True

    def _leave(self, v, e):
        self.joined.get(v, {}).pop(e, None)
        if v in self.joined and not self.joined[v]:
            del self.joined[v]

    def _edge_and_node(self, e, v):
        self._need(e in self.edges, f"Edge with ID {e} not found!")
        self._need(v in self.nodes, f"Node with ID {v} not found!")

    def connect(self, e, v):
        self._edge_and_node(e, v)
        self.edges[e][v] = None
        self.joined.setdefault(v, {})[e] = None

    def disconnect(self, e, v):
        self._edge_and_node(e, v)
        self.edges[e].pop(v, None)
        self._leave(v, e)

    def is_connected(self, e, v):
        self._need(self.nodes, NO_NODES)
        self._need(v in self.nodes, f"Node with ID {v} not found!")
        self._need(self.edges, "No hyper-edges currently available in Graph")
        self._need(e in self.edges, f"Hyper edge with ID {e} not found!")
        return v in self.edges[e]

    def edges_of(self, v):
        self._need(self.edges, NO_EDGES)
        self._need(v in self.joined, f"Node with ID {v} not found in graph!")
        return list(self.joined[v])

    def nodes_of(self, e):
        self._need(self.nodes, "No nodes currently available in Graph")
        self._need(e in self.edges, f"Edge with ID {e} not found in Graph!")
        return list(self.edges[e])

    def intersection(self, e1, e2):
        for e in (e1, e2):
            self._need(e in self.edges, f"Hyper edge with ID {e} not found in Graph")
        small, big = self.edges[e1], self.edges[e2]
        if len(big) < len(small):
            small, big = big, small
        return [v for v in small if v in big]

    def degree(self, v):
        self._need(v in self.joined, f"Node with ID {v} not found in Graph")
        return len(self.joined[v])

    def edge_size(self, e):
        self._need(e in self.edges, f"Hyperedge with ID {e} not found in Graph!")
        return len(self.edges[e])


def float32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def outcome(call, *args):
    try:
        return ("ok", call(*args))
    except ValueError as error:
        return ("error", str(error))


node_ids = st.integers(0, 8)
edge_ids = st.sampled_from(["e", "f", "g", "é", ""])


class HyperGraphMachine(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.graph, self.model = HyperGraph(), Model()

    def same(self, method, *args):
        assert outcome(getattr(self.graph, method), *args) == outcome(getattr(self.model, method), *args)

    @rule(payload=st.integers())
    def insert(self, payload):
        self.same("insert", payload)

    @rule(key=node_ids)
    def remove(self, key):
        self.same("remove", key)

    @rule(e=edge_ids, vertices=st.none() | st.lists(node_ids, max_size=4))
    def add_edge(self, e, vertices):
        self.same("add_edge", e, vertices)

    @rule(e=edge_ids)
    def remove_edge(self, e):
        self.same("remove_edge", e)

    @rule(e=edge_ids, v=node_ids, join=st.booleans())
    def connect_or_disconnect(self, e, v, join):
        self.same("connect" if join else "disconnect", e, v)

    @rule(e=edge_ids, e2=edge_ids, v=node_ids)
    def queries(self, e, e2, v):
        for method, args in [("is_connected", (e, v)), ("edges_of", (v,)), ("nodes_of", (e,)),
                             ("intersection", (e, e2)), ("degree", (v,)), ("edge_size", (e,))]:
            self.same(method, *args)

    @rule(payload=st.integers(), key=node_ids)
    def update(self, payload, key):
        self.same("update", payload, key)

    @rule()
    def clear(self):
        self.graph.clear()
        self.model = Model()

    @invariant()
    def listings_and_counts(self):
        m, g = self.model, self.graph
        assert g.is_empty() == (not m.nodes)
        assert outcome(g.keys) == (("ok", list(m.nodes)) if m.nodes else ("error", NO_NODES))
        assert outcome(g.edges) == (("ok", list(m.edges)) if m.edges else ("error", NO_EDGES))
        assert outcome(g.edge_count) == (("ok", len(m.edges)) if m.edges else ("error", NO_EDGES))
        assert outcome(g.node_count) == (("ok", len(m.nodes)) if m.nodes else ("error", NO_NODES))
        degrees = [len(j) for j in m.joined.values()]
        assert (g.max_degree(), g.min_degree()) == (max(degrees, default=0), min(degrees, default=0))
        average = g.average_degree()
        assert math.isnan(average) if not degrees else average == float32(sum(degrees) / len(degrees))
        for key, payload in m.nodes.items():
            assert g.extract(key) == payload and g.contains(key)


TestHyperGraphModel = HyperGraphMachine.TestCase
TestHyperGraphModel.settings = settings(max_examples=150, stateful_step_count=40, deadline=None)


def test_average_degree_is_single_precision():
    g = HyperGraph()
    for p in range(4):
        g.insert(p)
    assert math.isnan(g.average_degree())
    g.add_edge("e", [1, 2, 3])
    g.add_edge("f", [3])
    assert g.average_degree() == 1.3333333730697632


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
    rng = random.Random(seed)
    g, m = HyperGraph(), Model()
    for _ in range(3000):
        g.insert(0)
        m.insert(0)
    edges = [f"e{i}" for i in range(40)]
    for e in edges:
        g.add_edge(e)
        m.add_edge(e, None)
    for _ in range(6000):
        v, e = rng.randrange(1, 3001), rng.choice(edges)
        if v not in m.nodes:
            continue
        action = rng.random()
        if action < 0.5:
            g.connect(e, v), m.connect(e, v)
        elif action < 0.8:
            g.disconnect(e, v), m.disconnect(e, v)
        else:
            assert g.remove(v) == m.remove(v)
    # Most entries gone, then new ones: the tables repack without losing order.
    for v in list(m.nodes)[: 2 * len(m.nodes) // 3]:
        assert g.remove(v) == m.remove(v)
    survivors = list(m.nodes)
    for e in edges:
        g.insert(e), m.insert(e)
        v = rng.choice(survivors)
        g.connect(e, v), m.connect(e, v)
    assert g.keys() == list(m.nodes)
    for e in edges:
        assert g.nodes_of(e) == m.nodes_of(e)
    for v in list(m.joined)[::50]:
        assert g.edges_of(v) == m.edges_of(v)


def test_payload_references():
    payload, other = object(), object()
    with same_refcount(payload, other):
        g = HyperGraph()
        g.insert(payload)
        g.insert(payload)
        g.update(other, 1)
        assert g.extract(2) is payload
        assert g.remove(1) is other
        g.clear()
        g.insert(payload)
        del g

    def cycle():
        g = HyperGraph()
        for i in range(20):
            g.insert(i)
        g.add_edge("e", range(1, 21))
        g.remove_edge("e")
        g.remove(3)

    assert_no_leak(cycle, rounds=300)
