// What the unbalanced and the AVL search tree share: the node-owning state, the
// walks that do not change the shape (lookups, traversals, copies) and the
// release of whole subtrees. Invariant: `size` is the sum of the node counts.
//
// Every walk is a loop with an explicit stack, never recursion: an unbalanced
// tree fed sorted values is a chain one node per value deep, and it must still
// be listed, measured, copied and freed on a small thread stack. Each tree's own
// insert and remove rules live in its own file; a node type supplies `value`,
// `left`, `right`, `count`, `detached_copy()` and the `unordered` message its
// class uses when two values order nowhere.
#pragma once

#include "elements.hpp"
#include "pickle.hpp"

#include <vector>

namespace morvena {

// Frees a subtree in O(n) without any stack: a node with a left child is
// rotated right until it has none, then it is freed and its right spine
// continues. Each rotation moves one node onto the right spine for good.
template <class Node>
void free_subtree(Node *node) noexcept {
    while (node) {
        if (Node *left = node->left) {
            node->left = left->right;
            left->right = node;
            node = left;
        } else {
            delete std::exchange(node, node->right);
        }
    }
}

template <class Node>
struct SearchTree {
    Node *root = nullptr;
    std::uint64_t size = 0;
    bool allow_duplicates = false;

    explicit SearchTree(bool duplicates) : allow_duplicates(duplicates) {}
    SearchTree(SearchTree &&other) noexcept
        : root(std::exchange(other.root, nullptr)),
          size(std::exchange(other.size, 0)),
          allow_duplicates(other.allow_duplicates) {}
    SearchTree &operator=(SearchTree &&) = delete;
    ~SearchTree() { free_subtree(root); }

    // The node equal to `value` and its depth (root 0), or nullptr.
    std::pair<const Node *, std::uint64_t> find(PyObject *value) const {
        std::uint64_t depth = 0;
        for (const Node *node = root; node; ++depth) {
            switch (compare(value, node->value.get(), Node::unordered)) {
            case Ordering::Less: node = node->left; break;
            case Ordering::Greater: node = node->right; break;
            case Ordering::Equal: return {node, depth};
            }
        }
        return {nullptr, 0};
    }

    bool contains(PyObject *value) const { return find(value).first != nullptr; }

    std::uint64_t at_depth(PyObject *value) const {
        if (size == 0) throw_value_error("No elements currently available in the BST");
        auto [node, depth] = find(value);
        if (!node) throw_value_error("Value not found in the Binary Search Tree");
        return depth;
    }

    Ref peek_root(std::string_view empty) const {
        if (!root) throw_value_error(empty);
        return root->value.clone();
    }

    // The leftmost (or rightmost) value; `broken` names a count without a root.
    template <Node *Node::*Side>
    Ref extreme(std::string_view empty, std::string_view broken) const {
        if (size == 0) throw_value_error(empty);
        if (!root) throw_value_error(broken);
        const Node *node = root;
        while (node->*Side) node = node->*Side;
        return node->value.clone();
    }

    // Nodes on the longest root-to-leaf path, counted by a depth-first walk.
    std::uint64_t measured_height() const {
        std::uint64_t height = 0;
        std::vector<std::pair<const Node *, std::uint64_t>> stack;
        if (root) stack.emplace_back(root, 1);
        while (!stack.empty()) {
            auto [node, depth] = stack.back();
            stack.pop_back();
            height = std::max(height, depth);
            if (node->left) stack.emplace_back(node->left, depth + 1);
            if (node->right) stack.emplace_back(node->right, depth + 1);
        }
        return height;
    }

    enum class Order { In, Pre, Post, Level };

    // A node's value stands `count` times in a row at the node's place.
    template <Order order>
    Ref listing(std::string_view empty) const {
        if (size == 0) throw_value_error(empty);
        ListBuilder list(size);
        walk<order>(root, [&](const Node *node) {
            for (std::uint64_t i = 0; i < node->count; ++i) list.push_borrowed(node->value.get());
        });
        return std::move(list).finish();
    }

    // Same shape, counts and flags, sharing the stored objects. Re-adding the
    // level order one value at a time would rebuild exactly this tree (every
    // value arrives after its ancestors, and a balanced tree's levels never
    // trigger a rotation), so the shape is copied directly: no comparisons,
    // hence no way for user code to fail the copy halfway.
    SearchTree copy(std::string_view empty) const {
        if (size == 0) throw_value_error(empty);
        SearchTree out(allow_duplicates);
        std::vector<std::pair<const Node *, Node **>> stack;
        if (root) stack.emplace_back(root, &out.root);
        while (!stack.empty()) {
            auto [source, slot] = stack.back();
            stack.pop_back();
            Node *node = *slot = source->detached_copy();
            if (source->left) stack.emplace_back(source->left, &node->left);
            if (source->right) stack.emplace_back(source->right, &node->right);
        }
        out.size = size;
        return out;
    }

    void clear() noexcept {
        // Detach first: releasing the values may run finalisers.
        Node *old = std::exchange(root, nullptr);
        size = 0;
        free_subtree(old);
    }

    void visit(Visitor &v) const {
        walk<Order::Pre>(root, [&](const Node *node) { v(node->value); });  // a removal's moved-out value is skipped
    }

    // In order, each value `count` times, as the in-order listing gives it: the
    // stack holds the ancestors still to be yielded, its top the current node.
    struct Cursor {
        std::vector<const Node *> pending;
        std::uint64_t repeated = 0;  // copies of the top's value already yielded

        template <class Owner>
        Ref next(const Owner &) {
            if (pending.empty()) return {};
            const Node *node = pending.back();
            if (++repeated == node->count) {
                repeated = 0;
                pending.pop_back();
                descend_left(node->right);
            }
            return node->value.clone();
        }
        void descend_left(const Node *node) {
            for (; node; node = node->left) pending.push_back(node);
        }
    };
    Cursor cursor() const {
        Cursor cursor;
        cursor.descend_left(root);
        return cursor;
    }

    // Invariants that need no comparison: the element count and, through
    // `check_node`, whatever the node type keeps (AVL heights and balance).
    template <class CheckNode>
    void check(CheckNode check_node) const {
        std::uint64_t total = 0;
        walk<Order::Post>(root, [&](const Node *node) {
            if (node->count == 0) throw_panic("tree node with a zero count");
            if (!allow_duplicates && node->count != 1) throw_panic("duplicate count in a tree without duplicates");
            total += node->count;
            check_node(node);
        });
        if (total != size) throw_panic("tree size disagrees with its node counts");
    }

    // The pickled form: the flag and every node in preorder as (value, count,
    // children), children having bit 1 for a left and bit 2 for a right child.
    // The shape travels as it is, so no comparison is needed to rebuild it.
    Ref state() const {
        std::vector<Ref> nodes;
        walk<Order::Pre>(root, [&](const Node *node) {
            nodes.push_back(to_python(std::tuple(node->value.clone(), node->count,
                                                 std::uint64_t{node->left ? 1u : 0u} | (node->right ? 2u : 0u))));
        });
        return make_tuple(to_python(allow_duplicates), to_python(std::move(nodes)));
    }

    // Rebuilds the shape, then `settle` sees every node after its children
    // (AVL heights), and the in-order values must ascend strictly: a tampered
    // order would make lookups miss. The comparisons run on a tree no caller
    // can reach yet.
    template <class Settle>
    static SearchTree from_state(const StateReader &state, Settle &&settle) {
        state.fields(2);
        SearchTree out(state.flag(0, "the duplicates flag"));
        std::vector<Ref> items = state.items(state.field(1), "the nodes");
        std::vector<Node *> made;
        made.reserve(items.size());
        std::vector<Node **> pending;
        if (!items.empty()) pending.push_back(&out.root);
        for (const Ref &item : items) {
            PyObject *node = state.tuple(item.get(), 3, "a node");
            std::uint64_t count = state.u64_of(PyTuple_GET_ITEM(node, 1), "a count");
            std::uint64_t children = state.u64_of(PyTuple_GET_ITEM(node, 2), "a node's children");
            if (count == 0 || (!out.allow_duplicates && count != 1)) state.invalid("a node's count is not possible");
            if (children > 3) state.invalid("a node's children must be 0 to 3");
            if (pending.empty()) state.invalid("more nodes than the shape has places for");
            if (out.size > UINT64_MAX - count) state.out_of_range("the total count");
            Node **slot = pending.back();
            pending.pop_back();
            Node *fresh = *slot = new Node(Ref::borrow(PyTuple_GET_ITEM(node, 0)), count);
            made.push_back(fresh);
            out.size += count;
            if (children & 2) pending.push_back(&fresh->right);
            if (children & 1) pending.push_back(&fresh->left);
        }
        if (!pending.empty()) state.invalid("fewer nodes than the shape has places for");
        for (auto it = made.rbegin(); it != made.rend(); ++it) settle(*it);
        const Node *previous = nullptr;
        walk<Order::In>(out.root, [&](const Node *node) {
            if (previous && compare(previous->value.get(), node->value.get(), Node::unordered) != Ordering::Less)
                state.invalid("the values are not in ascending order");
            previous = node;
        });
        return out;
    }

private:
    template <Order order, class F>
    static void walk(const Node *node, F &&visit) {
        std::vector<const Node *> stack;
        if constexpr (order == Order::In) {
            while (node || !stack.empty()) {
                for (; node; node = node->left) stack.push_back(node);
                node = stack.back();
                stack.pop_back();
                visit(node);
                node = node->right;
            }
        } else if constexpr (order == Order::Pre) {
            if (node) stack.push_back(node);
            while (!stack.empty()) {
                node = stack.back();
                stack.pop_back();
                visit(node);
                if (node->right) stack.push_back(node->right);
                if (node->left) stack.push_back(node->left);
            }
        } else if constexpr (order == Order::Post) {
            // Left, right, node is the reverse of node, right, left.
            std::vector<const Node *> reversed;
            if (node) stack.push_back(node);
            while (!stack.empty()) {
                node = stack.back();
                stack.pop_back();
                reversed.push_back(node);
                if (node->left) stack.push_back(node->left);
                if (node->right) stack.push_back(node->right);
            }
            for (auto it = reversed.rbegin(); it != reversed.rend(); ++it) visit(*it);
        } else {
            // Level order: the stack vector serves as a FIFO read from `head`.
            if (node) stack.push_back(node);
            for (std::size_t head = 0; head < stack.size(); ++head) {
                node = stack[head];
                visit(node);
                if (node->left) stack.push_back(node->left);
                if (node->right) stack.push_back(node->right);
            }
        }
    }
};

// Adds each item of a list in order, re-reading the length before each one:
// a comparison may run code that changes the caller's list. The item is held
// while it is added, so that code cannot free it. Items before a failure stay.
template <class Tree>
void add_each(Tree &tree, List items) {
    for (Py_ssize_t i = 0; i < items.size(); ++i) {
        Ref item = Ref::borrow(items[i]);
        tree.add(item.get());
    }
}

}  // namespace morvena
