#pragma once
// The settings every computation runs under: which groups the flat arrays hold,
// which positions of each group slice to compute and which window mode to use.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quorbel::algo {

inline constexpr std::uint64_t FLAG_SKIP_NAN = 1;
inline constexpr std::uint64_t FLAG_STRICT = 2;

struct Context {
  std::int32_t start = 0;
  std::int32_t end = 0;
  std::uint32_t groups = 0;
  std::uint64_t flags = 0;

  bool skip_nan() const { return (flags & FLAG_SKIP_NAN) != 0; }
  bool strict() const { return (flags & FLAG_STRICT) != 0; }

  // First computed position of a group slice of length n. A start at or past
  // the end still selects the last position; negative values count back.
  std::size_t start_at(std::size_t n) const { return resolve(start, n, false); }
  // One past the last computed position; 0 means the end of the slice.
  std::size_t end_at(std::size_t n) const { return resolve(end, n, true); }

  std::string to_string() const {
    return "Context { start: " + std::to_string(start) + ", groups: " + std::to_string(groups) +
           ", flags: " + std::to_string(flags) + " }";
  }

 private:
  static std::size_t resolve(std::int32_t v, std::size_t n, bool is_end) {
    if (n == 0) return 0;
    if (v < 0) {
      // Counted from the end in 64 bits, so slices longer than 2^31 resolve
      // soundly instead of wrapping.
      const std::uint64_t back = static_cast<std::uint64_t>(-static_cast<std::int64_t>(v));
      return back >= n ? 0 : n - static_cast<std::size_t>(back);
    }
    const auto pos = static_cast<std::size_t>(v);
    if (is_end) return v == 0 ? n : std::min(pos, n);
    return std::min(pos, n - 1);
  }
};

}  // namespace quorbel::algo
