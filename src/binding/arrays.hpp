#pragma once
// Arguments examined as NumPy arrays, and the borrows a call holds on them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "py.hpp"

namespace quorbel::binding {

// Element types an argument can have.
enum class Elem : std::uint8_t { none, f64, f32, boolean, u64 };

// Initialises NumPy's C API; false with a Python exception on failure.
bool init_numpy();

// One argument, examined on first use so that every attempt of a call sees the
// same view. Holds a reference to the object until destruction.
class ArrayArg {
 public:
  ArrayArg() = default;
  explicit ArrayArg(PyObject* o) : obj_(o) { Py_XINCREF(o); }
  ArrayArg(const ArrayArg&) = delete;
  ArrayArg& operator=(const ArrayArg&) = delete;
  ArrayArg(ArrayArg&& other) noexcept { *this = std::move(other); }
  ArrayArg& operator=(ArrayArg&& other) noexcept;
  ~ArrayArg() { Py_XDECREF(obj_); }

  PyObject* object() const { return obj_; }
  // none unless the object is a one-dimensional ndarray of a native type.
  Elem elem();
  bool readonly() const { return !writeable_; }
  std::size_t size() const { return size_; }
  // Contiguous with unit stride and aligned for its element type, so that it
  // can be handed to the library as a plain span.
  bool usable() const;
  void* data() const { return size_ == 0 ? nullptr : data_; }
  // The bytes its elements occupy, [lo, hi); empty for a zero-length array.
  std::uintptr_t lo() const;
  std::uintptr_t hi() const;

 private:
  PyObject* obj_ = nullptr;
  bool examined_ = false;
  bool writeable_ = false;
  Elem elem_ = Elem::none;
  void* data_ = nullptr;
  std::size_t size_ = 0;
  std::ptrdiff_t stride_ = 0;
  std::size_t itemsize_ = 0;
};

// The borrows of one call: results exclusive, inputs shared. A result may not
// share memory with any other array of the call.
class Borrows {
 public:
  struct Label {
    const char* name;
    std::ptrdiff_t item;  // index in a list batch, or -1
  };

  // Refuses (with a Python exception) a result that is not writeable, and,
  // when `check_now`, an overlap with what is already borrowed.
  bool take(const ArrayArg& a, bool result, Label label, bool check_now = true);
  // Checks every borrow against every other; false with a Python exception.
  bool check() const;
  void clear() {
    count_ = 0;
    spill_.clear();
  }
  void reserve(std::size_t n) {
    if (n > kInline) spill_.reserve(n);
  }

 private:
  struct Borrow {
    std::uintptr_t lo, hi;
    bool result;
    Label label;
  };
  static bool conflict(const Borrow& a, const Borrow& b) {
    return (a.result || b.result) && a.lo < b.hi && b.lo < a.hi;
  }
  static void refuse(const Borrow& a, const Borrow& b);
  const Borrow* begin() const { return spill_.empty() ? small_ : spill_.data(); }
  const Borrow* end() const { return begin() + count_; }

  // A single call borrows at most a handful of arrays: those stay inline, so
  // a call allocates nothing; list batches spill to the heap.
  static constexpr std::size_t kInline = 8;
  Borrow small_[kInline];
  std::vector<Borrow> spill_;
  std::size_t count_ = 0;
};

}  // namespace quorbel::binding
