#include "arrays.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace quorbel::binding {

namespace {

PyObject* ndarray_type = nullptr;
PyObject* dtype_attr = nullptr;

// The dtype objects NumPy uses for native float64, float32, bool and uint64
// arrays. Recognising them by identity spares asking NumPy for a format
// string, which costs more than the rest of a small call.
struct KnownDtype {
  PyObject* dtype;
  Elem elem;
};
KnownDtype known_dtypes[5];

bool is_ndarray(PyObject* o) {
  PyTypeObject* type = Py_TYPE(o);
  return reinterpret_cast<PyObject*>(type) == ndarray_type ||
         PyType_IsSubtype(type, reinterpret_cast<PyTypeObject*>(ndarray_type));
}

bool little_endian() {
  const std::uint16_t probe = 1;
  unsigned char first;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

// The element type a buffer format names, refusing non-native byte orders.
Elem parse_format(const char* format, Py_ssize_t itemsize) {
  if (!format) return Elem::none;
  const char order = format[0];
  if (order == '@' || order == '=' || (order == '<' && little_endian()) ||
      ((order == '>' || order == '!') && !little_endian()))
    ++format;
  if (format[0] == '\0' || format[1] != '\0') return Elem::none;
  switch (format[0]) {
    case 'd': return itemsize == 8 ? Elem::f64 : Elem::none;
    case 'f': return itemsize == 4 ? Elem::f32 : Elem::none;
    case '?': return itemsize == 1 ? Elem::boolean : Elem::none;
    case 'L':
    case 'Q': return itemsize == 8 ? Elem::u64 : Elem::none;
    default: return Elem::none;
  }
}

std::string describe(const Borrows::Label& label) {
  std::string text = label.name;
  if (label.item >= 0) text += "[" + std::to_string(label.item) + "]";
  return text;
}

}  // namespace

bool init_ndarray_type() {
  if (ndarray_type) return true;
  // Everything looked up here is kept for the life of the process.
  Ref numpy(PyImport_ImportModule("numpy"));
  if (!numpy) return false;
  Ref dtype_type(PyObject_GetAttrString(numpy.get(), "dtype"));
  if (!dtype_type) return false;
  const std::pair<const char*, Elem> natives[] = {
      {"d", Elem::f64}, {"f", Elem::f32}, {"?", Elem::boolean}, {"L", Elem::u64}, {"Q", Elem::u64}};
  std::size_t k = 0;
  for (auto [code, elem] : natives) {
    PyObject* dtype = PyObject_CallFunction(dtype_type.get(), "s", code);
    if (!dtype) return false;
    known_dtypes[k++] = {dtype, elem};
  }
  dtype_attr = PyUnicode_InternFromString("dtype");
  if (!dtype_attr) return false;
  ndarray_type = PyObject_GetAttrString(numpy.get(), "ndarray");
  return ndarray_type != nullptr;
}

ArrayArg::ArrayArg(ArrayArg&& other) noexcept
    : obj_(std::exchange(other.obj_, nullptr)),
      examined_(other.examined_),
      held_(std::exchange(other.held_, false)),
      elem_(other.elem_),
      view_(other.view_) {}

ArrayArg& ArrayArg::operator=(ArrayArg&& other) noexcept {
  if (this != &other) {
    this->~ArrayArg();
    new (this) ArrayArg(std::move(other));
  }
  return *this;
}

ArrayArg::~ArrayArg() {
  if (held_) PyBuffer_Release(&view_);
  Py_XDECREF(obj_);
}

Elem ArrayArg::elem() {
  if (examined_) return elem_;
  examined_ = true;
  if (!obj_ || !is_ndarray(obj_)) return elem_;
  Elem known = Elem::none;
  if (Ref dtype{PyObject_GetAttr(obj_, dtype_attr)}) {
    for (const KnownDtype& d : known_dtypes)
      if (dtype.get() == d.dtype) known = d.elem;
  } else {
    PyErr_Clear();
  }
  // Other dtype objects (a foreign byte order, metadata, ...) are judged by
  // the buffer's format.
  const int flags = known != Elem::none ? PyBUF_STRIDES : PyBUF_RECORDS_RO;
  if (PyObject_GetBuffer(obj_, &view_, flags) != 0) {
    PyErr_Clear();  // a dtype NumPy cannot export is simply not an array we take
    return elem_;
  }
  held_ = true;
  if (view_.ndim == 1)
    elem_ = known != Elem::none ? known : parse_format(view_.format, view_.itemsize);
  return elem_;
}

bool ArrayArg::usable() const {
  if (view_.shape[0] <= 1) return true;
  return view_.strides[0] == view_.itemsize &&
         reinterpret_cast<std::uintptr_t>(view_.buf) % static_cast<std::uintptr_t>(view_.itemsize) == 0;
}

std::uintptr_t ArrayArg::lo() const {
  const auto base = reinterpret_cast<std::uintptr_t>(view_.buf);
  if (size() == 0 || view_.strides[0] >= 0) return base;
  return base - static_cast<std::uintptr_t>(-view_.strides[0]) * (size() - 1);
}

std::uintptr_t ArrayArg::hi() const {
  const auto base = reinterpret_cast<std::uintptr_t>(view_.buf);
  if (size() == 0) return base;
  const auto item = static_cast<std::uintptr_t>(view_.itemsize);
  if (view_.strides[0] < 0) return base + item;
  return base + static_cast<std::uintptr_t>(view_.strides[0]) * (size() - 1) + item;
}

bool Borrows::take(const ArrayArg& a, bool result, Label label, bool check_now) {
  if (result && a.readonly()) {
    raise(PyExc_ValueError, "result array " + describe(label) + " is not writeable");
    return false;
  }
  if (a.lo() == a.hi()) return true;  // no memory, nothing to overlap
  const Borrow b{a.lo(), a.hi(), result, label};
  if (check_now) {
    for (const Borrow* other = begin(); other != end(); ++other) {
      if (conflict(*other, b)) {
        refuse(*other, b);
        return false;
      }
    }
  }
  if (count_ < kInline) {
    small_[count_++] = b;
    return true;
  }
  if (spill_.empty()) spill_.assign(small_, small_ + kInline);
  spill_.push_back(b);
  ++count_;
  return true;
}

void Borrows::refuse(const Borrow& a, const Borrow& b) {
  raise(PyExc_ValueError, describe(a.label) + " and " + describe(b.label) +
                              " share memory; a result array may not overlap any other array");
}

bool Borrows::check() const {
  // Sweep in address order: a range overlaps an earlier one exactly when it
  // starts before the furthest end seen so far.
  std::vector<Borrow> sorted(begin(), end());
  std::sort(sorted.begin(), sorted.end(), [](const Borrow& a, const Borrow& b) { return a.lo < b.lo; });
  const Borrow* furthest = nullptr;
  const Borrow* furthest_result = nullptr;
  for (const Borrow& b : sorted) {
    const Borrow* other = b.result ? furthest : furthest_result;
    if (other && b.lo < other->hi) {
      refuse(*other, b);
      return false;
    }
    if (!furthest || b.hi > furthest->hi) furthest = &b;
    if (b.result && (!furthest_result || b.hi > furthest_result->hi)) furthest_result = &b;
  }
  return true;
}

}  // namespace quorbel::binding
