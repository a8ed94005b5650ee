// How stored Python elements are compared, ordered, hashed and named in
// messages. Any of these may run user code (__eq__, __lt__, __hash__, __str__),
// which may call back into the structure: the caller's borrow flag refuses that.
#pragma once

#include "convert.hpp"

namespace morvena {

// Equality with the stored element on the left, so its __eq__ is tried first.
// There is deliberately no identity shortcut: a NaN is not equal to itself.
inline bool equals(PyObject *stored, PyObject *probe) {
    Ref result = checked(PyObject_RichCompare(stored, probe, Py_EQ));
    if (result.get() == Py_True) return true;
    if (result.get() == Py_False) return false;
    int truth = PyObject_IsTrue(result.get());
    if (truth < 0) throw_python_error();
    return truth != 0;
}

// The sequences' scans: a comparison that raises counts as "not equal" and the
// scan goes on. An abort is never swallowed.
inline bool equals_or_false(PyObject *stored, PyObject *probe) {
    try {
        return equals(stored, probe);
    } catch (const PyError &) {
        discard_python_error();
        return false;
    }
}

enum class Ordering { Less, Equal, Greater };

// Three-way order by <, then >, then ==; none holding (NaN) is an error, and an
// exception from any step ends the comparison. Classes word the unordered case
// differently, so the caller may name its message.
[[gnu::noinline]] Ordering compare_objects(PyObject *a, PyObject *b, std::string_view unordered);

// Ordered structures spend most of their time here, so pairs of exact ints,
// floats or strs are ordered natively: their rich comparisons cannot be
// overridden and give exactly these answers (a NaN still orders nowhere).
inline Ordering compare(PyObject *a, PyObject *b, std::string_view unordered = "Cannot compare Python Objects") {
    if (PyLong_CheckExact(a) && PyLong_CheckExact(b)) {
        int overflow_a = 0, overflow_b = 0;
        long long x = PyLong_AsLongLongAndOverflow(a, &overflow_a);
        long long y = PyLong_AsLongLongAndOverflow(b, &overflow_b);
        if (!overflow_a && !overflow_b) return x < y ? Ordering::Less : x > y ? Ordering::Greater : Ordering::Equal;
    } else if (PyFloat_CheckExact(a) && PyFloat_CheckExact(b)) {
        double x = PyFloat_AS_DOUBLE(a), y = PyFloat_AS_DOUBLE(b);
        if (x < y) return Ordering::Less;
        if (x > y) return Ordering::Greater;
        if (x == y) return Ordering::Equal;
    } else if (PyUnicode_CheckExact(a) && PyUnicode_CheckExact(b)) {
        int order = PyUnicode_Compare(a, b);
        return order < 0 ? Ordering::Less : order > 0 ? Ordering::Greater : Ordering::Equal;
    }
    return compare_objects(a, b, unordered);
}

// str() of an element for a message; str() raising is an internal abort.
std::string element_text(PyObject *obj);

inline Py_hash_t element_hash(PyObject *obj) {
    Py_hash_t hash = PyObject_Hash(obj);
    if (hash == -1) throw_python_error();
    return hash;
}

// A list holding new references to the elements a range yields, in order.
template <class Range, class Get>
Ref element_list(std::size_t size, const Range &range, Get &&get) {
    ListBuilder list(size);
    for (const auto &item : range) list.push_borrowed(get(item));
    return std::move(list).finish();
}

}  // namespace morvena
