#pragma once
// Small helpers over the CPython limited API.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <utility>

namespace quorbel::binding {

// An owned reference.
class Ref {
 public:
  Ref() = default;
  explicit Ref(PyObject* o) : o_(o) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : o_(std::exchange(other.o_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(o_);
      o_ = std::exchange(other.o_, nullptr);
    }
    return *this;
  }
  ~Ref() { Py_XDECREF(o_); }

  PyObject* get() const { return o_; }
  PyObject* release() { return std::exchange(o_, nullptr); }
  explicit operator bool() const { return o_ != nullptr; }

 private:
  PyObject* o_ = nullptr;
};

// The name of an object's type, for messages.
inline std::string type_name(PyObject* o) {
  Ref name(PyType_GetName(Py_TYPE(o)));
  if (!name) {
    PyErr_Clear();
    return "?";
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(name.get(), &size);
  if (!text) {
    PyErr_Clear();
    return "?";
  }
  return std::string(text, static_cast<std::size_t>(size));
}

inline void raise(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
}

}  // namespace quorbel::binding
