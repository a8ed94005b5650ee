// The text half of repr(): it runs once per call and only on Python objects, so
// it stays out of line. Everything here may run user code (element reprs).
#include "repr.hpp"
#include "convert.hpp"

namespace morvena {

namespace {

Ref type_name(PyObject *self) { return checked(PyType_GetName(Py_TYPE(self))); }

Ref wrapped(PyObject *self, PyObject *inner) {
    Ref name = type_name(self);
    return checked(PyUnicode_FromFormat("%U(%U)", name.get(), inner));
}

Ref joined(const std::vector<Ref> &parts, const char *open, const char *close) {
    Ref list = checked(PyList_New(static_cast<Py_ssize_t>(parts.size())));
    for (std::size_t i = 0; i < parts.size(); ++i)
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), parts[i].clone().release());
    Ref separator = checked(PyUnicode_FromString(", "));
    Ref body = checked(PyUnicode_Join(separator.get(), list.get()));
    return checked(PyUnicode_FromFormat("%s%U%s", open, body.get(), close));
}

// The items come from the map's own listing, so each is an exact 2-tuple.
Ref mapping_text(PyObject *items) {
    std::vector<Ref> parts;
    parts.reserve(static_cast<std::size_t>(PyList_GET_SIZE(items)));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items); ++i) {
        PyObject *pair = PyList_GET_ITEM(items, i);
        if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2) throw_panic("map listing is not of pairs");
        Ref key = checked(PyObject_Repr(PyTuple_GET_ITEM(pair, 0)));
        Ref value = checked(PyObject_Repr(PyTuple_GET_ITEM(pair, 1)));
        parts.push_back(checked(PyUnicode_FromFormat("%U: %U", key.get(), value.get())));
    }
    return joined(parts, "{", "}");
}

}  // namespace

Ref repr_text(PyObject *self, Ref listing, ReprForm form) {
    Ref inner = form == ReprForm::mapping ? mapping_text(listing.get()) : checked(PyObject_Repr(listing.get()));
    return wrapped(self, inner.get());
}

Ref repr_text(PyObject *self, const ReprFields &fields) {
    std::vector<Ref> parts;
    parts.reserve(fields.fields.size());
    for (const auto &[name, value] : fields.fields) {
        Ref number = std::visit([](auto n) { return to_python(n); }, value);
        Ref text = checked(PyObject_Repr(number.get()));
        parts.push_back(checked(PyUnicode_FromFormat("%s=%U", name, text.get())));
    }
    Ref inner = joined(parts, "", "");
    return wrapped(self, inner.get());
}

Ref recursive_repr_text(PyObject *self) {
    Ref dots = checked(PyUnicode_FromString("..."));
    return wrapped(self, dots.get());
}

}  // namespace morvena
