"""Helpers shared by every test module: reference-count and leak checks, and
elements whose comparison, hashing or str() misbehave or call back."""

from __future__ import annotations

import gc
import sys
from contextlib import contextmanager


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


class RaisingEq:
    """An element whose every comparison raises."""

    def __eq__(self, other):
        raise Boom("eq")

    def __lt__(self, other):
        raise Boom("lt")

    def __gt__(self, other):
        raise Boom("gt")

    __hash__ = object.__hash__


class RaisingHash:
    def __hash__(self):
        raise Boom("hash")


class RaisingStr:
    def __str__(self):
        raise Boom("str")


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

    def __lt__(self, other):
        return self._run()

    def __gt__(self, other):
        return self._run()

    def __hash__(self):
        self._run()
        return 0


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


# The sanitizer build runs the same suite about ten times slower: fewer examples.
def _hypothesis_profiles():
    import os

    from hypothesis import settings

    settings.register_profile("sanitized", max_examples=15, deadline=None)
    settings.register_profile("default", deadline=None)
    settings.load_profile("sanitized" if os.environ.get("MORVENA_SANITIZED") else "default")


_hypothesis_profiles()


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

        @rule(value=values)
        def add(self, value):
            self.tree.add(value)
            if allow_duplicates or value not in self.model:
                bisect.insort(self.model, value)

        @rule(items=st.lists(values, max_size=5))
        def extend(self, items):
            self.tree.extend(items)
            for value in items:
                if allow_duplicates or value not in self.model:
                    bisect.insort(self.model, value)

        @rule(value=values)
        def remove(self, value):
            if value in self.model:
                assert self.tree.remove(value) == value
                self.model.remove(value)
            else:
                try:
                    self.tree.remove(value)
                except ValueError as error:
                    assert str(error) == "Value not found in the current BST"
                else:
                    raise AssertionError("remove of a missing value succeeded")

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
