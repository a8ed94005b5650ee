// Pickling and deep copies, the frame feature every class shares. A class names
// two hooks, `.pickle<&T::state, &T::from_state>()`, and gets
//   __reduce__()        -> (maker, constructor arguments, state)
//   __setstate__(state)    rebuilds the contents from a state
// The contents travel as the state, restored after the object exists, so
// pickle's memo (and copy.deepcopy's) resolves shared and self-referencing
// elements, a structure that contains itself included. Constructor arguments
// come from an optional `init_args()`; without it the class is called bare.
// The state hook is a const member or a function of a const state; the
// restoring builder a function of a StateReader that returns a new state.
//
// A state is untrusted input (a pickle can come from anywhere): `from_state`
// reads it through a StateReader, which checks every field's type and range,
// and builds a complete new state off to the side. Only when that succeeded is
// it swapped in, so a bad state raises and leaves the object as it was.
#pragma once

#include "pyclass.hpp"

#include <bit>
#include <cstring>
#include <functional>
#include <string>

namespace morvena {

class StateReader {
public:
    StateReader(PyObject *state, const char *class_name) : state_(state), class_name_(class_name) {}

    // The state must be a tuple of exactly `count` fields.
    void fields(std::size_t count) const;
    PyObject *field(std::size_t i) const noexcept { return PyTuple_GET_ITEM(state_, static_cast<Py_ssize_t>(i)); }

    // Type- and range-checked readers; `what` names the field in messages.
    std::uint64_t u64_of(PyObject *obj, const char *what) const;
    std::int32_t i32_of(PyObject *obj, const char *what) const;
    double real_of(PyObject *obj, const char *what) const;
    bool flag_of(PyObject *obj, const char *what) const;
    // An exact list, read in place by the caller.
    List list_of(PyObject *obj, const char *what) const;
    // An exact tuple of `count` items.
    PyObject *tuple(PyObject *obj, std::size_t count, const char *what) const;
    // An exact str as UTF-8.
    std::string_view text(PyObject *obj, const char *what) const;
    // Exact bytes whose length is a multiple of `unit`.
    std::string_view bytes_of(PyObject *obj, std::size_t unit, const char *what) const;
    // New references to a list's items: code run while they are checked (a
    // key's __index__, an element's __lt__) cannot pull them from under us.
    std::vector<Ref> items(PyObject *obj, const char *what) const;

    std::uint64_t u64(std::size_t i, const char *what) const { return u64_of(field(i), what); }
    double real(std::size_t i, const char *what) const { return real_of(field(i), what); }
    bool flag(std::size_t i, const char *what) const { return flag_of(field(i), what); }
    List list(std::size_t i, const char *what) const { return list_of(field(i), what); }
    std::string_view bytes(std::size_t i, std::size_t unit, const char *what) const {
        return bytes_of(field(i), unit, what);
    }

    // ValueError "invalid {Class} state: {detail}".
    [[noreturn, gnu::cold, gnu::noinline]] void invalid(std::string_view detail) const;
    // OverflowError for a number outside the range the field allows.
    [[noreturn, gnu::cold, gnu::noinline]] void out_of_range(const char *what) const;
    // Filters store bits derived from hash(), which for str and bytes depends on
    // the process: refuses a state recorded under another hashing.
    void same_hashing(PyObject *fingerprint) const;

private:
    [[noreturn, gnu::cold, gnu::noinline]] void wrong_type(PyObject *obj, const char *what, const char *expected) const;

    PyObject *state_;
    const char *class_name_;
};

// The callable a pickle names to make an instance of one of our classes: their
// types say they live in `builtins`, where pickle could not find them by name.
Ref restore_function();

// What the filters record of this process's str and bytes hashing.
Ref hashing_fingerprint();

// Packed little-endian words: the states of large arrays of numbers travel as
// bytes, which pickle copies in one piece instead of one object per number.
inline std::uint64_t load_u64(const char *p) noexcept {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return word;
}

inline void store_u64(char *p, std::uint64_t word) noexcept {
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    std::memcpy(p, &word, 8);
}

// A bytes object of `size` bytes, written in place before anyone sees it.
class BytesBuilder {
public:
    explicit BytesBuilder(std::size_t size)
        : bytes_(checked(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)))) {}
    char *data() noexcept { return PyBytes_AS_STRING(bytes_.get()); }
    Ref finish() && { return std::move(bytes_); }

private:
    Ref bytes_;
};

// A tuple made of the given references.
template <class... R>
Ref make_tuple(R &&...items) {
    Ref tuple = checked(PyTuple_New(sizeof...(R)));
    Py_ssize_t i = 0;
    (PyTuple_SET_ITEM(tuple.get(), i++, Ref(std::move(items)).release()), ...);
    return tuple;
}

// `items` put roughly in the order of the addresses `address(item)` gives, by
// a counting sort into at most 2^12 ranges of the address span: three linear
// passes over a compact array. A hash table's elements listed in slot order lie
// all over memory, so increfing them and then pickling them would miss the
// cache at every one; in address order both walks stream through memory.
template <class Item, class Address>
std::vector<Item> by_address(std::vector<Item> items, Address &&address) {
    if (items.size() < 2) return items;
    std::uintptr_t low = UINTPTR_MAX, high = 0;
    for (const Item &item : items) {
        auto at = reinterpret_cast<std::uintptr_t>(address(item));
        low = std::min(low, at);
        high = std::max(high, at);
    }
    // The span shifted right until it fits 2^12 ranges (no division per item):
    // few enough that the scatter writes stay in cache, small enough (a few
    // kilobytes each for a million objects) to keep the objects close.
    unsigned shift = 0;
    while (((high - low) >> shift) >= (std::uintptr_t{1} << 12)) ++shift;
    auto range_of = [&](const Item &item) {
        return static_cast<std::size_t>((reinterpret_cast<std::uintptr_t>(address(item)) - low) >> shift);
    };
    std::vector<std::size_t> start(((high - low) >> shift) + 2);
    for (const Item &item : items) ++start[range_of(item) + 1];
    for (std::size_t r = 1; r < start.size(); ++r) start[r] += start[r - 1];
    std::vector<Item> out(items.size());
    for (const Item &item : items) out[start[range_of(item)]++] = item;
    return out;
}

template <class T, auto State>
PyObject *slot_reduce(PyObject *self, PyObject *) noexcept {
    try {
        Instance<T> &inst = receiver<T>(self, class_name_of<T>);
        SharedBorrow borrow(inst.borrow);
        Ref args;
        if constexpr (requires { inst.state.init_args(); })
            args = inst.state.init_args();
        else
            args = checked(PyTuple_New(0));
        Ref state = std::invoke(State, std::as_const(inst.state));
        return make_tuple(restore_function(), make_tuple(to_python(std::string_view(class_name_of<T>)), std::move(args)),
                          std::move(state))
            .release();
    } catch (...) {
        raise_current_exception();
        return nullptr;
    }
}

template <class T, auto Restore>
PyObject *slot_setstate(PyObject *self, PyObject *state) noexcept {
    static_assert(std::is_nothrow_move_constructible_v<T>, "the swap that installs a state must not fail");
    try {
        Instance<T> &inst = receiver<T>(self, class_name_of<T>);
        ExclusiveBorrow borrow(inst.borrow);
        T fresh = Restore(StateReader(state, class_name_of<T>));
        // The old contents are released after the new ones are in place and
        // while the borrow is still held, so a finaliser finds a whole object.
        T old(std::move(inst.state));
        inst.state.~T();
        new (&inst.state) T(std::move(fresh));
        check_invariants(inst.state);
        return Ref::none().release();
    } catch (...) {
        raise_current_exception();
        return nullptr;
    }
}

template <class T>
template <auto State, auto Restore>
PyClass<T> &&PyClass<T>::pickle() && {
    rows_.push_back({"__reduce__", &slot_reduce<T, State>, METH_NOARGS, "__reduce__($self)\n--\n\n"});
    rows_.push_back({"__setstate__", &slot_setstate<T, Restore>, METH_O, "__setstate__($self, state)\n--\n\n"});
    return std::move(*this);
}

}  // namespace morvena
