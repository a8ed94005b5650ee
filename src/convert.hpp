// Argument kinds and result conversions, chosen by C++ type:
//   PyObject * (any object, borrowed), Ref (any object, owned), uint64_t,
//   int64_t, int32_t, double, bool (exactly True/False), std::string_view and
//   std::string (str), List (a list, read in place), std::vector<X> (a sequence
//   of X, never a str), std::tuple<X...> (a tuple of fixed length),
//   std::optional<X> (None or omitted means the default) and Shared<T> (another
//   instance of class T, read under a shared borrow).
// A failed conversion leaves its Python exception set and throws PyError, so the
// binder can prefix TypeErrors with the parameter's name. Operations converting
// items they were given call from_python() directly and get the bare message.
#pragma once

#include "instance.hpp"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace morvena {

// A list argument: the caller's list itself, borrowed for the call.
struct List {
    PyObject *obj;
    Py_ssize_t size() const noexcept { return PyList_GET_SIZE(obj); }
    PyObject *operator[](Py_ssize_t i) const noexcept { return PyList_GET_ITEM(obj, i); }
};

template <class X>
struct Arg;

template <class X>
X from_python(PyObject *obj) {
    return Arg<X>::from(obj);
}

template <>
struct Arg<PyObject *> {
    static PyObject *from(PyObject *obj) noexcept { return obj; }
};

template <>
struct Arg<Ref> {
    static Ref from(PyObject *obj) noexcept { return Ref::borrow(obj); }
};

// Integers go through __index__ (ints, bools, int subclasses); exact ints skip
// the extra call. Range errors are the interpreter's own OverflowErrors.
template <class Int, auto convert>
struct IndexArg {
    static Int from(PyObject *obj) {
        if (PyLong_CheckExact(obj)) return value_of(obj);
        Ref index = checked(PyNumber_Index(obj));
        return value_of(index.get());
    }
    static Int value_of(PyObject *number) {
        auto value = convert(number);
        if (value == static_cast<decltype(value)>(-1) && PyErr_Occurred()) throw PyError{};
        return static_cast<Int>(value);
    }
};

template <>
struct Arg<std::uint64_t> : IndexArg<std::uint64_t, PyLong_AsUnsignedLongLong> {};
template <>
struct Arg<std::int64_t> : IndexArg<std::int64_t, PyLong_AsLong> {};

template <>
struct Arg<std::int32_t> {
    static std::int32_t from(PyObject *obj) {
        std::int64_t value = Arg<std::int64_t>::from(obj);
        if (value < INT32_MIN || value > INT32_MAX) {
            PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
            throw PyError{};
        }
        return static_cast<std::int32_t>(value);
    }
};

template <>
struct Arg<double> {
    static double from(PyObject *obj) {
        if (PyFloat_CheckExact(obj)) return PyFloat_AS_DOUBLE(obj);
        double value = PyFloat_AsDouble(obj);
        if (value == -1.0 && PyErr_Occurred()) throw PyError{};
        return value;
    }
};

template <>
struct Arg<bool> {
    static bool from(PyObject *obj) {
        if (!Py_IS_TYPE(obj, &PyBool_Type)) throw_downcast_error(obj, "PyBool");
        return obj == Py_True;
    }
};

template <>
struct Arg<std::string_view> {
    // The view points into the str object, which outlives the call.
    static std::string_view from(PyObject *obj) {
        if (!PyUnicode_Check(obj)) throw_downcast_error(obj, "PyString");
        Py_ssize_t size = 0;
        const char *data = PyUnicode_AsUTF8AndSize(obj, &size);
        if (!data) throw PyError{};
        return {data, static_cast<std::size_t>(size)};
    }
};

template <>
struct Arg<std::string> {
    static std::string from(PyObject *obj) { return std::string(Arg<std::string_view>::from(obj)); }
};

template <>
struct Arg<List> {
    static List from(PyObject *obj) {
        if (!PyList_Check(obj)) throw_downcast_error(obj, "PyList");
        return List{obj};
    }
};

// Another instance of class T given as an argument, borrowed shared until the
// call returns, so user code run by the call cannot change it. Passing the
// receiver of a mutating method as its own argument is refused here with the
// borrow error, as any other conflicting borrow is.
template <class T>
class Shared {
public:
    explicit Shared(Instance<T> &inst) : inst_(&inst) {
        if (inst.borrow == -1) throw_error(PyExc_RuntimeError, "Already mutably borrowed");
        ++inst.borrow;
    }
    Shared(Shared &&other) noexcept : inst_(std::exchange(other.inst_, nullptr)) {}
    Shared &operator=(Shared &&) = delete;
    ~Shared() {
        if (inst_) --inst_->borrow;
    }
    const T &operator*() const noexcept { return inst_->state; }
    const T *operator->() const noexcept { return &inst_->state; }

private:
    Instance<T> *inst_;
};

template <class T>
struct Arg<Shared<T>> {
    static Shared<T> from(PyObject *obj) { return Shared<T>(receiver<T>(obj, class_name_of<T>)); }
};

template <class X>
struct Arg<std::optional<X>> {
    // NULL stands for an omitted parameter.
    static std::optional<X> from(PyObject *obj) {
        if (!obj || obj == Py_None) return std::nullopt;
        return Arg<X>::from(obj);
    }
};

[[noreturn, gnu::cold, gnu::noinline]] void throw_str_to_vec_error();
[[noreturn, gnu::cold, gnu::noinline]] void throw_tuple_length_error(std::size_t expected, Py_ssize_t got);

// Calls f(item) for each item the iterator yields; the item is borrowed for the
// call. An iteration error ends the loop with that error.
template <class F>
void for_each_item(PyObject *iterable, F &&f) {
    // Exact lists and tuples are read in place, skipping the iterator object. The
    // size is re-read on every step, as the list iterator does, so a list changed
    // by code that `f` runs is seen just as iteration would see it.
    if (PyList_CheckExact(iterable) || PyTuple_CheckExact(iterable)) {
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(iterable); ++i) {
            Ref item = Ref::borrow(PySequence_Fast_GET_ITEM(iterable, i));
            f(item.get());
        }
        return;
    }
    Ref iterator = checked(PyObject_GetIter(iterable));
    while (PyObject *next = PyIter_Next(iterator.get())) {
        Ref item = Ref::steal(next);
        f(item.get());
    }
    if (PyErr_Occurred()) throw_python_error();
}

// How many items to reserve for a sequence that is about to be iterated. An exact
// list or tuple knows its size; any other sequence's __len__ is only a claim (it
// may say 2**62 and hold three items), so it is capped and the vector grows as the
// items actually arrive.
inline std::size_t size_hint(PyObject *sequence) {
    constexpr Py_ssize_t untrusted_cap = 4096;
    if (PyList_CheckExact(sequence) || PyTuple_CheckExact(sequence))
        return static_cast<std::size_t>(PySequence_Fast_GET_SIZE(sequence));
    Py_ssize_t hint = PySequence_Size(sequence);
    if (hint < 0) {
        discard_python_error();
        return 0;
    }
    return static_cast<std::size_t>(std::min(hint, untrusted_cap));
}

template <class X>
struct Arg<std::vector<X>> {
    static std::vector<X> from(PyObject *obj) {
        if (PyUnicode_Check(obj)) throw_str_to_vec_error();
        if (!PySequence_Check(obj)) throw_downcast_error(obj, "Sequence");
        std::vector<X> items;
        items.reserve(size_hint(obj));
        for_each_item(obj, [&](PyObject *item) { items.push_back(Arg<X>::from(item)); });
        return items;
    }
};

template <class... X>
struct Arg<std::tuple<X...>> {
    static std::tuple<X...> from(PyObject *obj) {
        if (!PyTuple_Check(obj)) throw_downcast_error(obj, "PyTuple");
        if (PyTuple_GET_SIZE(obj) != sizeof...(X)) throw_tuple_length_error(sizeof...(X), PyTuple_GET_SIZE(obj));
        return items(obj, std::index_sequence_for<X...>{});
    }
    template <std::size_t... I>
    static std::tuple<X...> items(PyObject *obj, std::index_sequence<I...>) {
        // A braced list converts left to right, so the first bad item is reported.
        return std::tuple<X...>{Arg<X>::from(PyTuple_GET_ITEM(obj, I))...};
    }
};

// ---------------------------------------------------------------------------
// Results. Every overload returns an owned reference or throws.

inline Ref to_python(Ref &&obj) noexcept { return std::move(obj); }
inline Ref to_python(bool value) noexcept { return Ref::borrow(value ? Py_True : Py_False); }
inline Ref to_python(std::uint64_t value) { return checked(PyLong_FromUnsignedLongLong(value)); }
inline Ref to_python(std::int64_t value) { return checked(PyLong_FromLong(value)); }
inline Ref to_python(std::int32_t value) { return checked(PyLong_FromLong(value)); }
inline Ref to_python(double value) { return checked(PyFloat_FromDouble(value)); }
inline Ref to_python(float value) { return to_python(static_cast<double>(value)); }
inline Ref to_python(std::string_view text) {
    return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}
inline Ref to_python(const std::string &text) { return to_python(std::string_view(text)); }
inline Ref to_python(std::string &&text) { return to_python(std::string_view(text)); }

template <class X>
Ref to_python(std::optional<X> &&value);
template <class X>
Ref to_python(std::vector<X> &&items);
template <class... X>
Ref to_python(std::tuple<X...> &&items);
template <class A, class B>
Ref to_python(std::pair<A, B> &&items);

// A class's own state type becomes a new instance of that class (copies).
template <class T>
    requires std::is_class_v<T> && requires { class_type<T>; }
Ref to_python(T &&state) {
    return wrap(std::move(state));
}

// Builds a list of exactly the announced length: a mismatch is a broken
// invariant of the structure that produced the items.
class ListBuilder {
public:
    explicit ListBuilder(std::size_t size)
        : list_(checked(PyList_New(static_cast<Py_ssize_t>(size)))), size_(static_cast<Py_ssize_t>(size)) {}
    void push(Ref item) {
        if (next_ >= size_) throw_panic("list built with more items than announced");
        PyList_SET_ITEM(list_.get(), next_++, item.release());
    }
    void push_borrowed(PyObject *item) { push(Ref::borrow(item)); }
    Ref finish() && {
        if (next_ != size_) throw_panic("list built with fewer items than announced");
        return std::move(list_);
    }

private:
    Ref list_;
    Py_ssize_t size_;
    Py_ssize_t next_ = 0;
};

// A new dict holding the entries in the order given (the order users see).
inline Ref make_dict(std::initializer_list<std::pair<const char *, Ref>> entries) {
    Ref dict = checked(PyDict_New());
    for (const auto &[name, value] : entries)
        if (PyDict_SetItemString(dict.get(), name, value.get()) < 0) throw_python_error();
    return dict;
}

template <class X>
Ref to_python(std::vector<X> &&items) {
    ListBuilder list(items.size());
    for (auto &item : items) list.push(to_python(std::move(item)));
    return std::move(list).finish();
}

template <class X>
Ref to_python(std::optional<X> &&value) {
    if (!value) return Ref::none();
    return to_python(std::move(*value));
}

template <class... X>
Ref to_python(std::tuple<X...> &&items) {
    Ref tuple = checked(PyTuple_New(sizeof...(X)));
    std::apply(
        [&](auto &&...item) {
            Py_ssize_t i = 0;
            (PyTuple_SET_ITEM(tuple.get(), i++, to_python(std::move(item)).release()), ...);
        },
        items);
    return tuple;
}

template <class A, class B>
Ref to_python(std::pair<A, B> &&items) {
    return to_python(std::tuple<A, B>(std::move(items.first), std::move(items.second)));
}

}  // namespace morvena
