// Stack: an unbounded LIFO of Python objects, kept as a singly linked chain whose
// first node is the top. Invariant: `count` is the number of nodes reachable from
// `head`, and each node owns the one below it. Depth counts from the top (0).
//
// The chain is freed by a loop, never by recursion, so a stack of millions of
// nodes is released without touching the native call stack's limits.
#include "elements.hpp"
#include "pyclass.hpp"

namespace morvena {

namespace {

struct Node : PyAllocated {
    Ref value;
    Node *next;
};

void free_chain(Node *node) noexcept {
    while (node) delete std::exchange(node, node->next);
}

}  // namespace

struct Stack {
    Node *head = nullptr;
    std::uint64_t count = 0;

    Stack() = default;
    Stack(Stack &&other) noexcept
        : head(std::exchange(other.head, nullptr)), count(std::exchange(other.count, 0)) {}
    ~Stack() { free_chain(head); }

    void push(Ref value) {
        head = new Node{{}, std::move(value), head};
        ++count;
    }

    Ref peek() const { return head ? head->value.clone() : Ref::none(); }

    Ref pop() {
        if (!head) return Ref::none();
        Node *top = std::exchange(head, head->next);
        --count;
        Ref value = std::move(top->value);
        delete top;
        return value;
    }

    std::uint64_t size() const { return count; }

    void swap(std::optional<std::uint64_t> index_arg) {
        std::uint64_t index = index_arg.value_or(1);
        if (index > count) throw_value_error("Index out of bounds");
        if (count == 0) throw_value_error("Stack is currently empty");
        if (count == 1) throw_value_error("Only 1 element available in Stack - Cannot swap");
        if (index == 0) return;
        if (!head->next) throw_value_error("Next node doens't exist, can't swap!");
        Node *node = head->next;
        for (std::uint64_t depth = 1; node; ++depth, node = node->next) {
            if (depth == index) {
                std::swap(head->value, node->value);
                return;
            }
        }
        throw_value_error("Index out of bounds");
    }

    bool contains(PyObject *value) const {
        for (Node *node = head; node; node = node->next)
            if (equals_or_false(node->value.get(), value)) return true;
        return false;
    }

    Stack copy() const {
        Stack out;
        Node **tail = &out.head;
        for (Node *node = head; node; node = node->next) {
            *tail = new Node{{}, node->value.clone(), nullptr};
            tail = &(*tail)->next;
            ++out.count;
        }
        return out;
    }

    bool is_empty() const { return count == 0; }

    Ref to_list() const {
        ListBuilder list(count);
        for (Node *node = head; node; node = node->next) list.push(node->value.clone());
        return std::move(list).finish();
    }

    void reverse() {
        if (count < 2) throw_value_error("Reverse will have no effect on current Stack");
        Node *reversed = nullptr;
        while (head) {
            Node *next = head->next;
            head->next = reversed;
            reversed = std::exchange(head, next);
        }
        head = reversed;
    }

    void update_top(Ref value) {
        if (!head) throw_value_error("No current top available in Stack");
        head->value = std::move(value);
    }

    void clear() {
        // Detach first: releasing the elements may run finalisers.
        Node *old = std::exchange(head, nullptr);
        count = 0;
        free_chain(old);
    }

    void check() const {
        std::uint64_t nodes = 0;
        for (Node *node = head; node; node = node->next) ++nodes;
        if (nodes != count) throw_panic("Stack size disagrees with its chain");
    }
};

extern const ClassDef stack_class = PyClass<Stack>("Stack")
                                        .method<&Stack::push>("push", {"value"})
                                        .method<&Stack::peek>("peek")
                                        .method<&Stack::pop>("pop")
                                        .method<&Stack::size>("size")
                                        .method<&Stack::swap>("swap", {"index"})
                                        .method<&Stack::contains>("contains", {"value"})
                                        .method<&Stack::copy>("copy")
                                        .method<&Stack::is_empty>("is_empty")
                                        .method<&Stack::to_list>("to_list")
                                        .method<&Stack::reverse>("reverse")
                                        .method<&Stack::update_top>("update_top", {"value"})
                                        .method<&Stack::clear>("clear")
                                        .method<&Stack::copy>("__copy__")
                                        .len<&Stack::size>()
                                        .contains<&Stack::contains>();

}  // namespace morvena
