// Module entry: the only exported symbol is PyInit__algo.

#include <algorithm>
#include <cstring>
#include <vector>

#include "arrays.hpp"
#include "context_store.hpp"
#include "log_bridge.hpp"
#include "py.hpp"
#include "table.hpp"

namespace quorbel::binding {

namespace {

PyMethodDef set_ctx_def = {"set_ctx", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&set_ctx)),
                           METH_FASTCALL | METH_KEYWORDS, kSetCtxDoc};

// Creates the function object, sets it on the module and appends its name to
// __all__.
bool add_function(PyObject* module, PyMethodDef* def) {
  PyObject* all = PyObject_GetAttrString(module, "__all__");
  if (!all) {
    PyErr_Clear();
    all = PyList_New(0);
    if (!all || PyModule_AddObjectRef(module, "__all__", all) < 0) {
      Py_XDECREF(all);
      return false;
    }
  }
  Ref all_ref(all);
  Ref name(PyModule_GetNameObject(module));
  if (!name) return false;
  Ref fn(PyCFunction_NewEx(def, module, name.get()));
  if (!fn || PyModule_AddObjectRef(module, def->ml_name, fn.get()) < 0) return false;
  Ref fn_name(PyUnicode_FromString(def->ml_name));
  return fn_name && PyList_Append(all, fn_name.get()) == 0;
}

int exec_module(PyObject* module) {
  try {
    // NumPy first: if it fails, a later import can still succeed.
    if (!init_numpy()) return -1;
    if (!log::install()) {
      PyErr_SetString(PyExc_ImportError,
                      "quorbel.algo._algo can be initialised only once per process (its logging "
                      "bridge is already installed)");
      return -1;
    }
    // ema first, then set_ctx, then the rest in byte order of their names.
    std::vector<PyMethodDef*> rest;
    PyMethodDef* ema = nullptr;
    for (const Entry& e : table()) {
      if (std::strcmp(e.def->ml_name, "ema") == 0)
        ema = e.def;
      else
        rest.push_back(e.def);
    }
    std::sort(rest.begin(), rest.end(),
              [](PyMethodDef* a, PyMethodDef* b) { return std::strcmp(a->ml_name, b->ml_name) < 0; });
    if (ema && !add_function(module, ema)) return -1;
    if (!add_function(module, &set_ctx_def)) return -1;
    for (PyMethodDef* def : rest)
      if (!add_function(module, def)) return -1;
    return 0;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return -1;
  }
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_algo", "", 0, nullptr, slots, nullptr, nullptr, nullptr,
};

}  // namespace

}  // namespace quorbel::binding

PyMODINIT_FUNC PyInit__algo(void) { return PyModuleDef_Init(&quorbel::binding::module_def); }
