#include "ma.hpp"

#include <algorithm>

#include "driver.hpp"
#include "window.hpp"

namespace quorbel::algo {

namespace {

template <class T>
struct Mean {
  const T* x;
  T sum = 0;

  bool enter(std::size_t j) {
    const T v = x[j];
    if (is_nan(v)) return true;
    sum += v;
    return false;
  }
  bool leave(std::size_t j) {
    const T v = x[j];
    if (is_nan(v)) return true;
    sum -= v;
    return false;
  }
  T value(std::size_t, std::size_t n) const { return sum / static_cast<T>(n); }
};

}  // namespace

template <class T>
Status ta_ma(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods) {
  if (auto err = check_lengths(r.size(), input.size())) return err;
  if (periods == 1) {
    std::copy(input.begin(), input.end(), r.begin());
    return {};
  }
  run_groups(
      ctx,
      [&](std::span<T> rs, std::span<const T> xs) {
        if (periods == 0) return fill_nan(rs);  // an empty window has no mean
        Mean<T> state{xs.data()};
        run_window(ctx, rs, xs, periods, state);
      },
      r, input);
  return {};
}

#define INSTANTIATE(T) \
  template Status ta_ma<T>(const Context&, std::span<T>, std::span<const T>, std::uint64_t);
INSTANTIATE(float)
INSTANTIATE(double)
#undef INSTANTIATE

}  // namespace quorbel::algo
