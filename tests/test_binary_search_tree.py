import math
import re

import pytest
from conftest import Boom, CallsBack, RaisingEq, assert_refused, run_on_small_stack, same_refcount, search_tree_machine

from morvena import BinarySearchTree

EMPTY = "No elements currently available in the BST"


def tree_of(*values, duplicates=False):
    tree = BinarySearchTree(duplicates)
    tree.extend(list(values))
    return tree


def test_traversals_and_measures():
    tree = tree_of(5, 3, 8, 1, 4)
    orders = [tree.inorder_list(), tree.preorder_list(), tree.postorder_list(), tree.bfs_list()]
    assert orders == [[1, 3, 4, 5, 8], [5, 3, 1, 4, 8], [1, 4, 3, 8, 5], [5, 3, 8, 1, 4]]
    assert (tree.height(), tree.at_depth(4), tree.at_depth(5), tree.min(), tree.max()) == (3, 2, 0, 1, 8)


@pytest.mark.parametrize("removed, preorder",
                         [(5, [8, 3, 1, 4]), (3, [5, 4, 1, 8]), (1, [5, 3, 4, 8]), (8, [5, 3, 1, 4])])
def test_remove_relinks_and_returns_the_stored_object(removed, preorder):
    stored = float(removed)  # equal to the int probe, but a different object
    tree = tree_of(*[stored if v == removed else v for v in (5, 3, 8, 1, 4)])
    assert tree.remove(removed) is stored
    assert tree.preorder_list() == preorder and tree.size() == 4


@pytest.mark.parametrize(
    "call, message",
    [(lambda t: t.remove(1), "Value not found in the current BST"),
     (lambda t: t.prune(), "The current Binary Search Tree holds no nodes"),
     (lambda t: t.at_depth(1), EMPTY),
     (lambda t: tree_of(5, 3).at_depth(4), "Value not found in the Binary Search Tree")]
    + [(lambda t, name=name: getattr(t, name)(), EMPTY)
       for name in ("peek_root", "min", "max", "inorder_list", "preorder_list", "postorder_list", "bfs_list", "copy")],
)
def test_empty_tree_and_missing_value_errors(call, message):
    tree = BinarySearchTree(True)
    with pytest.raises(ValueError, match=f"^{message}$"):
        call(tree)
    assert not tree.contains(1) and tree.height() == 0 and tree.is_empty()


@pytest.mark.parametrize("bad, error, message", [
    ("x", TypeError, "'<' not supported between instances of 'str' and 'int'"),
    (math.nan, ValueError, "Cannot compare Python Objects"), (RaisingEq(), Boom, "lt")])
def test_failed_comparison_changes_nothing(bad, error, message):
    tree = tree_of(5, 3, 8)
    for call in (tree.add, tree.remove, tree.contains, tree.at_depth):
        with pytest.raises(error, match=f"^{re.escape(message)}$"):
            call(bad)
    assert tree.preorder_list() == [5, 3, 8] and tree.size() == 3


def test_extend_and_constructor_arguments():
    tree = tree_of(1)
    with pytest.raises(TypeError, match="^'<' not supported"):
        tree.extend([3, "x", 4])
    assert tree.inorder_list() == [1, 3]
    with pytest.raises(TypeError, match="^argument 'iterable': 'tuple' object cannot be converted to 'PyList'$"):
        tree.extend((2,))
    with pytest.raises(TypeError, match="^argument 'allow_duplicates': 'int' object cannot be converted to 'PyBool'$"):
        BinarySearchTree(1)


def test_prune_removes_only_the_current_leaves():
    tree = tree_of(5, 3, 8, 1, 4, 9, 9, duplicates=True)
    for preorder in ([5, 3, 8], [5]):
        tree.prune()
        assert tree.preorder_list() == preorder and tree.size() == len(preorder)
    tree.prune()
    assert tree.is_empty() and tree.height() == 0


def test_copies_and_reference_counts():
    value, other = object(), object()
    with same_refcount(value, other):
        tree = tree_of((1, value), (1, value), (2, other), duplicates=True)
        copied = tree.copy()
        copied.add((3, other))
        assert tree.size() == 3 and copied.bfs_list()[:3] == tree.bfs_list() and copied.min()[1] is value
        assert tree.remove((1, value))[1] is value
        copied.clear()
        tree.prune()
        del tree, copied


def test_reentrant_call_is_refused():
    tree = tree_of(1)
    probe = CallsBack(lambda: tree.add(2))
    with pytest.raises(ValueError):
        tree.add(probe)  # every comparison answers False: unordered
    assert_refused(probe, "Already borrowed")


def test_deep_chain_on_a_small_thread_stack():
    n, results = 20_000, []

    def work():
        tree = tree_of(*range(n))
        results.extend([tree.height(), tree.copy().postorder_list()[-1]])
        results.extend(len(f()) for f in (tree.inorder_list, tree.preorder_list, tree.postorder_list, tree.bfs_list))
        tree.prune()
        results.append(tree.size())
        del tree

    run_on_small_stack(work)
    assert results == [n, 0] + [n] * 4 + [n - 1]


@pytest.mark.parametrize("duplicates", [False, True])
def test_against_a_sorted_list(duplicates):
    machine = search_tree_machine(BinarySearchTree, duplicates)
    machine.TestCase().runTest()

