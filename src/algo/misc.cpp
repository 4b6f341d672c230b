#include "misc.hpp"

#include <algorithm>

#include "driver.hpp"
#include "extreme.hpp"
#include "prefix.hpp"
#include "window.hpp"

namespace quorbel::algo {

namespace {

// The window's highest minus its lowest value.
template <class T>
struct Spread {
  BlockExtreme<T, Highest, false> highest;
  BlockExtreme<T, Lowest, false> lowest;

  void begin(std::size_t block, bool previous) {
    highest.begin(block, previous);
    lowest.begin(block, previous);
  }
  void push(std::size_t i) {
    highest.push(i);
    lowest.push(i);
  }
  T value(std::size_t, std::size_t lo) const { return highest.best(lo).v - lowest.best(lo).v; }
};

}  // namespace

template <class T>
Status ta_min_max_diff(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods) {
  if (auto err = check_lengths(r.size(), input.size())) return err;
  run_groups(
      ctx,
      [&](std::span<T> rs, std::span<const T> xs) {
        if (periods == 0) return fill_nan(rs);
        Spread<T> spread{{xs.data(), periods}, {xs.data(), periods}};
        // Positional windows in every mode: NaN-skipping does not apply here.
        walk_blocks(ctx, rs, xs, periods, prepare_range(ctx, rs), spread);
      },
      r, input);
  return {};
}

template <class T>
Status ta_weighted_delay(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods) {
  if (auto err = check_lengths(r.size(), input.size())) return err;
  if (periods == 0) {
    fill_nan(r);
    return {};
  }
  const T divisor = triangle<T>(periods);
  // The linearly weighted mean of the `periods` values before each position,
  // summed afresh at every position: p multiplications per output.
  run_groups_costed(
      ctx, periods,
      [&](std::span<T> rs, std::span<const T> xs) {
        const Range range = prepare_range(ctx, rs);
        for (std::size_t i = range.s; i < range.e; ++i) {
          rs[i] = kNaN<T>;
          if (i < periods) continue;
          T sum = 0;
          bool missing = false;
          for (std::uint64_t j = 1; j <= periods; ++j) {
            const T v = xs[i - j];
            if (is_nan(v)) {
              missing = true;
              break;
            }
            sum += v * static_cast<T>(periods + 1 - j);
          }
          if (!missing) rs[i] = sum / divisor;
        }
      },
      r, input);
  return {};
}

#define INSTANTIATE(T)                                                                                  \
  template Status ta_min_max_diff<T>(const Context&, std::span<T>, std::span<const T>, std::uint64_t); \
  template Status ta_weighted_delay<T>(const Context&, std::span<T>, std::span<const T>, std::uint64_t);
INSTANTIATE(float)
INSTANTIATE(double)
#undef INSTANTIATE

}  // namespace quorbel::algo
