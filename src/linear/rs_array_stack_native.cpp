// ArrayStack: a LIFO of Python objects in a contiguous array, index 0 the bottom,
// with an optional limit on its size. Invariant: with `max_size` not 0 the array
// never holds more than `max_size` elements.
//
// The array (RefArray) grows by doubling and is not preallocated to the limit,
// so a large limit costs nothing until it is used; push and pop at the top touch
// one slot.
#include "linear/sequence.hpp"
#include "pickle.hpp"

namespace morvena {

namespace {
constexpr const char *empty_message = "No elements currently available in Stack";
}  // namespace

struct ArrayStack {
    RefArray elements;
    std::uint64_t max_size = 0;  // 0: no limit

    explicit ArrayStack(std::optional<std::uint64_t> size) : max_size(size.value_or(0)) {}

    void push(Ref value) {
        if (is_full()) throw_value_error("Stack is at max capacity");
        elements.push_back(std::move(value));
    }

    Ref pop() {
        if (elements.empty()) throw_value_error(empty_message);
        return elements.pop_back();
    }

    Ref peek() const {
        if (elements.empty()) throw_value_error(empty_message);
        return Ref::borrow(elements.back());
    }

    std::uint64_t size() const { return elements.size(); }

    void swap(std::uint64_t index) {
        if (elements.empty()) throw_value_error(empty_message);
        if (index >= elements.size()) throw_value_error("Index out of bounds");
        if (elements.size() == 1) throw_value_error("Only 1 element available in Stack - Cannot swap");
        elements.swap(index, elements.size() - 1);
    }

    bool contains(PyObject *value) const { return position_of(elements, value).has_value(); }

    ArrayStack copy() const {
        if (elements.empty()) throw_value_error("No elements in Stack to copy");
        ArrayStack out(max_size);
        out.elements = elements.clone();
        return out;
    }

    bool is_empty() const { return elements.empty(); }

    bool is_full() const { return max_size != 0 && elements.size() >= max_size; }

    // -1 for an empty stack: there is no top, and -1 is never a valid index.
    std::int64_t top_index() const { return static_cast<std::int64_t>(elements.size()) - 1; }

    void reverse() {
        if (elements.empty()) throw_value_error(empty_message);
        elements.reverse();
    }

    Ref to_list() const { return values_list(elements.size(), elements); }

    // All or nothing against the limit: a list that cannot fit is refused
    // before anything is pushed. Pushing runs no Python code, so the list
    // cannot change under the loop.
    void extend(List iterable) {
        auto incoming = static_cast<std::uint64_t>(iterable.size());
        if (max_size != 0 && incoming > max_size - elements.size())
            throw_value_error("Stack doens't have enough capacity for these elements");
        for (Py_ssize_t i = 0; i < iterable.size(); ++i) push(Ref::borrow(iterable[i]));
    }

    void update_top(Ref value) {
        if (elements.empty()) throw_value_error(empty_message);
        elements.set(elements.size() - 1, std::move(value));
    }

    void clear() { elements.clear_from_back(); }

    void visit(Visitor &v) const { elements.visit(v); }
    struct Cursor : RefArrayCursor<false> {
        Ref next(const ArrayStack &stack) noexcept { return RefArrayCursor::next(stack.elements); }
    };
    Cursor cursor() const { return {}; }

    void check() const {
        if (max_size != 0 && elements.size() > max_size) throw_panic("ArrayStack holds more than its limit");
    }

    Ref init_args() const { return make_tuple(to_python(max_size)); }

    // The limit and the elements bottom first.
    Ref state() const { return make_tuple(to_python(max_size), values_list(elements.size(), elements)); }

    static ArrayStack from_state(const StateReader &state) {
        state.fields(2);
        ArrayStack out(state.u64(0, "the size limit"));
        List items = state.list(1, "the elements");
        if (out.max_size != 0 && static_cast<std::uint64_t>(items.size()) > out.max_size)
            state.invalid("more elements than the size limit");
        for (Py_ssize_t i = 0; i < items.size(); ++i) out.elements.push_back(Ref::borrow(items[i]));
        return out;
    }
};

extern const ClassDef array_stack_class = PyClass<ArrayStack>("ArrayStack")
                                              .init<std::optional<std::uint64_t>>({"size"})
                                              .method<&ArrayStack::push>("push", {"value"})
                                              .method<&ArrayStack::pop>("pop")
                                              .method<&ArrayStack::peek>("peek")
                                              .method<&ArrayStack::size>("size")
                                              .method<&ArrayStack::swap>("swap", {"index"})
                                              .method<&ArrayStack::contains>("contains", {"value"})
                                              .method<&ArrayStack::copy>("copy")
                                              .method<&ArrayStack::is_empty>("is_empty")
                                              .method<&ArrayStack::is_full>("is_full")
                                              .method<&ArrayStack::top_index>("top_index")
                                              .method<&ArrayStack::reverse>("reverse")
                                              .method<&ArrayStack::to_list>("to_list")
                                              .method<&ArrayStack::extend>("extend", {"iterable"})
                                              .method<&ArrayStack::update_top>("update_top", {"value"})
                                              .method<&ArrayStack::clear>("clear")
                                              .repr<&ArrayStack::to_list>()
                                              .pickle<&ArrayStack::state, &ArrayStack::from_state>()
                                              .contains<&ArrayStack::contains>()
                                              .gc<&ArrayStack::visit>()
                                              .iter<&ArrayStack::cursor>();

}  // namespace morvena
