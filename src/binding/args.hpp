#pragma once
// Binding of fast-call arguments to parameter names, and scalar conversions.
// Every failure sets a Python exception and returns false.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "py.hpp"

namespace quorbel::binding {

// The parameter names of a text signature such as "(r, input, periods)" or
// "(start=None, end=None)".
std::vector<std::string> parse_parameters(const char* signature);

// Binds positional and keyword arguments to `names` following Python's rules.
// Unbound parameters are left null; with `required` a missing one is an error.
bool bind_arguments(const char* func, std::span<const std::string> names, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames, PyObject** out, bool required);

// An unsigned size in 0 .. 2^64-1 (objects with __index__ accepted).
bool to_size(const char* func, const char* name, PyObject* o, std::uint64_t& out);

// A signed integer in [lo, hi].
bool to_int(const char* func, const char* name, PyObject* o, std::int64_t lo, std::int64_t hi,
            std::int64_t& out);

// A 64-bit float from a float, an int or anything with __float__ or __index__.
bool to_real(const char* func, const char* name, PyObject* o, double& out);

}  // namespace quorbel::binding
