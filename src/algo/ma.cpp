#include "ma.hpp"

#include <algorithm>

#include "driver.hpp"
#include "prefix.hpp"
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

// Zeros are counted rather than multiplied in, so that a zero leaving the
// window does not leave a division by zero behind.
template <class T>
struct Product {
  const T* x;
  T product = 1;
  std::int64_t zeros = 0;

  bool enter(std::size_t j) {
    const T v = x[j];
    if (is_nan(v)) return true;
    if (v == 0)
      ++zeros;
    else
      product *= v;
    return false;
  }
  bool leave(std::size_t j) {
    const T v = x[j];
    if (is_nan(v)) return true;
    if (v == 0)
      --zeros;
    else
      product /= v;
    return false;
  }
  T value(std::size_t, std::size_t) const { return zeros <= 0 ? product : T(0); }
};

template <class T>
void ma_v_default(const Context& ctx, std::span<T> r, std::span<const T> x,
                  std::span<const std::uint64_t> periods, Range range) {
  const bool strict = ctx.strict();
  walk_prefix<T, false>(r, x, periods, range, [&](std::size_t t, std::uint64_t w, const auto& prefix) {
    // a window reaching before the group's start is shortened to what it has
    const std::size_t lo = t < w ? 0 : t - w + 1;
    const bool write = w > 0 && prefix.clean(lo) && !(strict && t + 1 < w);
    return write ? prefix.sum(lo, t + 1) / static_cast<T>(t - lo + 1) : kNaN<T>;
  });
}

template <class T>
void ma_v_skip_nan(const Context& ctx, std::span<T> r, std::span<const T> x,
                   std::span<const std::uint64_t> periods, Range range) {
  const bool strict = ctx.strict();
  walk_skip_prefix<T, false>(r, x, periods, range, [&](std::size_t t, std::uint64_t w, const auto& values) {
    if (w == 0) return kNaN<T>;
    if (!strict) {
      const std::size_t n = std::min<std::uint64_t>(w, values.count());
      return values.sum_last(n) / static_cast<T>(n);
    }
    return values.consecutive(t, w) ? values.sum_last(w) / static_cast<T>(w) : kNaN<T>;
  });
}

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

template <class T>
Status ta_ma_v(const Context& ctx, std::span<T> r, std::span<const T> input,
               std::span<const std::uint64_t> periods) {
  return run_per_position(
      ctx, r, input, periods, [&](auto... a) { ma_v_skip_nan<T>(ctx, a...); },
      [&](auto... a) { ma_v_default<T>(ctx, a...); });
}

template <class T>
Status ta_product(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods) {
  if (auto err = check_lengths(r.size(), input.size())) return err;
  run_groups(
      ctx,
      [&](std::span<T> rs, std::span<const T> xs) {
        if (periods > 0) {
          Product<T> state{xs.data()};
          return run_window(ctx, rs, xs, periods, state);
        }
        // Cumulative: zeros are multiplied in like any other value.
        T product = 1;
        walk_cumulative(
            rs, prepare_range(ctx, rs),
            [&](std::size_t j) {
              if (is_nan(xs[j])) return false;
              product *= xs[j];
              return true;
            },
            [&] { return product; });
      },
      r, input);
  return {};
}

#define INSTANTIATE(T)                                                                             \
  template Status ta_ma<T>(const Context&, std::span<T>, std::span<const T>, std::uint64_t);       \
  template Status ta_ma_v<T>(const Context&, std::span<T>, std::span<const T>,                     \
                             std::span<const std::uint64_t>);                                      \
  template Status ta_product<T>(const Context&, std::span<T>, std::span<const T>, std::uint64_t);
INSTANTIATE(float)
INSTANTIATE(double)
#undef INSTANTIATE

}  // namespace quorbel::algo
