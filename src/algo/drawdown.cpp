#include "drawdown.hpp"

#include <string>

#include "driver.hpp"
#include "window.hpp"

namespace quorbel::algo {

namespace {

// The most negative fractional fall from the running peak over x[lo .. s],
// the peak starting at x[lo]; NaN when any value of the window is NaN.
template <class T>
T drawdown(const T* x, std::size_t lo, std::size_t s) {
  T peak = x[lo];
  if (is_nan(peak)) return kNaN<T>;
  const T first = (peak - peak) / peak;
  T worst = is_nan(first) ? T(0) : first;  // -0 for a negative first value
  for (std::size_t k = lo + 1; k <= s; ++k) {
    const T v = x[k];
    if (is_nan(v)) return kNaN<T>;
    if (v > peak) peak = v;
    const T d = (v - peak) / peak;
    if (d < worst) worst = d;
  }
  return worst;
}

// The same over the non-NaN values of x[lo .. s].
template <class T>
T drawdown_skip_nan(const T* x, std::size_t lo, std::size_t s) {
  while (is_nan(x[lo])) ++lo;  // x[s] is not NaN
  T peak = x[lo];
  T worst = 0;
  for (std::size_t k = lo; k <= s; ++k) {
    const T v = x[k];
    if (is_nan(v)) continue;
    if (v > peak) peak = v;
    const T d = (v - peak) / peak;
    if (d < worst) worst = d;
  }
  return worst;
}

}  // namespace

template <class T>
Status ta_max_drawdown(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods) {
  if (auto err = check_lengths(r.size(), input.size())) return err;
  if (periods == 0)
    return Error::invalid_period("max_drawdown requires periods >= 1, got " + std::to_string(periods));
  // Every output rescans its window: the work per element is the window length.
  run_groups_costed(
      ctx, periods,
      [&](std::span<T> rs, std::span<const T> xs) {
        const T* x = xs.data();
        const Range range = prepare_range(ctx, rs);
        for (std::size_t s = range.s; s < range.e; ++s) {
          const std::size_t lo = s < periods ? 0 : s - periods + 1;
          // In strict mode the count of complete windows starts at the range's start.
          const bool warm_up = ctx.strict() && s - range.s + 1 < periods;
          if (warm_up || is_nan(x[s]))
            rs[s] = kNaN<T>;
          else
            rs[s] = ctx.skip_nan() ? drawdown_skip_nan(x, lo, s) : drawdown(x, lo, s);
        }
      },
      r, input);
  return {};
}

#define INSTANTIATE(T) \
  template Status ta_max_drawdown<T>(const Context&, std::span<T>, std::span<const T>, std::uint64_t);
INSTANTIATE(float)
INSTANTIATE(double)
#undef INSTANTIATE

}  // namespace quorbel::algo
