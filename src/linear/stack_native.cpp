// Stack: an unbounded LIFO of Python objects. Depth counts from the top (0).
// The elements live in one contiguous array whose last slot is the top, so push
// and pop cost no allocation, depth d is slot count-1-d, and releasing millions
// of elements is a plain loop. Invariant: every slot holds one owned reference.
#include "elements.hpp"
#include "pyclass.hpp"

#include <algorithm>
#include <vector>

namespace morvena {

struct Stack {
    std::vector<Ref> items;  // bottom first

    Stack() = default;
    Stack(Stack &&) noexcept = default;

    void push(Ref value) { items.push_back(std::move(value)); }

    Ref peek() const { return items.empty() ? Ref::none() : items.back().clone(); }

    Ref pop() {
        if (items.empty()) return Ref::none();
        Ref value = std::move(items.back());
        items.pop_back();
        return value;
    }

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
        std::swap(items.back(), items[count - 1 - index]);
    }

    bool contains(PyObject *value) const {
        // Top down, as the stack is read; an element's __eq__ may read the
        // stack but cannot change it (the borrow flag refuses), so the
        // iterators stay valid.
        return std::any_of(items.rbegin(), items.rend(),
                           [&](const Ref &item) { return equals_or_false(item.get(), value); });
    }

    Stack copy() const {
        Stack out;
        out.items.reserve(items.size());
        for (const Ref &item : items) out.items.push_back(item.clone());
        return out;
    }

    bool is_empty() const { return items.empty(); }

    Ref to_list() const {
        ListBuilder list(items.size());
        for (auto it = items.rbegin(); it != items.rend(); ++it) list.push(it->clone());
        return std::move(list).finish();
    }

    void reverse() {
        if (items.size() < 2) throw_value_error("Reverse will have no effect on current Stack");
        std::reverse(items.begin(), items.end());
    }

    void update_top(Ref value) {
        if (items.empty()) throw_value_error("No current top available in Stack");
        items.back() = std::move(value);
    }

    void clear() {
        // Detach first (releasing the elements may run finalisers), then
        // release from the top down, the order a stack gives up its elements.
        std::vector<Ref> old = std::exchange(items, {});
        while (!old.empty()) old.pop_back();
    }

    ~Stack() { clear(); }
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
