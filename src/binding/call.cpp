#include "call.hpp"

#include <exception>
#include <new>
#include <optional>
#include <variant>

#include "algo/driver.hpp"
#include "args.hpp"
#include "arrays.hpp"
#include "context_store.hpp"

namespace quorbel::binding {

namespace {

constexpr std::size_t kMaxArrays = 6;
constexpr std::size_t kMaxParams = kMaxArrays + 4;

enum class Width { w64, w32 };

Elem wanted(ArrayKind kind, Width width) {
  switch (kind) {
    case ArrayKind::result_float:
    case ArrayKind::input_float: return width == Width::w64 ? Elem::f64 : Elem::f32;
    case ArrayKind::result_bool:
    case ArrayKind::input_bool: return Elem::boolean;
    case ArrayKind::input_u64: return Elem::u64;
  }
  return Elem::none;
}

bool is_result(ArrayKind kind) {
  return kind == ArrayKind::result_float || kind == ArrayKind::result_bool;
}

PyObject* raise_error(const algo::Error& error) {
  raise(PyExc_ValueError, error.message());
  return nullptr;
}

PyObject* value_error(const char* message) {
  PyErr_SetString(PyExc_ValueError, message);
  return nullptr;
}

// The message for a non-contiguous array at position a of the pattern.
const char* contiguity_message(std::size_t a, bool plain) {
  if (plain) return "invalid input";
  return a == 0 ? "failed to get mutable slice" : "failed to get slice";
}

class Frame {
 public:
  Frame(const Registered& f, PyObject** bound) : f_(f), p_(f.function->pattern) {
    for (std::size_t a = 0; a < p_.count; ++a) arrays_[a] = ArrayArg(bound[a]);
  }

  // Single arrays of one element width. Empty when the arguments do not fit
  // (the next attempt follows); otherwise the call's result (null: raised).
  std::optional<PyObject*> attempt(Width width, const algo::Context& ctx, const Scalar* scalars) {
    Borrows borrows;
    for (std::size_t a = 0; a < p_.count; ++a) {
      if (arrays_[a].elem() != wanted(p_.arrays[a], width)) return std::nullopt;
      if (!borrows.take(arrays_[a], is_result(p_.arrays[a]), {f_.names[a].c_str(), -1})) return nullptr;
    }
    const bool plain = width == Width::w32 && p_.plain_contiguity;
    View views[kMaxArrays];
    for (std::size_t a = 0; a < p_.count; ++a) {
      if (!arrays_[a].usable()) return value_error(contiguity_message(a, plain));
      views[a] = {arrays_[a].data(), arrays_[a].size()};
    }
    const Thunk thunk = width == Width::w64 ? f_.function->f64 : f_.function->f32;
    if (algo::Status status = thunk(ctx, views, scalars)) return raise_error(*status);
    return Py_NewRef(Py_None);
  }

  bool all_lists() const {
    for (std::size_t a = 0; a < p_.count; ++a)
      if (!PyList_Check(arrays_[a].object())) return false;
    return true;
  }

  PyObject* batch(const algo::Context& ctx, const Scalar* scalars);

 private:
  // One problem's failure, raised after all problems have run.
  using Failure = std::variant<std::monostate, const char*, algo::Error, std::exception_ptr>;

  static PyObject* raise_failure(const Failure& failure) {
    if (auto* message = std::get_if<const char*>(&failure)) return value_error(*message);
    if (auto* error = std::get_if<algo::Error>(&failure)) return raise_error(*error);
    std::rethrow_exception(std::get<std::exception_ptr>(failure));
  }

  bool take_items(std::vector<ArrayArg>& items, std::size_t n, Width width, Borrows& borrows);

  const Registered& f_;
  const Pattern& p_;
  ArrayArg arrays_[kMaxArrays];
};

// Takes item k of list a at items[a * n + k]. False when an item is not of the
// wanted kind; raises (and returns false) when a borrow is refused.
bool Frame::take_items(std::vector<ArrayArg>& items, std::size_t n, Width width, Borrows& borrows) {
  borrows.clear();
  for (std::size_t a = 0; a < p_.count; ++a) {
    const Elem want = wanted(p_.arrays[a], width);
    for (std::size_t k = 0; k < n; ++k) {
      ArrayArg& item = items[a * n + k];
      if (item.elem() != want) {
        // Overlaps among what was taken so far are refused before giving up.
        borrows.check();
        return false;
      }
      if (!borrows.take(item, is_result(p_.arrays[a]),
                        {f_.names[a].c_str(), static_cast<std::ptrdiff_t>(k)}, false))
        return false;
    }
  }
  return borrows.check();
}

PyObject* Frame::batch(const algo::Context& ctx, const Scalar* scalars) {
  const std::size_t count = p_.count;
  const Py_ssize_t n_signed = PyList_Size(arrays_[0].object());
  if (n_signed < 0) return nullptr;
  for (std::size_t a = 1; a < count; ++a)
    if (PyList_Size(arrays_[a].object()) != n_signed) return value_error("length mismatch");
  const auto n = static_cast<std::size_t>(n_signed);

  std::vector<ArrayArg> items;
  items.reserve(count * n);
  for (std::size_t a = 0; a < count; ++a)
    for (std::size_t k = 0; k < n; ++k)
      items.emplace_back(PyList_GetItem(arrays_[a].object(), static_cast<Py_ssize_t>(k)));

  Borrows borrows;
  borrows.reserve(count * n);
  Width width = Width::w64;
  if (!take_items(items, n, width, borrows)) {
    if (PyErr_Occurred()) return nullptr;
    if (!p_.f32) return value_error(p_.items_dont_fit);
    width = Width::w32;
    if (!take_items(items, n, width, borrows)) {
      if (PyErr_Occurred()) return nullptr;
      return value_error(p_.items_dont_fit);
    }
  }

  const Thunk thunk = width == Width::w64 ? f_.function->f64 : f_.function->f32;
  std::vector<Failure> failures(n);
  auto run = [&](std::size_t k) {
    try {
      View views[kMaxArrays];
      for (std::size_t a = 0; a < count; ++a) {
        const ArrayArg& item = items[a * n + k];
        if (!item.usable()) {
          failures[k] = contiguity_message(a, p_.plain_contiguity);
          return;
        }
        views[a] = {item.data(), item.size()};
      }
      if (algo::Status status = thunk(ctx, views, scalars)) failures[k] = std::move(*status);
    } catch (...) {
      failures[k] = std::current_exception();
    }
  };

  if (p_.batch == Batch::sequential) {
    for (std::size_t k = 0; k < n; ++k) {
      run(k);
      if (failures[k].index() != 0) return raise_failure(failures[k]);
    }
    Py_RETURN_NONE;
  }
  std::size_t work = 0;
  for (std::size_t k = 0; k < n; ++k) work += items[k].size();
  algo::for_each_task(n, work, run);
  for (const Failure& failure : failures)
    if (failure.index() != 0) return raise_failure(failure);
  Py_RETURN_NONE;
}

PyObject* call_frame(const Registered& f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const Function& fn = *f.function;
  PyObject* bound[kMaxParams];
  if (!bind_arguments(fn.name, f.names, args, nargs, kwnames, bound, true)) return nullptr;

  Scalar scalars[4];
  for (std::size_t i = 0; i < fn.scalar_count; ++i) {
    const std::size_t slot = fn.pattern.count + i;
    const char* name = f.names[slot].c_str();
    const bool ok = fn.scalars[i] == ScalarKind::size ? to_size(fn.name, name, bound[slot], scalars[i].size)
                                                      : to_real(fn.name, name, bound[slot], scalars[i].real);
    if (!ok) return nullptr;
  }

  const algo::Context snapshot = ctx();

  Frame frame(f, bound);
  if (auto result = frame.attempt(Width::w64, snapshot, scalars)) return *result;
  if (fn.pattern.f32)
    if (auto result = frame.attempt(Width::w32, snapshot, scalars)) return *result;
  if (fn.pattern.batch != Batch::none && frame.all_lists()) return frame.batch(snapshot, scalars);
  return value_error(fn.pattern.nothing_fits);
}

}  // namespace

PyObject* call(const Registered& f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  try {
    return call_frame(f, args, nargs, kwnames);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
    return nullptr;
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "unexpected failure in the computation library");
    return nullptr;
  }
}

}  // namespace quorbel::binding
