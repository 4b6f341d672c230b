#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <span>

namespace quorbel::algo {

// NumPy stores a bool as one byte. Reading that byte as a C++ bool is undefined
// for values other than 0 and 1, which a view of other data can hold, so
// conditions are bytes that count as true when non-zero.
struct Bool {
  std::uint8_t byte;
  explicit operator bool() const { return byte != 0; }
};

// A member that takes no room, where a template needs none.
struct Nothing {};

template <class T>
inline constexpr T kNaN = std::numeric_limits<T>::quiet_NaN();

template <class T>
inline bool is_nan(T v) {
  return v != v;
}

template <class T>
void fill_nan(std::span<T> r) {
  std::fill(r.begin(), r.end(), kNaN<T>);
}

}  // namespace quorbel::algo
