#include "arrays.hpp"

#include <algorithm>

// NumPy's C API is used in this file only.
#define PY_ARRAY_UNIQUE_SYMBOL quorbel_algo_ARRAY_API
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#define NPY_TARGET_VERSION NPY_1_22_API_VERSION
#include <numpy/arrayobject.h>

namespace quorbel::binding {

namespace {

std::string describe(const Borrows::Label& label) {
  std::string text = label.name;
  if (label.item >= 0) text += "[" + std::to_string(label.item) + "]";
  return text;
}

}  // namespace

bool init_numpy() {
  if (PyArray_API) return true;
  import_array1(false);
  return true;
}

ArrayArg& ArrayArg::operator=(ArrayArg&& other) noexcept {
  if (this != &other) {
    Py_XDECREF(obj_);
    obj_ = std::exchange(other.obj_, nullptr);
    examined_ = other.examined_;
    writeable_ = other.writeable_;
    elem_ = other.elem_;
    data_ = other.data_;
    size_ = other.size_;
    stride_ = other.stride_;
    itemsize_ = other.itemsize_;
  }
  return *this;
}

Elem ArrayArg::elem() {
  if (examined_) return elem_;
  examined_ = true;
  if (!obj_ || !PyArray_Check(obj_)) return elem_;
  auto* a = reinterpret_cast<PyArrayObject*>(obj_);
  if (PyArray_NDIM(a) != 1 || !PyArray_ISNOTSWAPPED(a)) return elem_;
  itemsize_ = static_cast<std::size_t>(PyArray_ITEMSIZE(a));
  switch (PyArray_TYPE(a)) {
    case NPY_DOUBLE: elem_ = Elem::f64; break;
    case NPY_FLOAT: elem_ = Elem::f32; break;
    case NPY_BOOL: elem_ = Elem::boolean; break;
    case NPY_ULONG:
    case NPY_ULONGLONG: elem_ = itemsize_ == 8 ? Elem::u64 : Elem::none; break;
    default: break;
  }
  data_ = PyArray_DATA(a);
  size_ = static_cast<std::size_t>(PyArray_DIM(a, 0));
  stride_ = PyArray_STRIDE(a, 0);
  writeable_ = PyArray_ISWRITEABLE(a);
  return elem_;
}

bool ArrayArg::usable() const {
  if (size_ == 0) return true;
  // Misaligned data cannot be read as T*, whatever the length.
  if (reinterpret_cast<std::uintptr_t>(data_) % itemsize_ != 0) return false;
  return size_ == 1 || stride_ == static_cast<std::ptrdiff_t>(itemsize_);
}

std::uintptr_t ArrayArg::lo() const {
  const auto base = reinterpret_cast<std::uintptr_t>(data_);
  if (size_ == 0 || stride_ >= 0) return base;
  return base - static_cast<std::uintptr_t>(-stride_) * (size_ - 1);
}

std::uintptr_t ArrayArg::hi() const {
  const auto base = reinterpret_cast<std::uintptr_t>(data_);
  if (size_ == 0) return base;
  if (stride_ < 0) return base + itemsize_;
  return base + static_cast<std::uintptr_t>(stride_) * (size_ - 1) + itemsize_;
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
