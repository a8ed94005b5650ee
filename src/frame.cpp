// The out-of-line half of the frame: error construction, argument binding and
// type creation. Everything here runs on failure or once per process, so it is
// kept out of the inlined call paths.
#include "elements.hpp"
#include "pyclass.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace morvena {

namespace {

void set_error(PyObject *type, std::string_view message) {
    PyObject *text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
    if (!text) return;  // the decoding error (MemoryError) stays set
    PyErr_SetObject(type, text);
    Py_DECREF(text);
}

std::string type_qualname(PyObject *obj) {
    PyObject *name = PyType_GetQualName(Py_TYPE(obj));
    if (!name) {
        PyErr_Clear();
        return "<failed to extract type name>";
    }
    Ref owned = Ref::steal(name);
    const char *text = PyUnicode_AsUTF8(name);
    if (!text) {
        PyErr_Clear();
        return "<failed to extract type name>";
    }
    return text;
}

[[noreturn]] void raise_type_error(const std::string &message) {
    set_error(PyExc_TypeError, message);
    throw PyError{};
}

}  // namespace

void throw_error(PyObject *type, std::string_view message) { throw Error{type, std::string(message)}; }

void throw_downcast_error(PyObject *obj, std::string_view target) {
    raise_type_error("'" + type_qualname(obj) + "' object cannot be converted to '" + std::string(target) + "'");
}

void throw_str_to_vec_error() { raise_type_error("Can't extract `str` to `Vec`"); }

void throw_tuple_length_error(std::size_t expected, Py_ssize_t got) {
    set_error(PyExc_ValueError, "expected tuple of length " + std::to_string(expected) +
                                    ", but got tuple of length " + std::to_string(got));
    throw PyError{};
}

PyObject *panic_exception_type() {
    static PyObject *type = nullptr;
    if (!type) {
        // Usually first needed while another exception is pending: keep it.
        PyObject *pending_type, *pending_value, *pending_traceback;
        PyErr_Fetch(&pending_type, &pending_value, &pending_traceback);
        type = PyErr_NewExceptionWithDoc(
            "pyo3_runtime.PanicException",
            "Raised when native code aborts an operation.\n\n"
            "It derives from BaseException so that ordinary `except Exception` handlers do not\n"
            "swallow it and it propagates to the top.",
            PyExc_BaseException, nullptr);
        if (!type) PyErr_Clear();
        PyErr_Restore(pending_type, pending_value, pending_traceback);
    }
    return type;
}

void throw_python_error() {
    if (!PyErr_Occurred()) throw PyError{};  // the boundary reports it as SystemError
    PyObject *panic = panic_exception_type();
    if (!panic || !PyErr_ExceptionMatches(panic)) throw PyError{};
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    std::string message = "native code resumed a panic";
    if (PyObject *text = value ? PyObject_Str(value) : nullptr) {
        if (const char *utf8 = PyUnicode_AsUTF8(text)) message = utf8;
        Py_DECREF(text);
    }
    PyErr_Clear();
    std::fputs("morvena: a PanicException raised in Python code is passing through a native call:\n", stderr);
    PyErr_Display(type, value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
    throw Panic{std::move(message)};
}

void discard_python_error() {
    PyObject *panic = panic_exception_type();
    if (panic && PyErr_ExceptionMatches(panic)) throw_python_error();
    PyErr_Clear();
}

namespace {

void raise_panic(const std::string &message) noexcept {
    PyObject *type = panic_exception_type();
    if (!type) {
        std::fputs("uncaught panic at ffi boundary\n", stderr);
        std::abort();
    }
    set_error(type, message);
}

}  // namespace

void raise_current_exception() noexcept {
    try {
        throw;
    } catch (const PyError &) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    } catch (const Error &error) {
        set_error(error.type, error.message);
    } catch (const Panic &panic) {
        raise_panic(panic.message);
    } catch (const std::bad_alloc &) {
        PyErr_NoMemory();
    } catch (const std::exception &other) {
        raise_panic(other.what());
    } catch (...) {
        raise_panic("native code aborted the operation");
    }
}

// ---------------------------------------------------------------------------
// Elements.

namespace {

bool truth_of(PyObject *a, PyObject *b, int op) {
    Ref result = checked(PyObject_RichCompare(a, b, op));
    int truth = PyObject_IsTrue(result.get());
    if (truth < 0) throw_python_error();
    return truth != 0;
}

}  // namespace

Ordering compare_objects(PyObject *a, PyObject *b, std::string_view unordered) {
    if (truth_of(a, b, Py_LT)) return Ordering::Less;
    if (truth_of(a, b, Py_GT)) return Ordering::Greater;
    if (truth_of(a, b, Py_EQ)) return Ordering::Equal;
    throw_value_error(unordered);
}

std::string element_text(PyObject *obj) {
    PyObject *text = PyObject_Str(obj);
    if (!text) {
        discard_python_error();
        throw_panic("str() of an element raised while building a message");
    }
    Ref owned = Ref::steal(text);
    Py_ssize_t size = 0;
    if (const char *utf8 = PyUnicode_AsUTF8AndSize(text, &size)) return std::string(utf8, size);
    // Lone surrogates: keep what can be kept, replace the rest with U+FFFD.
    PyErr_Clear();
    Ref bytes = checked(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
    Ref lossy = checked(PyUnicode_DecodeUTF8(PyBytes_AS_STRING(bytes.get()), PyBytes_GET_SIZE(bytes.get()), "replace"));
    const char *utf8 = PyUnicode_AsUTF8AndSize(lossy.get(), &size);
    if (!utf8) throw_python_error();
    return std::string(utf8, size);
}

// ---------------------------------------------------------------------------
// Binding.

namespace {

std::string quoted_list(const std::vector<std::string> &names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        out += "'" + names[i] + "'";
    }
    return out;
}

[[noreturn]] void too_many_positional(const Signature &sig, Py_ssize_t given) {
    std::size_t n = sig.names.size();
    std::string takes = sig.required < n ? "from " + std::to_string(sig.required) + " to " + std::to_string(n)
                                         : std::to_string(n);
    raise_type_error(sig.full_name + " takes " + takes + " positional arguments but " + std::to_string(given) +
                     (given == 1 ? " was" : " were") + " given");
}

std::size_t find_keyword(const Signature &sig, PyObject *keyword) {
    for (std::size_t i = 0; i < sig.interned.size(); ++i)
        if (sig.interned[i] == keyword) return i;
    if (PyUnicode_Check(keyword))
        for (std::size_t i = 0; i < sig.interned.size(); ++i)
            if (PyUnicode_Compare(sig.interned[i], keyword) == 0) return i;
    return sig.names.size();
}

void bind_keyword(const Signature &sig, PyObject *keyword, PyObject *value, PyObject **out) {
    std::size_t index = find_keyword(sig, keyword);
    if (index == sig.names.size()) {
        // The name goes into the message as the str it is: a keyword may hold NULs or
        // lone surrogates (not encodable as UTF-8), or be a str subclass whose __str__
        // lies or raises, so neither str() nor a UTF-8 round trip is safe here.
        // (The interpreter only passes str names; %R covers a C caller that does not.)
        Ref message = checked(
            PyUnicode_Check(keyword)
                ? PyUnicode_FromFormat("%s got an unexpected keyword argument '%U'", sig.full_name.c_str(), keyword)
                : PyUnicode_FromFormat("%s got an unexpected keyword argument '%R'", sig.full_name.c_str(), keyword));
        PyErr_SetObject(PyExc_TypeError, message.get());
        throw PyError{};
    }
    if (out[index]) raise_type_error(sig.full_name + " got multiple values for argument '" + sig.names[index] + "'");
    out[index] = value;
}

void bind_positional(const Signature &sig, PyObject *const *args, Py_ssize_t nargs, PyObject **out) {
    if (static_cast<std::size_t>(nargs) > sig.names.size()) too_many_positional(sig, nargs);
    for (std::size_t i = 0; i < sig.names.size(); ++i) out[i] = i < static_cast<std::size_t>(nargs) ? args[i] : nullptr;
}

void check_required(const Signature &sig, PyObject **out) {
    std::vector<std::string> missing;
    for (std::size_t i = 0; i < sig.required; ++i)
        if (!out[i]) missing.push_back(sig.names[i]);
    if (missing.empty()) return;
    raise_type_error(sig.full_name + " missing " + std::to_string(missing.size()) + " required positional " +
                     (missing.size() == 1 ? "argument" : "arguments") + ": " + quoted_list(missing));
}

}  // namespace

void bind_slow(const Signature &sig, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, PyObject **out) {
    bind_positional(sig, args, nargs, out);
    if (kwnames)
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(kwnames); ++i)
            bind_keyword(sig, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], out);
    check_required(sig, out);
}

void bind_tuple(const Signature &sig, PyObject *args, PyObject *kwargs, PyObject **out) {
    bind_positional(sig, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), out);
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) bind_keyword(sig, key, value, out);
    }
    check_required(sig, out);
}

void rewrite_argument_error(const std::string &name) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    Ref old_type = Ref::steal(type), old_value = Ref::steal(value), old_traceback = Ref::steal(traceback);
    Ref message = checked(PyObject_Str(old_value.get()));
    Ref text = checked(PyUnicode_FromFormat("argument '%s': %U", name.c_str(), message.get()));
    Ref replacement = checked(PyObject_CallOneArg(PyExc_TypeError, text.get()));
    if (PyObject *cause = PyException_GetCause(old_value.get())) PyException_SetCause(replacement.get(), cause);
    PyErr_Restore(Py_NewRef(PyExc_TypeError), replacement.release(), nullptr);
}

std::string text_signature(const char *name, std::span<const std::string> names, std::size_t required) {
    std::string text = std::string(name) + "($self";
    for (std::size_t i = 0; i < names.size(); ++i) text += ", " + names[i] + (i < required ? "" : "=...");
    return text + ")\n--\n\n";
}

// ---------------------------------------------------------------------------
// Type objects.

PyTypeObject *ClassDef::type() const {
    if (*cache_) return *cache_;
    for (Signature *sig : signatures_) {
        sig->interned.clear();
        for (const std::string &name : sig->names) {
            PyObject *interned = PyUnicode_InternFromString(name.c_str());
            if (!interned) throw_python_error();
            sig->interned.push_back(interned);  // kept for the life of the process
        }
    }
    // The method table and names must outlive the type, which lives until the
    // process ends: they are allocated once and never freed.
    auto *methods = new PyMethodDef[rows_.size() + 2]();
    for (std::size_t i = 0; i < rows_.size(); ++i)
        methods[i] = {rows_[i].name, rows_[i].function, rows_[i].flags, strdup(rows_[i].doc.c_str())};
    // Every class is generic in what it stores: Stack[int] is a types.GenericAlias,
    // as list[int] is, so annotations can be evaluated at runtime.
    methods[rows_.size()] = {"__class_getitem__", Py_GenericAlias, METH_O | METH_CLASS,
                             "See PEP 585"};
    std::vector<PyType_Slot> slots = {
        {Py_tp_base, &PyBaseObject_Type},
        {Py_tp_dealloc, reinterpret_cast<void *>(dealloc_)},
        {Py_tp_new, reinterpret_cast<void *>(new_)},
        {Py_tp_methods, methods},
    };
    if (doc_) slots.push_back({Py_tp_doc, const_cast<char *>(doc_)});
    slots.insert(slots.end(), slots_.begin(), slots_.end());
    slots.push_back({0, nullptr});
    std::string qualified = std::string("builtins.") + name_;
    PyType_Spec type_spec = {strdup(qualified.c_str()), basicsize_, 0, static_cast<unsigned int>(flags_), slots.data()};
    PyObject *type = PyType_FromSpec(&type_spec);
    if (!type) throw_python_error();
    *cache_ = reinterpret_cast<PyTypeObject *>(type);
    return *cache_;
}

}  // namespace morvena
