// The out-of-line half of pickling: reading untrusted states field by field.
// Every failure names the class and the field, so a bad pickle says what is
// wrong with it rather than failing somewhere deep inside a structure.
#include "pickle.hpp"

namespace morvena {

namespace {

std::string type_name(PyObject *obj) {
    const char *name = Py_TYPE(obj)->tp_name;
    const char *dot = std::strrchr(name, '.');
    return dot ? dot + 1 : name;
}

}  // namespace

void StateReader::invalid(std::string_view detail) const {
    throw_value_error("invalid " + std::string(class_name_) + " state: " + std::string(detail));
}

void StateReader::out_of_range(const char *what) const {
    throw_error(PyExc_OverflowError, std::string(class_name_) + " state: " + what + " is out of range");
}

void StateReader::wrong_type(PyObject *obj, const char *what, const char *expected) const {
    throw_type_error(std::string(class_name_) + " state: " + what + " must be " + expected + ", not " +
                     type_name(obj));
}

void StateReader::fields(std::size_t count) const {
    if (!PyTuple_CheckExact(state_)) wrong_type(state_, "the state", "a tuple");
    if (static_cast<std::size_t>(PyTuple_GET_SIZE(state_)) != count)
        invalid("expected " + std::to_string(count) + " fields, got " + std::to_string(PyTuple_GET_SIZE(state_)));
}

std::uint64_t StateReader::u64_of(PyObject *obj, const char *what) const {
    if (!PyLong_CheckExact(obj)) wrong_type(obj, what, "an int");
    unsigned long long value = PyLong_AsUnsignedLongLong(obj);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        PyErr_Clear();
        out_of_range(what);
    }
    return value;
}

std::int32_t StateReader::i32_of(PyObject *obj, const char *what) const {
    if (!PyLong_CheckExact(obj)) wrong_type(obj, what, "an int");
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (overflow || value < INT32_MIN || value > INT32_MAX) out_of_range(what);
    return static_cast<std::int32_t>(value);
}

double StateReader::real_of(PyObject *obj, const char *what) const {
    if (!PyFloat_CheckExact(obj)) wrong_type(obj, what, "a float");
    return PyFloat_AS_DOUBLE(obj);
}

bool StateReader::flag_of(PyObject *obj, const char *what) const {
    if (!PyBool_Check(obj)) wrong_type(obj, what, "a bool");
    return obj == Py_True;
}

List StateReader::list_of(PyObject *obj, const char *what) const {
    if (!PyList_CheckExact(obj)) wrong_type(obj, what, "a list");
    return List{obj};
}

PyObject *StateReader::tuple(PyObject *obj, std::size_t count, const char *what) const {
    if (!PyTuple_CheckExact(obj)) wrong_type(obj, what, "a tuple");
    if (static_cast<std::size_t>(PyTuple_GET_SIZE(obj)) != count)
        invalid(std::string(what) + " must have " + std::to_string(count) + " items");
    return obj;
}

std::string_view StateReader::text(PyObject *obj, const char *what) const {
    if (!PyUnicode_CheckExact(obj)) wrong_type(obj, what, "a str");
    Py_ssize_t size = 0;
    const char *data = PyUnicode_AsUTF8AndSize(obj, &size);
    if (!data) {
        PyErr_Clear();
        invalid(std::string(what) + " is not valid text");
    }
    return {data, static_cast<std::size_t>(size)};
}

std::string_view StateReader::bytes_of(PyObject *obj, std::size_t unit, const char *what) const {
    if (!PyBytes_CheckExact(obj)) wrong_type(obj, what, "bytes");
    auto size = static_cast<std::size_t>(PyBytes_GET_SIZE(obj));
    if (size % unit != 0) invalid(std::string(what) + " has a length that is not a multiple of " + std::to_string(unit));
    return {PyBytes_AS_STRING(obj), size};
}

std::vector<Ref> StateReader::items(PyObject *obj, const char *what) const {
    List source = list_of(obj, what);
    std::vector<Ref> out;
    out.reserve(static_cast<std::size_t>(source.size()));
    for (Py_ssize_t i = 0; i < source.size(); ++i) out.push_back(Ref::borrow(source[i]));
    return out;
}

Ref restore_function() {
    Ref module = checked(PyImport_ImportModule("morvena._pickle"));
    return checked(PyObject_GetAttrString(module.get(), "restore"));
}

// Two probes, a str and a bytes object: the two hashes a pickle can have been
// made under differ in both unless the processes share PYTHONHASHSEED.
Ref hashing_fingerprint() {
    Ref text = checked(PyUnicode_FromString("morvena hashing probe"));
    Ref raw = checked(PyBytes_FromString("morvena hashing probe bytes"));
    return make_tuple(checked(PyLong_FromSsize_t(PyObject_Hash(text.get()))),
                      checked(PyLong_FromSsize_t(PyObject_Hash(raw.get()))));
}

void StateReader::same_hashing(PyObject *fingerprint) const {
    tuple(fingerprint, 2, "the hashing fingerprint");
    Ref ours = hashing_fingerprint();
    for (Py_ssize_t i = 0; i < 2; ++i) {
        PyObject *theirs = PyTuple_GET_ITEM(fingerprint, i);
        if (!PyLong_CheckExact(theirs)) wrong_type(theirs, "the hashing fingerprint", "a tuple of ints");
        int same = PyObject_RichCompareBool(theirs, PyTuple_GET_ITEM(ours.get(), i), Py_EQ);
        if (same < 0) throw_python_error();
        if (!same)
            throw_value_error(std::string(class_name_) +
                              " was saved by a process whose str and bytes hashing differs from this one's "
                              "(set the same PYTHONHASHSEED in both); its bits would give false negatives here");
    }
}

}  // namespace morvena
