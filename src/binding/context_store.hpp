#pragma once
// The process-wide context and its two accessors.

#include <Python.h>

#include "algo/context.hpp"

namespace quorbel::binding {

// A snapshot of the process-wide context, taken once per call; emits the
// call's debug record.
algo::Context ctx();

// set_ctx(start=None, end=None, groups=None, flags=None)
PyObject* set_ctx(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

inline constexpr const char* kSetCtxDoc = "set_ctx(start=None, end=None, groups=None, flags=None)\n--\n\n";

}  // namespace quorbel::binding
