// The class builder: one declarative table per class is its whole Python face.
//
//   const ClassDef stack_class = PyClass<Stack>("Stack")
//       .method<&Stack::push>("push", {"value"})
//       .method<&Stack::peek>("peek")
//       .len<&Stack::size>();
//
// From each member pointer the frame derives the calling convention (no
// parameters: METH_NOARGS, else vectorcall with keywords), the argument kinds
// (convert.hpp), the result conversion and the borrow: a const member takes the
// shared borrow, any other the exclusive one. std::optional parameters are the
// optional ones and must come last. Each entry point is noexcept and converts
// every failure into the pending Python exception at one place.
#pragma once

#include "convert.hpp"
#include "repr.hpp"
#include "gc.hpp"
#include "iterate.hpp"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <span>
#include <vector>

namespace morvena {

// What binding needs to know of one method: its parameters and, for messages,
// "Class.method()". Interned names let keyword matching compare pointers first.
struct Signature {
    std::string full_name;
    std::vector<std::string> names;
    std::vector<PyObject *> interned;
    std::size_t required = 0;
};

// Fills out[0..names) from a vectorcall, leaving NULL for omitted optionals.
// Throws PyError with the interpreter-style TypeError set.
void bind_slow(const Signature &sig, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, PyObject **out);
void bind_tuple(const Signature &sig, PyObject *args, PyObject *kwargs, PyObject **out);
// Prefixes a pending TypeError with "argument '{name}': ", keeping its cause.
[[gnu::cold]] void rewrite_argument_error(const std::string &name);

// The common case, positional arguments only, is decided from the member's
// compile-time arity without touching the signature.
template <std::size_t N, std::size_t Required>
inline void bind(const Signature &sig, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, PyObject **out) {
    if (!kwnames && static_cast<std::size_t>(nargs) >= Required && static_cast<std::size_t>(nargs) <= N) [[likely]] {
        for (std::size_t i = 0; i < N; ++i) out[i] = i < static_cast<std::size_t>(nargs) ? args[i] : nullptr;
        return;
    }
    bind_slow(sig, args, nargs, kwnames, out);
}

template <class X>
X convert_argument(PyObject *obj, const Signature &sig, std::size_t index) {
    try {
        return Arg<X>::from(obj);
    } catch (const PyError &) {
        rewrite_argument_error(sig.names[index]);
        throw;
    }
}

// ---------------------------------------------------------------------------
// Member-function traits.

template <class M>
struct Member;
template <class R, class T, class... A>
struct Member<R (T::*)(A...)> {
    using Result = R;
    using Self = T;
    using Params = std::tuple<std::decay_t<A>...>;
    static constexpr bool shared = false;
    static constexpr std::size_t arity = sizeof...(A);
};
template <class R, class T, class... A>
struct Member<R (T::*)(A...) const> : Member<R (T::*)(A...)> {
    static constexpr bool shared = true;
};
template <class R, class T, class... A>
struct Member<R (T::*)(A...) noexcept> : Member<R (T::*)(A...)> {};
template <class R, class T, class... A>
struct Member<R (T::*)(A...) const noexcept> : Member<R (T::*)(A...) const> {};

template <class X>
inline constexpr bool is_optional = false;
template <class X>
inline constexpr bool is_optional<std::optional<X>> = true;

template <class Params, std::size_t... I>
constexpr std::size_t required_count(std::index_sequence<I...>) {
    std::size_t required = 0;
    bool seen_optional = false;
    ((is_optional<std::tuple_element_t<I, Params>> ? (seen_optional = true)
                                                   : (seen_optional ? throw "required after optional" : ++required)),
     ...);
    return required;
}

template <class Params>
constexpr std::size_t required_of() {
    return required_count<Params>(std::make_index_sequence<std::tuple_size_v<Params>>{});
}

// One binding per bound member (and one per constructor), filled by the table.
template <auto M>
constinit inline Signature method_signature{};
template <class T>
constinit inline Signature init_signature{};

inline void check_invariants([[maybe_unused]] const auto &state) {
#ifdef MORVENA_CHECK_INVARIANTS
    if constexpr (requires { state.check(); }) state.check();
#endif
}

// Converts the bound arguments in parameter order and runs the call.
template <class Params, class F, std::size_t... I>
decltype(auto) call_with(const Signature &sig, PyObject *const *bound, F &&f, std::index_sequence<I...>) {
    Params converted{convert_argument<std::tuple_element_t<I, Params>>(bound[I], sig, I)...};
    return f(std::move(std::get<I>(converted))...);
}

// A member that takes the exclusive borrow only because that is its published
// borrow kind, while changing nothing, is declared here by its class so that
// it leaves live iterators valid.
template <auto M>
inline constexpr bool reads_only = false;

// Runs the member on a borrowed state and converts the result.
template <auto M>
PyObject *invoke(PyObject *self, const char *class_name, auto &&run_with_state) {
    using Traits = Member<decltype(M)>;
    using T = typename Traits::Self;
    using R = typename Traits::Result;
    Instance<T> &inst = receiver<T>(self, class_name);
    Borrow<Traits::shared> borrow(inst.borrow);
    if constexpr (!Traits::shared && !reads_only<M>) ++inst.mutations;
    if constexpr (std::is_void_v<R>) {
        run_with_state(inst.state);
        return Ref::none().release();
    } else {
        return to_python(run_with_state(inst.state)).release();
    }
}

template <auto M>
auto run_member(auto &state, auto &&call) {
    using Traits = Member<decltype(M)>;
    if constexpr (Traits::shared) {
        return call(state);
    } else {
        try {
            if constexpr (std::is_void_v<typename Traits::Result>) {
                call(state);
                check_invariants(state);
            } else {
                auto result = call(state);
                check_invariants(state);
                return result;
            }
        } catch (...) {
            check_invariants(state);
            throw;
        }
    }
}

template <auto M>
[[gnu::flatten]] PyObject *call_noargs(PyObject *self, PyObject *) noexcept {
    using T = typename Member<decltype(M)>::Self;
    try {
        return invoke<M>(self, class_name_of<T>, [](auto &state) {
            return run_member<M>(state, [](auto &s) { return (s.*M)(); });
        });
    } catch (...) {
        raise_current_exception();
        return nullptr;
    }
}

// A vectorcall method. `Positional` is the common call, every parameter given
// positionally: the interpreter's argument vector is then already in parameter
// order and is converted in place, with nothing to bind.
template <auto M, bool Positional>
[[gnu::flatten]] PyObject *call_vector(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) noexcept {
    using Traits = Member<decltype(M)>;
    using T = typename Traits::Self;
    using Params = typename Traits::Params;
    try {
        return invoke<M>(self, class_name_of<T>, [&](auto &state) {
            const Signature &sig = method_signature<M>;
            std::array<PyObject *, Traits::arity> slots;
            PyObject *const *bound = args;
            if constexpr (!Positional) {
                bind<Traits::arity, required_of<Params>()>(sig, args, nargs, kwnames, slots.data());
                bound = slots.data();
            }
            return run_member<M>(state, [&](auto &s) {
                return call_with<Params>(sig, bound, [&](auto &&...a) { return (s.*M)(std::forward<decltype(a)>(a)...); },
                                         std::make_index_sequence<Traits::arity>{});
            });
        });
    } catch (...) {
        raise_current_exception();
        return nullptr;
    }
}

// Keywords, omitted optionals and wrong counts, kept out of the common path so
// that it needs no binding code and no stack array.
template <auto M>
[[gnu::noinline]] PyObject *call_binding(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) noexcept {
    return call_vector<M, false>(self, args, nargs, kwnames);
}

template <auto M>
PyObject *call_fastcall(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) noexcept {
    if (!kwnames && static_cast<std::size_t>(nargs) == Member<decltype(M)>::arity) [[likely]]
        return call_vector<M, true>(self, args, nargs, kwnames);
    return call_binding<M>(self, args, nargs, kwnames);
}

// ---------------------------------------------------------------------------
// Protocol slots.

template <auto M>
Py_ssize_t slot_len(PyObject *self) noexcept {
    using T = typename Member<decltype(M)>::Self;
    try {
        Instance<T> &inst = receiver<T>(self, class_name_of<T>);
        SharedBorrow borrow(inst.borrow);
        std::uint64_t size = (inst.state.*M)();
        if (size > static_cast<std::uint64_t>(PY_SSIZE_T_MAX)) {
            PyErr_SetNone(PyExc_OverflowError);
            return -1;
        }
        return static_cast<Py_ssize_t>(size);
    } catch (...) {
        raise_current_exception();
        return -1;
    }
}

template <auto M>
int slot_bool(PyObject *self) noexcept {
    using T = typename Member<decltype(M)>::Self;
    try {
        Instance<T> &inst = receiver<T>(self, class_name_of<T>);
        SharedBorrow borrow(inst.borrow);
        return (inst.state.*M)() ? 1 : 0;
    } catch (...) {
        raise_current_exception();
        return -1;
    }
}

// `x in s` is the class's contains method, its conversion errors and borrow
// included. `Empty`, when given, answers False first for a structure whose
// contains refuses to look into an empty one: `in` never raises for emptiness.
template <auto M, auto Empty = nullptr>
int slot_contains(PyObject *self, PyObject *probe) noexcept {
    using Traits = Member<decltype(M)>;
    using T = typename Traits::Self;
    using Key = std::tuple_element_t<0, typename Traits::Params>;
    try {
        Instance<T> &inst = receiver<T>(self, class_name_of<T>);
        Borrow<Traits::shared> borrow(inst.borrow);
        if constexpr (!Traits::shared) ++inst.mutations;
        Key converted = convert_argument<Key>(probe, method_signature<M>, 0);
        if constexpr (!std::is_same_v<decltype(Empty), std::nullptr_t>)
            if ((inst.state.*Empty)()) return 0;
        return (inst.state.*M)(std::move(converted)) ? 1 : 0;
    } catch (...) {
        raise_current_exception();
        return -1;
    }
}

template <auto M>
PyObject *slot_getitem(PyObject *self, PyObject *key) noexcept {
    using Traits = Member<decltype(M)>;
    using T = typename Traits::Self;
    using Key = std::tuple_element_t<0, typename Traits::Params>;
    try {
        Instance<T> &inst = receiver<T>(self, class_name_of<T>);
        SharedBorrow borrow(inst.borrow);
        Key converted = convert_argument<Key>(key, method_signature<M>, 0);
        return to_python((inst.state.*M)(std::move(converted))).release();
    } catch (...) {
        raise_current_exception();
        return nullptr;
    }
}

// ---------------------------------------------------------------------------
// Construction and destruction.

template <class T>
void slot_dealloc(PyObject *self) noexcept {
    PyTypeObject *type = Py_TYPE(self);
    instance_of<T>(self)->state.~T();
    type->tp_free(self);
    Py_DECREF(type);  // instances of heap types own a reference to their type
}

template <class T, class... A>
PyObject *slot_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) noexcept {
    using Params = std::tuple<std::decay_t<A>...>;
    try {
        const Signature &sig = init_signature<T>;
        std::array<PyObject *, sizeof...(A)> bound;
        bind_tuple(sig, args, kwargs, bound.data());
        Params converted = [&]<std::size_t... I>(std::index_sequence<I...>) {
            return Params{convert_argument<std::tuple_element_t<I, Params>>(bound[I], sig, I)...};
        }(std::index_sequence_for<A...>{});
        PyObject *self = type->tp_alloc(type, 0);
        if (!self) throw_python_error();
        untrack_while_built(self);
        try {
            std::apply([&](auto &&...a) { new (&instance_of<T>(self)->state) T(std::move(a)...); },
                       std::move(converted));
        } catch (...) {
            // The state was never built, so only the raw object is released.
            type->tp_free(self);
            Py_DECREF(type);
            throw;
        }
        instance_of<T>(self)->borrow = 0;
        instance_of<T>(self)->mutations = 0;
        track_when_built(self);
        check_invariants(instance_of<T>(self)->state);
        return self;
    } catch (...) {
        raise_current_exception();
        return nullptr;
    }
}

// ---------------------------------------------------------------------------
// The table.

struct MethodRow {
    const char *name;
    PyCFunction function;
    int flags;
    std::string doc;  // the text signature, "push($self, value)\n--\n\n"
};

// A class's whole Python face, type-erased; module.cpp registers these in order.
class ClassDef {
public:
    const char *name() const noexcept { return name_; }
    // Creates the type object on first use and caches it for the process.
    PyTypeObject *type() const;

protected:
    explicit ClassDef(const char *name, PyTypeObject **cache, int basicsize, destructor dealloc)
        : name_(name), cache_(cache), basicsize_(basicsize), dealloc_(dealloc) {}

    const char *name_;
    const char *doc_ = nullptr;
    PyTypeObject **cache_;
    int basicsize_;
    destructor dealloc_;
    newfunc new_ = nullptr;
    std::vector<MethodRow> rows_;
    std::vector<PyType_Slot> slots_;
    std::vector<Signature *> signatures_;
    unsigned long flags_ = Py_TPFLAGS_DEFAULT;
};

std::string text_signature(const char *name, std::span<const std::string> names, std::size_t required);

template <class T>
class PyClass : public ClassDef {
public:
    explicit PyClass(const char *name)
        : ClassDef(name, &class_type<T>, static_cast<int>(sizeof(Instance<T>)), &slot_dealloc<T>) {
        class_name_of<T> = name;
        // A class whose state needs arguments names them with .init<...>().
        if constexpr (std::is_default_constructible_v<T>) set_init<>({});
    }

    // Class docstring; most classes have none (__doc__ is None).
    PyClass &&doc(const char *text) && {
        doc_ = text;
        return std::move(*this);
    }

    // The constructor's parameters; without this the class takes no arguments.
    template <class... A>
    PyClass &&init(std::initializer_list<const char *> names) && {
        set_init<A...>(names);
        return std::move(*this);
    }

    template <auto M>
    PyClass &&method(const char *name, std::initializer_list<const char *> names = {}) && {
        using Traits = Member<decltype(M)>;
        static_assert(std::is_same_v<typename Traits::Self, T>, "a method of another class");
        constexpr std::size_t required = required_of<typename Traits::Params>();
        Signature &sig = describe(method_signature<M>, name, names, required);
        if (sig.names.size() != Traits::arity) throw_panic("parameter names do not match the member");
        if constexpr (Traits::arity == 0)
            rows_.push_back({name, &call_noargs<M>, METH_NOARGS, text_signature(name, sig.names, 0)});
        else
            rows_.push_back({name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&call_fastcall<M>)),
                             METH_FASTCALL | METH_KEYWORDS, text_signature(name, sig.names, sig.required)});
        return std::move(*this);
    }

    template <auto M>
    PyClass &&len() && {
        return std::move(*this).slot(Py_mp_length, &slot_len<M>);
    }
    template <auto M>
    PyClass &&truth() && {
        return std::move(*this).slot(Py_nb_bool, &slot_bool<M>);
    }
    // The method must also be bound as a method (its signature names the key).
    template <auto M, auto Empty = nullptr>
    PyClass &&contains() && {
        return std::move(*this).slot(Py_sq_contains, &slot_contains<M, Empty>);
    }
    // `key` names the subscript for conversion errors ("argument 'index': ...").
    template <auto M>
    PyClass &&getitem(const char *key) && {
        describe(method_signature<M>, "__getitem__", {key}, 1);
        return std::move(*this).slot(Py_mp_subscript, &slot_getitem<M>);
    }
    // repr() shows what the const member `M` returns: a listing (a list) or
    // ReprFields. `Empty` names the emptiness test of a listing that raises
    // when the structure is empty.
    template <auto M, auto Empty = nullptr>
    PyClass &&repr() && {
        return std::move(*this).slot(Py_tp_repr, &slot_repr<T, M, Empty, ReprForm::listing>);
    }
    // repr() of a map: `M` lists its (key, value) pairs in their listing order.
    template <auto M>
    PyClass &&repr_mapping() && {
        return std::move(*this).slot(Py_tp_repr, &slot_repr<T, M, nullptr, ReprForm::mapping>);
    }

    // __reduce__ and __setstate__ from a state hook and a restoring builder
    // (pickle.hpp, which the class's file includes).
    template <auto State, auto Restore>
    PyClass &&pickle() &&;

    // Takes part in cyclic GC: `Visit` reports the references the state holds,
    // and the class's clear() breaks cycles.
    template <auto Visit>
    PyClass &&gc() && {
        static_assert(requires(T &state) { state.clear(); }, "the collector breaks cycles through clear()");
        flags_ |= Py_TPFLAGS_HAVE_GC;
        dealloc_ = &slot_dealloc_collected<T>;
        return std::move(*this).slot(Py_tp_traverse, &slot_traverse<T, Visit>).slot(Py_tp_clear, &slot_clear<T>);
    }
    // iter() walks the state with the cursor `MakeCursor` returns.
    template <auto MakeCursor>
    PyClass &&iter() && {
        return std::move(*this).slot(Py_tp_iter, &slot_iter<T, MakeCursor>);
    }

private:
    PyClass &&slot(int id, auto *function) && {
        slots_.push_back({id, reinterpret_cast<void *>(function)});
        return std::move(*this);
    }

    template <class... A>
    void set_init(std::initializer_list<const char *> names) {
        constexpr std::size_t required = required_of<std::tuple<std::decay_t<A>...>>();
        describe(init_signature<T>, "__new__", names, required);
        if (names.size() != sizeof...(A)) throw_panic("constructor names do not match its parameters");
        new_ = &slot_new<T, A...>;
    }

    Signature &describe(Signature &sig, const char *method, std::initializer_list<const char *> names,
                        std::size_t required) {
        sig.full_name = std::string(name_) + "." + method + "()";
        sig.names.assign(names.begin(), names.end());
        sig.required = required;
        if (std::find(signatures_.begin(), signatures_.end(), &sig) == signatures_.end()) signatures_.push_back(&sig);
        return sig;
    }
};

}  // namespace morvena
