// Module entry and the class registry: the one place where the order of the
// classes lives. That order is the order of the module's attributes and of
// `__all__`.
#include "pyclass.hpp"

#include <atomic>

namespace morvena {

extern const ClassDef linked_list_class;
extern const ClassDef stack_class;
extern const ClassDef array_stack_class;
extern const ClassDef queue_class;
extern const ClassDef ring_buffer_class;
extern const ClassDef circular_buffer_class;
extern const ClassDef priority_queue_class;
extern const ClassDef binary_search_tree_class;
extern const ClassDef avl_tree_class;
extern const ClassDef trie_class;
extern const ClassDef vaskmap_class;
extern const ClassDef rhoodmap_class;
extern const ClassDef bloom_filter_class;
extern const ClassDef cuckoo_filter_class;
extern const ClassDef flatlist_class;
extern const ClassDef base_graph_class;
extern const ClassDef digraph_class;
extern const ClassDef weighted_graph_class;
extern const ClassDef weighted_digraph_class;
extern const ClassDef hypergraph_class;

namespace {

const ClassDef *const registry[] = {
    &linked_list_class,
    &stack_class,
    &array_stack_class,
    &queue_class,
    &ring_buffer_class,
    &circular_buffer_class,
    &priority_queue_class,
    &binary_search_tree_class,
    &avl_tree_class,
    &trie_class,
    &vaskmap_class,
    &rhoodmap_class,
    &bloom_filter_class,
    &cuckoo_filter_class,
    &flatlist_class,
    &base_graph_class,
    &digraph_class,
    &weighted_graph_class,
    &weighted_digraph_class,
    &hypergraph_class,
};

PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "_native_morvena", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr};

// Single-phase initialisation keeps process-wide type objects, so a second
// initialisation (a sub-interpreter, a reload) is refused rather than sharing them.
std::atomic<bool> initialised{false};

Ref module_all(PyObject *module) {
    PyObject *all = PyObject_GetAttrString(module, "__all__");
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_python_error();
        PyErr_Clear();
        Ref list = checked(PyList_New(0));
        if (PyObject_SetAttrString(module, "__all__", list.get()) < 0) throw_python_error();
        return list;
    }
    Ref owned = Ref::steal(all);
    if (!PyList_Check(all)) throw_downcast_error(all, "PyList");
    return owned;
}

void register_class(PyObject *module, const ClassDef &cls) {
    PyTypeObject *type = cls.type();
    Ref all = module_all(module);
    Ref name = checked(PyUnicode_FromString(cls.name()));
    if (PyList_Append(all.get(), name.get()) < 0) {
        PyErr_Clear();
        throw_panic("could not append __name__ to __all__");
    }
    if (PyModule_AddObjectRef(module, cls.name(), reinterpret_cast<PyObject *>(type)) < 0) throw_python_error();
}

}  // namespace

}  // namespace morvena

PyMODINIT_FUNC PyInit__native_morvena() {
    using namespace morvena;
    try {
        Ref module = checked(PyModule_Create2(&module_def, 1013));
        if (initialised.exchange(true))
            throw_error(PyExc_ImportError,
                        "morvena's native module may only be initialized once per interpreter process");
        for (const ClassDef *cls : registry) register_class(module.get(), *cls);
        return module.release();
    } catch (...) {
        raise_current_exception();
        return nullptr;
    }
}
