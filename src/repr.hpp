// repr() for every class: "Name(<contents>)", where the class's hook picks the
// contents (its main listing, its pairs, or a few sizing fields). The hook runs
// under the shared borrow and hands back new Python objects, so the element
// reprs that follow run with no borrow held and can touch the structure freely.
// Py_ReprEnter marks the instance while its contents are shown: an instance met
// again inside itself prints as "Name(...)", the way list prints "[...]".
#pragma once

#include "instance.hpp"

#include <cstdint>
#include <utility>
#include <variant>
#include <vector>

namespace morvena {

// Named numbers shown as "name=value, ..." (each value by its Python repr): the
// form for classes whose contents are too large or not stored at all.
struct ReprFields {
    std::vector<std::pair<const char *, std::variant<std::uint64_t, double>>> fields;
};

// How a hook's result is laid out between the parentheses.
enum class ReprForm {
    listing,  // a list, shown by its own repr
    mapping,  // a list of (key, value) tuples, shown as {key: value, ...}
};

Ref repr_text(PyObject *self, Ref listing, ReprForm form);
Ref repr_text(PyObject *self, const ReprFields &fields);
Ref recursive_repr_text(PyObject *self);

// Py_ReprEnter/Py_ReprLeave as one scope.
class ReprScope {
public:
    explicit ReprScope(PyObject *self) : self_(self), entered_(Py_ReprEnter(self)) {
        if (entered_ < 0) throw_python_error();
    }
    ~ReprScope() {
        if (entered_ == 0) Py_ReprLeave(self_);
    }
    ReprScope(const ReprScope &) = delete;
    ReprScope &operator=(const ReprScope &) = delete;
    bool recursive() const noexcept { return entered_ > 0; }

private:
    PyObject *self_;
    int entered_;
};

// `Empty` (a const bool member, or nullptr) guards listings that raise on an
// empty structure: an empty one shows as "Name([])".
template <class T, auto Hook, auto Empty, ReprForm Form>
PyObject *slot_repr(PyObject *self) noexcept {
    try {
        Instance<T> &inst = receiver<T>(self, class_name_of<T>);
        ReprScope scope(self);
        if (scope.recursive()) return recursive_repr_text(self).release();
        auto shown = [&] {
            SharedBorrow borrow(inst.borrow);
            if constexpr (!std::is_null_pointer_v<decltype(Empty)>)
                if ((inst.state.*Empty)()) return checked(PyList_New(0));
            return (inst.state.*Hook)();
        }();
        if constexpr (std::is_same_v<decltype(shown), ReprFields>)
            return repr_text(self, shown).release();
        else
            return repr_text(self, std::move(shown), Form).release();
    } catch (...) {
        raise_current_exception();
        return nullptr;
    }
}

}  // namespace morvena
