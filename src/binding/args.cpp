#include "args.hpp"

#include <cctype>

namespace quorbel::binding {

std::vector<std::string> parse_parameters(const char* signature) {
  std::vector<std::string> names;
  std::string current;
  bool in_name = true;
  for (const char* c = signature; *c; ++c) {
    if (*c == '(' || *c == ' ') continue;
    if (*c == ',' || *c == ')') {
      if (!current.empty()) names.push_back(current);
      current.clear();
      in_name = true;
    } else if (*c == '=') {
      in_name = false;
    } else if (in_name) {
      current += *c;
    }
  }
  return names;
}

bool bind_arguments(const char* func, std::span<const std::string> names, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames, PyObject** out, bool required) {
  const auto count = static_cast<Py_ssize_t>(names.size());
  if (nargs > count) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zd positional argument%s but %zd %s given", func,
                 count, count == 1 ? "" : "s", nargs, nargs == 1 ? "was" : "were");
    return false;
  }
  for (Py_ssize_t i = 0; i < count; ++i) out[i] = i < nargs ? args[i] : nullptr;
  const Py_ssize_t nkw = kwnames ? PyTuple_Size(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GetItem(kwnames, k);
    if (!key) return false;
    Py_ssize_t slot = -1;
    for (Py_ssize_t i = 0; i < count; ++i) {
      if (PyUnicode_CompareWithASCIIString(key, names[static_cast<std::size_t>(i)].c_str()) == 0) {
        slot = i;
        break;
      }
    }
    if (slot < 0) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", func, key);
      return false;
    }
    if (out[slot]) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", func,
                   names[static_cast<std::size_t>(slot)].c_str());
      return false;
    }
    out[slot] = args[nargs + k];
  }
  if (required) {
    for (Py_ssize_t i = 0; i < count; ++i) {
      if (!out[i]) {
        PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zd)", func,
                     names[static_cast<std::size_t>(i)].c_str(), i + 1);
        return false;
      }
    }
  }
  return true;
}

namespace {

// The argument as a Python int, or null with TypeError naming it.
Ref as_index(const char* func, const char* name, PyObject* o) {
  if (!PyIndex_Check(o)) {
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be an integer, not '%s'", func, name,
                 type_name(o).c_str());
    return Ref();
  }
  return Ref(PyNumber_Index(o));
}

}  // namespace

bool to_size(const char* func, const char* name, PyObject* o, std::uint64_t& out) {
  Ref value = as_index(func, name, o);
  if (!value) return false;
  const unsigned long long v = PyLong_AsUnsignedLongLong(value.get());
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return false;
    PyErr_Clear();
    PyErr_Format(PyExc_OverflowError, "%s() argument '%s' out of range (0 to %llu)", func, name,
                 static_cast<unsigned long long>(UINT64_MAX));
    return false;
  }
  out = v;
  return true;
}

bool to_int(const char* func, const char* name, PyObject* o, std::int64_t lo, std::int64_t hi,
            std::int64_t& out) {
  Ref value = as_index(func, name, o);
  if (!value) return false;
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(value.get(), &overflow);
  if (v == -1 && PyErr_Occurred()) return false;
  if (overflow != 0 || v < lo || v > hi) {
    PyErr_Format(PyExc_OverflowError, "%s() argument '%s' out of range (%lld to %lld)", func, name,
                 static_cast<long long>(lo), static_cast<long long>(hi));
    return false;
  }
  out = v;
  return true;
}

bool to_real(const char* func, const char* name, PyObject* o, double& out) {
  const double v = PyFloat_AsDouble(o);
  if (v == -1.0 && PyErr_Occurred()) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be a real number, not '%s'", func, name,
                 type_name(o).c_str());
    return false;
  }
  out = v;
  return true;
}

}  // namespace quorbel::binding
