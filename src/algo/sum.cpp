#include "sum.hpp"

#include "driver.hpp"
#include "window.hpp"

namespace quorbel::algo {

namespace {

// A running sum of the values whose condition holds (all of them for `sum`).
// In the positional modes a NaN counts as missing only when its condition
// holds; in the NaN-skipping mode the window is formed by NaN alone.
template <class T, bool Conditional>
struct Sum {
  const T* x;
  const Bool* condition;
  T sum = 0;

  bool counts(std::size_t j) const {
    if constexpr (Conditional) return static_cast<bool>(condition[j]);
    return true;
  }
  bool enter(std::size_t j) {
    if (!counts(j)) return false;
    const T v = x[j];
    if (is_nan(v)) return true;
    sum += v;
    return false;
  }
  bool leave(std::size_t j) {
    if (!counts(j)) return false;
    const T v = x[j];
    if (is_nan(v)) return true;
    sum -= v;
    return false;
  }
  T value(std::size_t, std::size_t) const { return sum; }

  // Cumulative window: takes position j if it is a counted non-NaN value.
  bool accumulate(std::size_t j) {
    if (!counts(j) || is_nan(x[j])) return false;
    sum += x[j];
    return true;
  }
};

template <class T, bool Conditional>
void sum_kernel(const Context& ctx, std::span<T> r, std::span<const T> x, const Bool* condition,
                std::uint64_t periods) {
  Sum<T, Conditional> state{x.data(), condition};
  if (periods > 0) return run_window(ctx, r, x, periods, state);
  walk_cumulative(
      r, prepare_range(ctx, r), [&](std::size_t j) { return state.accumulate(j); },
      [&] { return state.sum; });
}

}  // namespace

template <class T>
Status ta_sum(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods) {
  if (auto err = check_lengths(r.size(), input.size())) return err;
  run_groups(
      ctx, [&](std::span<T> rs, std::span<const T> xs) { sum_kernel<T, false>(ctx, rs, xs, nullptr, periods); },
      r, input);
  return {};
}

template <class T>
Status ta_sumif(const Context& ctx, std::span<T> r, std::span<const T> input, std::span<const Bool> condition,
                std::uint64_t periods) {
  if (auto err = check_lengths(r.size(), input.size(), condition.size())) return err;
  run_groups(
      ctx,
      [&](std::span<T> rs, std::span<const T> xs, std::span<const Bool> cs) {
        sum_kernel<T, true>(ctx, rs, xs, cs.data(), periods);
      },
      r, input, condition);
  return {};
}

template <class T>
Status ta_sumbars(const Context& ctx, std::span<T> r, std::span<const T> input, T amount) {
  if (auto err = check_lengths(r.size(), input.size())) return err;
  const bool skip_nan = ctx.skip_nan();
  // Each position walks back until the running sum reaches the amount, so
  // the work per element can be large: let the driver split finely.
  constexpr std::size_t kWalkCost = 64;
  run_groups_costed(
      ctx, kWalkCost,
      [&](std::span<T> rs, std::span<const T> xs) {
        const Range range = prepare_range(ctx, rs);
        for (std::size_t t = range.s; t < range.e; ++t) {
          rs[t] = kNaN<T>;
          if (is_nan(amount)) continue;  // no sum is ever >= NaN
          T sum = 0;
          std::int64_t counted = 0;
          for (std::size_t k = t + 1; k-- > 0;) {
            const T v = xs[k];
            if (is_nan(v)) {
              if (!skip_nan) break;  // the sum is NaN from here on
              continue;
            }
            sum += v;
            ++counted;
            if (is_nan(sum)) break;  // infinities of both signs: never reached
            if (sum >= amount) {
              rs[t] = static_cast<T>(skip_nan ? counted : static_cast<std::int64_t>(t - k + 1));
              break;
            }
          }
        }
      },
      r, input);
  return {};
}

#define INSTANTIATE(T)                                                                             \
  template Status ta_sum<T>(const Context&, std::span<T>, std::span<const T>, std::uint64_t);      \
  template Status ta_sumif<T>(const Context&, std::span<T>, std::span<const T>, std::span<const Bool>, \
                              std::uint64_t);                                                      \
  template Status ta_sumbars<T>(const Context&, std::span<T>, std::span<const T>, T);
INSTANTIATE(float)
INSTANTIATE(double)
#undef INSTANTIATE

}  // namespace quorbel::algo
