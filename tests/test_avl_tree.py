import math
import operator

import pytest
from conftest import Boom, same_refcount, search_tree_machine

from morvena import AVLTree

EMPTY = "No elements currently available in AVL Tree"


def tree_of(*values, duplicates=False):
    tree = AVLTree(duplicates)
    for value in values:
        tree.add(value)
    return tree


@pytest.mark.parametrize("order", [(1, 2, 3), (3, 2, 1), (1, 3, 2), (3, 1, 2)])
def test_each_rotation_case_balances_three_values(order):
    tree = tree_of(*order)
    assert (tree.peek_root(), tree.height(), tree.bfs_list()) == (2, 2, [2, 1, 3])


def test_seven_in_order_then_removals_rebalance():
    tree = tree_of(*range(1, 8))
    assert tree.height() == 3 and tree.bfs_list() == [4, 2, 6, 1, 3, 5, 7]
    assert (tree.preorder_list(), tree.postorder_list()) == ([4, 2, 1, 3, 6, 5, 7], [1, 3, 2, 5, 7, 6, 4])
    assert tree.remove(4) == 4 and tree.peek_root() == 5 and tree.bfs_list() == [5, 2, 6, 1, 3, 7]
    tree = tree_of(*range(1, 8))
    for value in (5, 6, 7):
        tree.remove(value)
    assert tree.bfs_list() == [2, 1, 4, 3] and tree.height() == 3
    tree.remove(1)
    assert tree.bfs_list() == [3, 2, 4] and tree.height() == 2


@pytest.mark.parametrize(
    "call, message",
    [(lambda t: t.remove(1), "Value not found in the current BST"),
     (lambda t: t.at_depth(1), "No elements currently available in the BST")]
    + [(lambda t, name=name: getattr(t, name)(), EMPTY)
       for name in ("peek_root", "min", "max", "height", "inorder_list", "bfs_list", "copy")],
)
def test_empty_tree_errors(call, message):
    tree = AVLTree(False)
    with pytest.raises(ValueError, match=f"^{message}$"):
        call(tree)
    assert not tree.contains(1) and tree.is_empty()


def _poisoned(compare):
    def method(self, other):
        if other == self.poison:
            raise Boom("poisoned")
        return compare(self.key, other)
    return method


class RaisesAgainst:
    """Orders like its key, except that comparing with `poison` raises."""

    def __init__(self, key, poison):
        self.key, self.poison = key, poison

    __lt__, __gt__, __eq__ = _poisoned(operator.lt), _poisoned(operator.gt), _poisoned(operator.eq)
    __hash__ = object.__hash__


@pytest.mark.parametrize("bad, error, message", [
    ("x", TypeError, "'<' not supported between instances of 'str' and 'int'"),
    (math.nan, ValueError, "Cannot compare specified Python objects"),
    # Passes the root and fails one level down, where a rotation could follow.
    (RaisesAgainst(0, poison=2), Boom, "poisoned")])
def test_failed_comparison_keeps_every_value(bad, error, message):
    tree = tree_of(*range(1, 8))
    before = tree.bfs_list()
    for call in (tree.add, tree.remove, tree.contains, tree.at_depth):
        with pytest.raises(error, match=f"^{message}$"):
            call(bad)
    assert tree.bfs_list() == before and tree.size() == 7 and tree.height() == 3


def test_extend_keeps_the_items_before_a_failure():
    tree = tree_of(2)
    with pytest.raises(TypeError):
        tree.extend([1, 3, "x", 4])
    assert tree.inorder_list() == [1, 2, 3] and tree.height() == 2


def test_copies_and_reference_counts():
    value = object()
    with same_refcount(value):
        tree = tree_of(*[(i % 7, value) for i in range(50)], duplicates=True)
        copied = tree.copy()
        assert copied.bfs_list() == tree.bfs_list() and copied.height() == tree.height() and copied.min()[1] is value
        for i in range(20):
            copied.remove((i % 7, value))
        assert tree.size() == 50 and copied.size() == 30
        del tree, copied


@pytest.mark.parametrize("duplicates", [False, True])
def test_against_a_sorted_list(duplicates):
    machine = search_tree_machine(AVLTree, duplicates)

    def check_shape(tree):  # the AVL height bound, over the distinct values
        if not tree.is_empty():
            assert tree.height() <= 1.4405 * math.log2(len(set(tree.inorder_list())) + 2) - 0.3277

    machine.check_shape = staticmethod(check_shape)
    machine.TestCase().runTest()
