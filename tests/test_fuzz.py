"""Hostile-input fuzz over all twenty classes: a seeded driver calls every public
method and protocol slot with arguments drawn from a pool of awkward values and
misbehaving objects, and after each call checks that the structure still agrees
with itself, that a failed call changed nothing and kept no reference, and, on a
sample of failed calls, that repeating them does not grow the heap.

Methods are found by introspection, so a method added to a class joins the fuzz
by itself; what the driver needs to know beyond that lives in HINTS below."""

from __future__ import annotations

import gc
import inspect
import copy
import os
import random
import sys

import pytest
from conftest import Boom, panic_type

from morvena import _native_morvena as native

CLASSES = [getattr(native, name) for name in native.__all__]
PANIC = panic_type() or Boom

# ---------------------------------------------------------------------------
# Everything the driver knows about the classes, in one table.
#
# "size"/"listing": the no-argument methods whose results must agree (None where
#   a class lists nothing; "at_most" where the listing may be shorter); a listing
#   or count of an empty structure may raise.
# "ctor": the kinds of the constructor's arguments, drawn like method arguments.
# "kinds": argument kind by parameter name, for names that mean something else
#   in this class than in the "*" row.
# "skip": methods left out of the fuzz, with the reason beside the table.
HINTS = {
    "*": {
        "kinds": dict.fromkeys(["value", "item", "payload", "new_value"], "element")
        | dict.fromkeys(["index", "key", "x", "y", "id", "start_id", "to_id", "from_id", "node_id", "target",
                         "source", "start", "end", "goal"], "position")
        | dict.fromkeys(["iterable", "items", "vertices"], "iterable")
        | dict.fromkeys(["return_value", "return_priority"], "flag")
        | dict.fromkeys(["priority"], "priority")
        | dict.fromkeys(["weight"], "number")
        | dict.fromkeys(["word", "prefix", "edge_id", "edge_id1", "edge_id2"], "text")
        | dict.fromkeys(["state"], "state")
        | dict.fromkeys(["memo"], "memo")
        | dict.fromkeys(["other"], "structure"),
        # Methods that add content, picked more often so that the structures
        # reach states where the other methods have something to work on.
        "grow": {"insert", "add", "push", "enqueue", "append", "prepend", "add_edge", "connect", "extend"},
        # Never passed through the fuzz: the constructor is fuzzed on its own, and
        # the interpreter's generic class machinery is not ours.
        "skip": {"__new__", "__init__", "__init_subclass__", "__subclasshook__", "__class_getitem__"},
    },
    "LinkedList": {"size": "size", "listing": "to_list"},
    "Stack": {"size": "size", "listing": "to_list"},
    "ArrayStack": {"size": "size", "listing": "to_list", "ctor": ["size"]},
    "Queue": {"size": "size", "listing": "to_list"},
    "RingBuffer": {"size": "size", "listing": "to_list", "ctor": ["size"]},
    "CircularBuffer": {"size": "size", "listing": "to_list", "ctor": ["size"]},
    "PriorityQueue": {"size": "size", "listing": "to_list", "ctor": ["heap_kind"]},
    "BinarySearchTree": {"size": "size", "listing": "inorder_list", "ctor": ["flag"]},
    "AVLTree": {"size": "size", "listing": "inorder_list", "ctor": ["flag"]},
    # word_size counts every insert of a word, words() lists each word once.
    "Trie": {"size": "word_size", "listing": "words", "at_most": True, "kinds": {"value": "text"}},
    "VaskMap": {"size": "size", "listing": "items", "ctor": ["size", "size"], "kinds": {"key": "element"}},
    "RhoodMap": {"size": "size", "listing": "items", "ctor": ["size"], "kinds": {"key": "element"}},
    "BloomFilter": {"size": None, "listing": None, "ctor": ["size", "probability"]},
    "CuckooFilter": {"size": "len", "listing": None, "ctor": ["size", "size", "size"]},
    "Flatlist": {"size": "size", "listing": "to_list", "ctor": ["size", "probability"], "kinds": {"key": "element"}},
    "BaseGraph": {"size": "node_coutn", "listing": "edges"},
    "Digraph": {"size": "node_count", "listing": "edges"},
    "WeightedGraph": {"size": "node_count", "listing": "edges"},
    "WeightedDigraph": {"size": "node_count", "listing": "edges"},
    "HyperGraph": {"size": "node_count", "listing": "keys", "kinds": {"id": "text"}},
}
# Methods whose failure may keep what they did before it (documented behaviour).
PARTIAL = {"extend"}


def hint(cls, field, default=None):
    return HINTS[cls.__name__].get(field, default)


def kind_of(cls, parameter):
    return hint(cls, "kinds", {}).get(parameter) or HINTS["*"]["kinds"].get(parameter, "any")


# Protocol slots are called the way the interpreter calls them.
PROTOCOL = {"__len__": len, "__bool__": bool, "__contains__": lambda o, x: x in o,
            "__getitem__": lambda o, i: o[i], "__iter__": iter, "__repr__": repr}


def operations(cls):
    """(name, parameter names or None when unknown) of every callable the class defines."""
    found = [("__repr__", [])]
    for name, attr in vars(cls).items():
        if name in HINTS["*"]["skip"] or name in hint(cls, "skip", ()) or not callable(attr) or name == "__repr__":
            continue
        try:
            params = [p.name for p in inspect.signature(attr).parameters.values()][1:]
        except (TypeError, ValueError):
            params = None
        found.append((name, params))
    return found


# ---------------------------------------------------------------------------
# The hostile pool.


class Pool:
    """The live structures of the run, by class; callbacks reach them through here."""

    def __init__(self):
        self.slots: dict[type, list] = {}
        self.receiver = None


POOL: Pool | None = None  # the running driver's pool, for the callbacks


class Hostile:
    """An object whose special methods all misbehave in one fixed way, chosen at
    creation; its choices never depend on the run, so a call that runs it once or
    twice leaves the run on the same course."""

    BEHAVIOURS = ("plain", "raise", "odd", "reenter", "mutate", "drop")

    def __init__(self, behaviour, value):
        self.behaviour, self.value = behaviour, value

    def _act(self, odd):
        pool, b = POOL, self.behaviour
        if b == "raise":
            raise Boom(self.value)
        if b == "odd":
            return odd
        if b == "reenter" and pool.receiver is not None:
            poke(pool.receiver)
        elif b == "mutate" and pool.receiver is not None:
            others = [s for s in pool.slots[type(pool.receiver)] if s is not pool.receiver]
            for other in others[:1]:
                quietly(other.clear)
        elif b == "drop" and pool.receiver is not None:
            cls = type(pool.receiver)
            pool.slots[cls] = [fresh(cls) if s is pool.receiver else s for s in pool.slots[cls]]
        return None

    def __eq__(self, other):
        r = self._act(OddTruth())
        return r if r is not None else self.value == getattr(other, "value", other)

    def __lt__(self, other):
        r = self._act(NotImplemented)
        return r if r is not None else self.value < getattr(other, "value", other)

    def __gt__(self, other):
        r = self._act(NotImplemented)
        return r if r is not None else self.value > getattr(other, "value", other)

    def __hash__(self):
        r = self._act("not a hash")
        return r if r is not None else hash(self.value)

    def __str__(self):
        r = self._act(42)
        return r if r is not None else f"H{self.value}"

    def __index__(self):
        r = self._act(1.5)
        return r if r is not None else self.value

    def __float__(self):
        r = self._act(7)
        return r if r is not None else float(self.value)

    def __bool__(self):
        r = self._act(2)
        return r if r is not None else bool(self.value)

    def __iter__(self):
        r = self._act([1, 2])  # not an iterator
        return r if r is not None else iter(range(self.value % 4))

    def __len__(self):
        r = self._act(-1)
        return r if r is not None else self.value % 4

    def __getitem__(self, i):
        if i >= self.value % 4:
            raise IndexError(i)
        self._act(None)
        return i

    def __repr__(self):
        return f"Hostile({self.behaviour}, {self.value})"


class OddTruth:
    """A comparison result whose truth cannot be taken."""

    def __bool__(self):
        raise Boom("truth")


class LyingLength:
    """A sequence of three items whose length claims far more."""

    def __init__(self, length):
        self.length = length

    def __len__(self):
        return self.length

    def __getitem__(self, i):
        if i >= 3:
            raise IndexError(i)
        return i + 1


def raising_generator(items):
    yield from items
    raise Boom("iteration")


def quietly(call, *args):
    try:
        call(*args)
    except Exception:  # noqa: BLE001 - callbacks only poke; refusals are expected
        pass


def poke(structure):
    """A read and a write from inside an operation: the borrow flag decides."""
    hints = HINTS[type(structure).__name__]
    for name in (hints["size"], hints["listing"], "clear"):
        if name:
            quietly(getattr(structure, name))


INTS = [0, 1, -1, 2, 3, 7, 255, 2**31 - 1, 2**31, -(2**31) - 1, 2**32, 2**63 - 1, 2**63, -(2**63), -(2**63) - 1,
        2**64 - 1, 2**64, 10**30, -(10**30)]
FLOATS = [0.0, -0.0, 0.5, 1.0, -2.5, float("nan"), float("inf"), float("-inf"), 5e-324, 1.7976931348623157e308]
TEXTS = ["", "a", "ab", "abc", "b", "\x00", "a\x00b", "\ud800", "x\udcff", "\U0001f600", "é", "日本語", "a" * 40]
OTHERS = [None, True, False, b"", b"ab", (), (1,), (1, "a"), [], [1, 2], {}, {"a": 1}, frozenset({1, 2}),
          Ellipsis, NotImplemented, object, int]


def draw(rng, kind, cls):
    """One argument of the given kind: mostly meaningful, often hostile."""
    pool = POOL
    roll = rng.random()
    if roll < 0.15 and kind != "size":  # (a huge valid size would be honoured, and take gigabytes)
        return draw_any(rng)
    if kind == "element":
        return rng.choice([rng.randrange(-5, 20), rng.randrange(-5, 20), rng.choice(TEXTS), hostile(rng)])
    if kind == "position":
        return rng.choice([rng.randrange(0, 8), rng.randrange(0, 8), rng.choice(INTS), hostile(rng), None])
    if kind == "text":
        return rng.choice([rng.choice(TEXTS), rng.choice(["a", "ab", "b", "e1", "e2"]), hostile(rng)])
    if kind == "iterable":
        items = [draw(rng, "element", cls) for _ in range(rng.randrange(0, 5))]
        return rng.choice([items, tuple(items), iter(items), raising_generator(items),
                           LyingLength(rng.choice([0, 2, 2**40, 2**62, sys.maxsize])), "abc", hostile(rng),
                           [rng.randrange(0, 6) for _ in range(3)]])
    if kind == "flag":
        return rng.choice([True, False, None, 1, hostile(rng)])
    if kind == "priority":
        return rng.choice([rng.randrange(-5, 5), rng.choice(INTS), hostile(rng)])
    if kind == "number":
        return rng.choice([rng.uniform(-2, 2), rng.choice(FLOATS), rng.choice(INTS), hostile(rng)])
    if kind == "size":  # constructor sizes stay small: a huge but valid size is a real allocation
        return rng.choice([rng.randrange(0, 12), rng.randrange(1, 12), None, -1, 2**64, "4", 1.5, hostile(rng)])
    if kind == "probability":
        return rng.choice([rng.uniform(0, 1), 0.5, 0.0, 1.0, -0.5, 2.0, float("nan"), None, "x", hostile(rng)])
    if kind == "heap_kind":
        return rng.choice(["min", "max", "mid", "", None, 1, hostile(rng)])
    if kind == "state":
        donor = rng.choice(pool.slots[cls])
        reduce = getattr(donor, "__reduce__", None)
        state = None
        try:
            parts = reduce() if reduce else ()
            state = parts[2] if isinstance(parts, tuple) and len(parts) > 2 else None
        except Exception:  # noqa: BLE001 - a donor that cannot reduce gives a hostile state
            pass
        return rng.choice([state, draw_any(rng), [draw_any(rng)], (state, draw_any(rng))])
    if kind == "memo":
        return rng.choice([{}, None, [], hostile(rng)])
    if kind == "structure":
        return rng.choice(pool.slots[cls] + [draw_any(rng)])
    return draw_any(rng)


def hostile(rng):
    return Hostile(rng.choice(Hostile.BEHAVIOURS), rng.randrange(0, 8))


def draw_any(rng):
    pool = POOL
    roll = rng.randrange(7)
    if roll == 0:
        return rng.choice(INTS)
    if roll == 1:
        return rng.choice(FLOATS)
    if roll == 2:
        return rng.choice(TEXTS)
    if roll == 3:
        return copy.copy(rng.choice(OTHERS))  # a fresh container each time
    if roll == 4:  # one of ours, the receiver included
        return rng.choice(pool.slots[rng.choice(CLASSES)] + [pool.receiver])
    if roll == 5:
        return [hostile(rng), rng.choice(INTS)]
    return hostile(rng)


def fresh(cls):
    """The slot filler used at resets and by "drop": the plainest instance there is."""
    return cls(*{"ArrayStack": (8,), "RingBuffer": (4,), "CircularBuffer": (4,), "PriorityQueue": ("min",),
                 "BinarySearchTree": (True,), "AVLTree": (False,), "VaskMap": (16, 2), "RhoodMap": (16,),
                 "BloomFilter": (64, 0.1), "CuckooFilter": (4, 2, 3), "Flatlist": (4, 0.5)}.get(cls.__name__, ()))


# ---------------------------------------------------------------------------
# Checks.


def shape(x):
    """Listings compared by identity (a failed call must leave the very same
    objects), except the numbers that a listing builds afresh, such as ids,
    priorities and weights."""
    if type(x) is tuple:
        return tuple(map(shape, x))
    if type(x) is float:
        return x.hex()
    return x if type(x) is int else id(x)


def counting(structure, name):
    try:
        return getattr(structure, name)()
    except ValueError as error:  # some counts refuse an empty structure
        try:
            empty = structure.is_empty()
        except ValueError:
            return str(error)  # one that cannot count at all (a Flatlist without levels)
        if empty:
            return 0
        raise


def snapshot(structure):
    hints = HINTS[type(structure).__name__]
    size = counting(structure, hints["size"]) if hints["size"] else None
    listing = None
    if hints["listing"] and isinstance(size, int) and not structure.is_empty():
        listing = getattr(structure, hints["listing"])()
    return size, listing


def check_consistent(structure):
    size, listing = snapshot(structure)
    if listing is not None:
        expected = len(listing) <= size if hint(type(structure), "at_most") else len(listing) == size
        assert isinstance(listing, list) and expected, (type(structure).__name__, size, len(listing))
        for item in listing:
            for x in (item if type(item) is tuple else (item,)):
                # A freed object would show a count of zero or garbage (and trip the sanitizer).
                assert sys.getrefcount(x) > 1 and type(x).__name__
    if hasattr(structure, "__len__") and isinstance(size, int):
        assert len(structure) == size
    return size, None if listing is None else tuple(map(shape, listing))


FRESH = (Hostile, LyingLength, list, dict, type(iter([])), type(raising_generator(())))


def counted(args):
    """The argument objects made for this call alone, whose reference counts a
    failed call must leave as they were. (Shared objects may legitimately change
    count meanwhile: a stored element's callback may clear a structure holding them.)"""
    return [a for a in args if type(a) in FRESH]


def invoke(structure, name, args, kwargs):
    if name in PROTOCOL and not kwargs:
        result = PROTOCOL[name](structure, *args)
    else:
        result = getattr(structure, name)(*args, **kwargs)
    if hasattr(result, "__next__") and not isinstance(result, type(structure)):
        # Our iterators are consumed (a bounded amount) to reach their own code.
        for _ in zip(range(50), result):
            pass
    return result


def call(structure, name, args, kwargs):
    """Runs one call; the error type it raised, or None."""
    try:
        invoke(structure, name, args, kwargs)
        return None
    except (Exception, PANIC) as error:  # noqa: BLE001 - every failure is a legitimate outcome here
        return type(error)


def assert_repeating_does_not_leak(structure, name, args, kwargs, before):
    """A failed call that changed nothing must fail the same way again without
    leaving memory or references behind. Three rounds of 40 calls: a leak of even
    one block or reference per call shows in every round, while the interpreter's
    own one-off growth (a cache, a free list) shows in one at most."""
    for _ in range(3):
        if call(structure, name, args, kwargs) is None:
            return
    rounds = []
    # No collection around the counts (a full one costs a tenth of a second in a
    # test process); with the collector paused, cyclic garbage made by the calls
    # would count as growth, and none is expected.
    gc.disable()
    try:
        for _ in range(3):
            start, held = sys.getallocatedblocks(), sys.getrefcount(structure)
            for _ in range(40):
                if call(structure, name, args, kwargs) is None:
                    return
            rounds.append((sys.getallocatedblocks() - start, sys.getrefcount(structure) - held))
        if check_consistent(structure) != before:
            return
    finally:
        gc.enable()
    where = f"{type(structure).__name__}.{name}{tuple(args)!r}"
    assert min(grown for grown, _ in rounds) < 20, f"{where}: blocks grew by {rounds} over rounds of 40 failed calls"
    # (A callback may drop the structure from the pool once, hence the minimum.)
    assert min(abs(kept) for _, kept in rounds) < 20, f"{where}: its reference count moved by {rounds}"


# ---------------------------------------------------------------------------
# The driver.


def fuzz_budget(config):
    calls = config.getoption("--fuzz-calls") or int(os.environ.get("MORVENA_FUZZ_CALLS", "0"))
    if calls:
        return calls
    return 20000 if os.environ.get("MORVENA_SANITIZED") else 60000


def run(seed, calls):
    global POOL
    rng = random.Random(seed)
    POOL = pool = Pool()
    table = {cls: operations(cls) for cls in CLASSES}

    def reset():
        pool.slots = {cls: [fresh(cls) for _ in range(3)] for cls in CLASSES}

    reset()
    for step in range(calls):
        pool.receiver = None
        if step % 3000 == 0:
            reset()  # keeps every structure small, so each check stays cheap
        cls = rng.choice(CLASSES)
        slot = rng.randrange(3)
        if rng.random() < 0.03:
            args = [draw(rng, kind, cls) for kind in hint(cls, "ctor", [])]
            try:
                made = cls(*args[: rng.randrange(len(args) + 1)] if rng.random() < 0.2 else args)
            except (Exception, PANIC):  # noqa: BLE001 - bad constructor arguments must only raise
                continue
            pool.slots[cls][slot] = made
            check_consistent(made)
            continue
        structure = pool.receiver = pool.slots[cls][slot]
        growing = [op for op in table[cls] if op[0] in HINTS["*"]["grow"]]
        name, params = rng.choice(growing if rng.random() < 0.3 else table[cls])
        if params is None:
            params = ["arg"] * rng.randrange(3)
        args = [draw(rng, kind_of(cls, p), cls) for p in params]
        kwargs = {}
        roll = rng.random()
        if roll < 0.05 and args:
            args.pop()  # one argument short
        elif roll < 0.08:
            args.append(draw_any(rng))  # one too many
        elif roll < 0.14 and params and name not in PROTOCOL:
            kwargs[params[-1]] = args.pop()  # the last one by name
        elif roll < 0.16:
            kwargs[rng.choice(["zz", "\ud800", "a\x00b", params[0] if params else "self"])] = draw_any(rng)

        before = check_consistent(structure)
        tracked = counted([*args, *kwargs.values()])
        counts = [sys.getrefcount(x) for x in tracked]
        failed = call(structure, name, args, kwargs)
        after = check_consistent(structure)
        if failed is None or name in PARTIAL:
            continue

        def where():
            return f"seed {seed} step {step}: {cls.__name__}.{name}{tuple(args)!r} {kwargs!r} raised {failed.__name__}"

        assert after == before, f"{where()} and changed the structure"
        assert [sys.getrefcount(x) for x in tracked] == counts, f"{where()} and changed reference counts"
        if rng.random() < 0.02:
            assert_repeating_does_not_leak(structure, name, args, kwargs, after)
    POOL = None


@pytest.mark.parametrize("seed", [0, 1, 2])
def test_hostile_calls(seed, request):
    run(seed, fuzz_budget(request.config) // 3)
