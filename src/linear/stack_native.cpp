// Stack: an unbounded LIFO of Python objects. Depth counts from the top (0).
// The elements live in one contiguous array whose last slot is the top, so push
// and pop cost no allocation, depth d is slot count-1-d, and releasing millions
// of elements is a plain loop. Invariant: every slot holds one owned reference.
#include "linear/sequence.hpp"
#include "pickle.hpp"

#include <ranges>

namespace morvena {

struct Stack {
    RefArray items;  // bottom first

    Stack() = default;
    Stack(Stack &&) noexcept = default;

    void push(Ref value) { items.push_back(std::move(value)); }

    Ref peek() const { return items.empty() ? Ref::none() : Ref::borrow(items.back()); }

    Ref pop() { return items.empty() ? Ref::none() : items.pop_back(); }

    std::uint64_t size() const { return items.size(); }

    void swap(std::optional<std::uint64_t> index_arg) {
        std::uint64_t index = index_arg.value_or(1);
        std::uint64_t count = items.size();
        // The order of these checks decides which message each edge case gets.
        if (index > count) throw_value_error("Index out of bounds");
        if (count == 0) throw_value_error("Stack is currently empty");
        if (count == 1) throw_value_error("Only 1 element available in Stack - Cannot swap");
        if (index == 0) return;
        if (index == count) throw_value_error("Index out of bounds");
        items.swap(count - 1, count - 1 - index);
    }

    // Top down, as the stack is read.
    bool contains(PyObject *value) const { return position_of(std::views::reverse(items), value).has_value(); }

    Stack copy() const {
        Stack out;
        out.items = items.clone();
        return out;
    }

    bool is_empty() const { return items.empty(); }

    Ref to_list() const { return values_list(items.size(), std::views::reverse(items)); }

    void reverse() {
        if (items.size() < 2) throw_value_error("Reverse will have no effect on current Stack");
        items.reverse();
    }

    void update_top(Ref value) {
        if (items.empty()) throw_value_error("No current top available in Stack");
        items.set(items.size() - 1, std::move(value));
    }

    void clear() { items.clear_from_back(); }

    // The elements bottom first.
    Ref state() const { return make_tuple(values_list(items.size(), items)); }

    static Stack from_state(const StateReader &state) {
        state.fields(1);
        List elements = state.list(0, "the elements");
        Stack out;
        for (Py_ssize_t i = 0; i < elements.size(); ++i) out.items.push_back(Ref::borrow(elements[i]));
        return out;
    }
    void visit(Visitor &v) const { items.visit(v); }
    struct Cursor : RefArrayCursor<true> {
        Ref next(const Stack &stack) noexcept { return RefArrayCursor::next(stack.items); }
    };
    Cursor cursor() const { return {}; }
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
                                        .contains<&Stack::contains>()
                                        .repr<&Stack::to_list>()
                                        .pickle<&Stack::state, &Stack::from_state>()
                                        .gc<&Stack::visit>()
                                        .iter<&Stack::cursor>();

}  // namespace morvena
