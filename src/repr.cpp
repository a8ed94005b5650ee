// The text half of repr(): it runs once per call and only on Python objects, so
// it stays out of line. Everything here may run user code (element reprs).
#include "repr.hpp"
#include "convert.hpp"

namespace morvena {

namespace {

// The pieces of one repr, joined once at the end: a format call per element
// would cost more than the element reprs themselves.
class Pieces {
public:
    void add(PyObject *piece) {
        if (PyList_Append(list_.get(), piece) < 0) throw_python_error();
    }
    void add_repr(PyObject *obj) { add(checked(PyObject_Repr(obj)).get()); }
    Ref text() const {
        Ref empty = checked(PyUnicode_FromStringAndSize("", 0));
        return checked(PyUnicode_Join(empty.get(), list_.get()));
    }

private:
    Ref list_ = checked(PyList_New(0));
};

Ref text(const char *s) { return checked(PyUnicode_FromString(s)); }

Ref wrapped(PyObject *self, PyObject *inner) {
    Ref name = checked(PyType_GetName(Py_TYPE(self)));
    return checked(PyUnicode_FromFormat("%U(%U)", name.get(), inner));
}

// The items come from the map's own listing, so each is an exact 2-tuple.
Ref mapping_text(PyObject *items) {
    Ref comma = text(", "), colon = text(": ");
    Pieces pieces;
    pieces.add(text("{").get());
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items); ++i) {
        PyObject *pair = PyList_GET_ITEM(items, i);
        if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2) throw_panic("map listing is not of pairs");
        if (i > 0) pieces.add(comma.get());
        // The list holds the pair, and the pair its key and value, while their
        // reprs run, whatever those reprs do to the map.
        pieces.add_repr(PyTuple_GET_ITEM(pair, 0));
        pieces.add(colon.get());
        pieces.add_repr(PyTuple_GET_ITEM(pair, 1));
    }
    pieces.add(text("}").get());
    return pieces.text();
}

}  // namespace

Ref repr_text(PyObject *self, Ref listing, ReprForm form) {
    Ref inner = form == ReprForm::mapping ? mapping_text(listing.get()) : checked(PyObject_Repr(listing.get()));
    return wrapped(self, inner.get());
}

Ref repr_text(PyObject *self, const ReprFields &fields) {
    Ref comma = text(", ");
    Pieces pieces;
    for (std::size_t i = 0; i < fields.fields.size(); ++i) {
        const auto &[name, value] = fields.fields[i];
        if (i > 0) pieces.add(comma.get());
        pieces.add(text(name).get());
        pieces.add(text("=").get());
        pieces.add_repr(std::visit([](auto n) { return to_python(n); }, value).get());
    }
    return wrapped(self, pieces.text().get());
}

Ref recursive_repr_text(PyObject *self) { return wrapped(self, text("...").get()); }

}  // namespace morvena
