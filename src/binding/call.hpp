#pragma once

#include <string>
#include <vector>

#include "function.hpp"
#include "py.hpp"

namespace quorbel::binding {

// A function of the table with what registration derives from its row.
struct Registered {
  const Function* function;
  std::vector<std::string> names;  // parameter names, arrays first
  std::string doc;                 // "name(args)\n--\n\ndocstring"
};

// The call frame every function of the table follows: binding, scalar
// conversion, the context snapshot, the element-type attempts, list batches.
// Never lets a C++ exception escape.
PyObject* call(const Registered& f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;

}  // namespace quorbel::binding
