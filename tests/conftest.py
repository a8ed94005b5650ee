"""Helpers shared by every test module: reference-count and leak checks, and
elements whose comparison, hashing or str() misbehave or call back."""

from __future__ import annotations

import gc
import os
import struct
import sys
import threading
from contextlib import contextmanager

from hypothesis import HealthCheck, settings


@contextmanager
def same_refcount(*objects):
    """Asserts that the block leaves each object's reference count unchanged."""
    before = [sys.getrefcount(o) for o in objects]
    yield
    gc.collect()
    after = [sys.getrefcount(o) for o in objects]
    assert after == before


def assert_no_leak(action, rounds=2000, slack=50):
    """Runs `action` many times and checks that pymalloc's live block count does not grow."""
    for _ in range(50):
        action()
    gc.collect()
    start = sys.getallocatedblocks()
    for _ in range(rounds):
        action()
    gc.collect()
    grown = sys.getallocatedblocks() - start
    assert grown < slack, f"{grown} blocks still allocated after {rounds} rounds"


class Boom(Exception):
    pass


def _raises(name):
    def method(self, *args):
        raise Boom(name)
    return method


class RaisingEq:
    """An element whose every comparison raises."""

    __eq__, __lt__, __gt__ = _raises("eq"), _raises("lt"), _raises("gt")
    __hash__ = object.__hash__


class RaisingHash:
    __hash__ = _raises("hash")


class RaisingStr:
    __str__ = _raises("str")


class CallsBack:
    """An element whose __eq__/__lt__/__gt__/__hash__ runs `callback` and records
    what it raised, so a test can check that re-entry was refused."""

    def __init__(self, callback, result=False):
        self.callback = callback
        self.result = result
        self.errors: list[BaseException] = []

    def _run(self):
        try:
            self.callback()
        except Exception as error:  # noqa: BLE001 - recorded for the test to inspect
            self.errors.append(error)
        return self.result

    def __eq__(self, other):
        return self._run()

    __lt__ = __gt__ = __eq__

    def __hash__(self):
        self._run()
        return 0


class IndexCallsBack(CallsBack):
    """The same, met where an integer argument is converted."""

    def __index__(self):
        self._run()
        return self.result


def assert_refused(element: CallsBack, message: str) -> None:
    """The callback ran at least once and every attempt was refused with `message`."""
    assert element.errors, "the callback never ran"
    for error in element.errors:
        assert isinstance(error, RuntimeError) and str(error) == message, repr(error)


def panic_type():
    """Our PanicException type. Every extension built the same way creates its own
    class of that name, so ours is the one a Stack's equality scan will not discard."""
    from morvena import Stack

    primer = Stack()
    primer.push(RaisingEq())
    primer.contains(0)  # a discarded error makes sure ours exists
    for cls in BaseException.__subclasses__():
        if cls.__module__ != "pyo3_runtime" or cls.__name__ != "PanicException":
            continue

        class Raises:
            def __eq__(self, other, cls=cls):
                raise cls("probe")

        probe = Stack()
        probe.push(Raises())
        try:
            probe.contains(0)
        except cls:
            return cls
    return None


def outcome(call, *args):
    """What a call produced: ("ok", result) or (exception type, message), so that a
    structure and its model can be compared on failing calls as well."""
    try:
        return ("ok", call(*args))
    except Exception as error:  # noqa: BLE001 - compared by the caller
        return (type(error), str(error))


def pytest_addoption(parser):
    parser.addoption("--fuzz-calls", type=int, default=0,
                     help="calls for the hostile-input fuzz (default: a short run; also MORVENA_FUZZ_CALLS)")


# The sanitizer build runs the same suite about ten times slower: fewer examples.
# A loaded CI machine must not fail a test for being slow: only timing checks are off.
settings.register_profile("sanitized", max_examples=15, deadline=None, suppress_health_check=[HealthCheck.too_slow])
settings.register_profile("default", deadline=None, suppress_health_check=[HealthCheck.too_slow])
settings.load_profile("sanitized" if os.environ.get("MORVENA_SANITIZED") else "default")


def search_tree_machine(tree_class, allow_duplicates):
    """A hypothesis state machine checking a search tree against a sorted list
    with counts; shared by the unbalanced and the AVL tree. `check_shape(tree)`
    on the returned class may be overridden to add per-class shape checks."""
    import bisect

    from hypothesis import strategies as st
    from hypothesis.stateful import RuleBasedStateMachine, invariant, rule

    values = st.integers(-20, 20)

    class SearchTreeModel(RuleBasedStateMachine):
        def __init__(self):
            super().__init__()
            self.tree = tree_class(allow_duplicates)
            self.model: list[int] = []

        def _insert(self, items):
            for value in items:
                if allow_duplicates or value not in self.model:
                    bisect.insort(self.model, value)

        @rule(value=values)
        def add(self, value):
            self.tree.add(value)
            self._insert([value])

        @rule(items=st.lists(values, max_size=5))
        def extend(self, items):
            self.tree.extend(items)
            self._insert(items)

        @rule(value=values)
        def remove(self, value):
            def model():
                if value not in self.model:
                    raise ValueError("Value not found in the current BST")
                self.model.remove(value)
                return value
            assert outcome(self.tree.remove, value) == outcome(model)

        @rule(value=values)
        def contains(self, value):
            assert self.tree.contains(value) == (value in self.model)

        @rule()
        def copy(self):
            if self.model:
                copied = self.tree.copy()
                assert copied.bfs_list() == self.tree.bfs_list()
                self.tree = copied

        @invariant()
        def agrees(self):
            assert self.tree.size() == len(self.model)
            if self.model:
                assert self.tree.inorder_list() == self.model
                assert (self.tree.min(), self.tree.max()) == (self.model[0], self.model[-1])
            type(self).check_shape(self.tree)

        @staticmethod
        def check_shape(tree):
            pass

    return SearchTreeModel


# ---------------------------------------------------------------------------
# The hash maps' key model, written from the algorithms' definitions and not from
# the module: the maps' tests predict slot and bucket positions with it.

_MASK = (1 << 64) - 1
UNSUPPORTED_KEY = "Unsupported data type for Rust conversion"


def _rotl(x, b):
    return ((x << b) | (x >> (64 - b))) & _MASK


def siphash13(data: bytes) -> int:
    """SipHash-1-3 with the all-zero key."""
    v = [0x736F6D6570736575, 0x646F72616E646F6D, 0x6C7967656E657261, 0x7465646279746573]

    def sip_round():
        v[0] = (v[0] + v[1]) & _MASK; v[1] = _rotl(v[1], 13) ^ v[0]; v[0] = _rotl(v[0], 32)  # noqa: E702
        v[2] = (v[2] + v[3]) & _MASK; v[3] = _rotl(v[3], 16) ^ v[2]  # noqa: E702
        v[0] = (v[0] + v[3]) & _MASK; v[3] = _rotl(v[3], 21) ^ v[0]  # noqa: E702
        v[2] = (v[2] + v[1]) & _MASK; v[1] = _rotl(v[1], 17) ^ v[2]; v[2] = _rotl(v[2], 32)  # noqa: E702

    end = len(data) - len(data) % 8
    for i in range(0, end, 8):
        m = int.from_bytes(data[i:i + 8], "little")
        v[3] ^= m
        sip_round()
        v[0] ^= m
    b = ((len(data) & 0xFF) << 56) | int.from_bytes(data[end:], "little")
    v[3] ^= b
    sip_round()
    v[0] ^= b
    v[2] ^= 0xFF
    for _ in range(3):
        sip_round()
    return v[0] ^ v[1] ^ v[2] ^ v[3]


def fx_words(words) -> int:
    h = 0
    for w in words:
        h = ((_rotl(h, 5) ^ w) * 0x517CC1B727220A95) & _MASK
    return h


def native_key(obj):
    """(kind, payload) as the maps convert a key of a built-in type; ValueError otherwise."""
    if isinstance(obj, int):
        if -(1 << 63) <= obj < (1 << 63):
            return "Int", int(obj)
        try:
            return "Float", float(obj)
        except OverflowError:
            raise ValueError(UNSUPPORTED_KEY) from None
    if isinstance(obj, float):
        return "Float", obj
    if isinstance(obj, str):
        try:
            return "Str", obj.encode("utf-8")
        except UnicodeEncodeError:
            raise ValueError(UNSUPPORTED_KEY) from None
    raise ValueError(UNSUPPORTED_KEY)


def _word(kind, payload):
    if kind == "Int":
        return payload & _MASK
    if kind == "Float":
        return int.from_bytes(struct.pack("<d", payload), "little")
    return int(payload)  # Bool


def key_hash(kind, payload) -> int:
    if kind == "Str":
        return siphash13(payload + b"\xff")
    if kind == "Bool":
        return siphash13(bytes([int(payload)]))
    return siphash13(_word(kind, payload).to_bytes(8, "little"))


def key_fx_hash(kind, payload) -> int:
    if kind != "Str":
        return fx_words([_word(kind, payload)])
    words, rest = [], payload
    for width in (8, 4, 2, 1):
        while len(rest) >= width:
            words.append(int.from_bytes(rest[:width], "little"))
            rest = rest[width:]
            if width != 8:
                break
    return fx_words(words + [0xFF])


def hashes_of(obj):
    nk = native_key(obj)
    return key_hash(*nk), key_fx_hash(*nk)


NAN = float("nan")
# Keys of every kind that collide, wrap or sit at the edges of their ranges.
KEY_POOL = [0, 1, -1, 7, True, False, 1.0, -0.0, 0.0, 0.5, NAN, 5e-324, 2**63 - 1, -(2**63),
            2**63, 2**63 + 1, 2**64, "", "a", "é", "日本語", "abcdef", "abcdefg", "abcdefgh", "x" * 15, "x" * 17]
BAD_KEYS = [None, (1,), b"x", 10**400, "\ud800", [1]]


def run_on_small_stack(work, stack_bytes=128 * 1024):
    """Runs `work` on a thread with a small native stack, where any recursion
    over a deep structure would crash the interpreter."""
    old = threading.stack_size(stack_bytes)
    try:
        thread = threading.Thread(target=work)
        thread.start()
        thread.join()
    finally:
        threading.stack_size(old)
