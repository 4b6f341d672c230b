#include "ema.hpp"

#include "driver.hpp"
#include "prefix.hpp"
#include "window.hpp"

namespace quorbel::algo {

namespace {

// Strict mode's warm-up: the first `window` - 1 positions of a group. A window
// length of 0 (sma, dma, or a per-position parameter of 0) has no warm-up.
inline bool warm_up(std::size_t i, std::uint64_t window) { return window > 0 && i + 1 < window; }

// The smoothing recursion over one group slice, from the computation range's
// start to the end of the slice (positions before the start are left as they
// are). The state is seeded with the slice's first value. With `Restart`, a
// NaN state restarts from the current value.
// The usual step: x*alpha + s*(1 - alpha), the products rounded separately.
template <class T>
T blend(T x, T s, T alpha) {
  return x * alpha + s * (T(1) - alpha);
}

template <class T, bool Restart, class Factor, class Window, class Step = decltype(&blend<T>)>
void smooth(const Context& ctx, std::span<T> r, std::span<const T> x, bool strict, Factor&& factor,
            Window&& window, Step step = &blend<T>) {
  const std::size_t n = r.size();
  const bool skip_nan = ctx.skip_nan();
  T s = x[0];
  std::size_t i = ctx.start_at(n);
  while (i < n) {
    for (; i < n; ++i) {
      const T v = x[i];
      if (skip_nan && is_nan(v)) {
        r[i] = kNaN<T>;
        continue;
      }
      if (strict && warm_up(i, window(i))) {
        r[i] = kNaN<T>;
        s = v;
        continue;
      }
      // Leaving the loop, rather than selecting the restart value, keeps the
      // NaN test off the recursion's latency chain.
      if (Restart && is_nan(s)) break;
      s = step(v, s, factor(i));
      r[i] = s;
    }
    if (i == n) break;
    // The state is NaN: restart from the current value.
    const T v = x[i];
    s = step(v, v, factor(i));
    r[i++] = s;
  }
}

// 2 / (periods + 1), periods + 1 formed without wrapping.
template <class T>
T ema_factor(std::uint64_t periods) {
  const T divisor = periods == UINT64_MAX ? static_cast<T>(18446744073709551616.0) : static_cast<T>(periods + 1);
  return T(2) / divisor;
}

template <class T>
struct LinearWeighted {
  const T* x;
  T p;
  T divisor;
  T sum = 0;
  T weighted = 0;  // newest value weighted p, oldest 1; NaN counts as 0

  bool enter(std::size_t j) {
    T v = x[j];
    const bool missing = is_nan(v);
    if (missing) v = 0;
    weighted = weighted + p * v - sum;  // every value ages by one weight
    sum = sum + v;
    return missing;
  }
  bool leave(std::size_t j) {
    const T v = x[j];
    if (is_nan(v)) return true;
    sum -= v;
    return false;
  }
  T value(std::size_t, std::size_t) const { return weighted / divisor; }
};

template <class T>
void lwma_v_default(std::span<T> r, std::span<const T> x, std::span<const std::uint64_t> periods, Range range) {
  walk_prefix<T, true>(r, x, periods, range, [](std::size_t t, std::uint64_t w, const auto& prefix) {
    if (w == 0 || t + 1 < w) return kNaN<T>;  // full windows only
    const std::size_t lo = t - w + 1;
    if (!prefix.clean(lo)) return kNaN<T>;
    // the weighted sum of the window re-based so that its oldest value weighs 1
    return (prefix.weighted(lo, t + 1) - prefix.sum(lo, t + 1) * static_cast<T>(lo)) / triangle<T>(w);
  });
}

template <class T>
void lwma_v_skip_nan(const Context& ctx, std::span<T> r, std::span<const T> x,
                     std::span<const std::uint64_t> periods, Range range) {
  const bool strict = ctx.strict();
  walk_skip_prefix<T, true>(r, x, periods, range, [&](std::size_t t, std::uint64_t w, const auto& values) {
    const std::size_t c = values.count();
    if (w == 0 || c < w || (strict && !values.consecutive(t, w))) return kNaN<T>;
    return (values.weighted_last(w) - values.sum_last(w) * static_cast<T>(c - w)) / triangle<T>(w);
  });
}

}  // namespace

template <class T>
Status ema_impl(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods,
                T factor) {
  if (auto err = check_lengths(r.size(), input.size())) return err;
  if (factor < 0 || factor > 1) return Error::invalid_parameter("alpha must be between 0 and 1");
  run_groups(
      ctx,
      [&](std::span<T> rs, std::span<const T> xs) {
        smooth<T, true>(
            ctx, rs, xs, ctx.strict(), [&](std::size_t) { return factor; },
            [&](std::size_t) { return periods; });
      },
      r, input);
  return {};
}

template <class T>
Status ta_ema(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods) {
  return ema_impl(ctx, r, input, periods, ema_factor<T>(periods));
}

template <class T>
Status ta_sma(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t n, std::uint64_t m) {
  return ema_impl(ctx, r, input, 0, static_cast<T>(m) / static_cast<T>(n));
}

template <class T>
Status ta_dma(const Context& ctx, std::span<T> r, std::span<const T> input, T weight) {
  return ema_impl(ctx, r, input, 0, weight);
}

template <class T>
Status ta_ema_v(const Context& ctx, std::span<T> r, std::span<const T> input,
                std::span<const std::uint64_t> periods) {
  if (auto err = check_lengths(r.size(), input.size(), periods.size())) return err;
  run_groups(
      ctx,
      [&](std::span<T> rs, std::span<const T> xs, std::span<const std::uint64_t> ps) {
        smooth<T, false>(
            ctx, rs, xs, ctx.strict(), [&](std::size_t i) { return ps[i] == 0 ? T(0) : ema_factor<T>(ps[i]); },
            [&](std::size_t i) { return ps[i]; });
      },
      r, input, periods);
  return {};
}

template <class T>
Status ta_sma_v(const Context& ctx, std::span<T> r, std::span<const T> input, std::span<const std::uint64_t> ns,
                std::uint64_t m) {
  if (auto err = check_lengths(r.size(), input.size(), ns.size())) return err;
  const T mf = static_cast<T>(m);
  run_groups(
      ctx,
      [&](std::span<T> rs, std::span<const T> xs, std::span<const std::uint64_t> ps) {
        smooth<T, false>(
            ctx, rs, xs, ctx.strict(), [&](std::size_t i) { return ps[i] == 0 ? T(0) : mf / static_cast<T>(ps[i]); },
            [&](std::size_t i) { return ps[i]; });
      },
      r, input, ns);
  return {};
}

template <class T>
Status ta_dma_v(const Context& ctx, std::span<T> r, std::span<const T> input, std::span<const T> weight) {
  if (auto err = check_lengths(r.size(), input.size(), weight.size())) return err;
  for (const T w : weight)
    if (w < 0 || w > 1) return Error::invalid_parameter("weight must be between 0 and 1");
  run_groups(
      ctx,
      [&](std::span<T> rs, std::span<const T> xs, std::span<const T> ws) {
        // Written state first: with NaN in both terms the first one's NaN comes through.
        smooth<T, false>(
            ctx, rs, xs, false, [&](std::size_t i) { return ws[i]; }, [](std::size_t) { return 0; },
            [](T v, T state, T w) { return state * (T(1) - w) + w * v; });
      },
      r, input, weight);
  return {};
}

template <class T>
Status ta_lwma(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods) {
  if (auto err = check_lengths(r.size(), input.size())) return err;
  if (periods == 1) {
    std::copy(input.begin(), input.end(), r.begin());
    return {};
  }
  const T p = static_cast<T>(periods);
  const T divisor = triangle<T>(periods);
  run_groups(
      ctx,
      [&](std::span<T> rs, std::span<const T> xs) {
        if (periods == 0) return fill_nan(rs);
        LinearWeighted<T> state{xs.data(), p, divisor};
        run_window(ctx, rs, xs, periods, state, {.full_only = true});
      },
      r, input);
  return {};
}

template <class T>
Status ta_lwma_v(const Context& ctx, std::span<T> r, std::span<const T> input,
                 std::span<const std::uint64_t> periods) {
  return run_per_position(
      ctx, r, input, periods, [&](auto... a) { lwma_v_skip_nan<T>(ctx, a...); },
      [&](auto... a) { lwma_v_default<T>(a...); });
}

#define INSTANTIATE(T)                                                                                      \
  template Status ema_impl<T>(const Context&, std::span<T>, std::span<const T>, std::uint64_t, T);          \
  template Status ta_ema<T>(const Context&, std::span<T>, std::span<const T>, std::uint64_t);               \
  template Status ta_sma<T>(const Context&, std::span<T>, std::span<const T>, std::uint64_t, std::uint64_t); \
  template Status ta_dma<T>(const Context&, std::span<T>, std::span<const T>, T);                           \
  template Status ta_ema_v<T>(const Context&, std::span<T>, std::span<const T>, std::span<const std::uint64_t>); \
  template Status ta_sma_v<T>(const Context&, std::span<T>, std::span<const T>, std::span<const std::uint64_t>, \
                              std::uint64_t);                                                               \
  template Status ta_dma_v<T>(const Context&, std::span<T>, std::span<const T>, std::span<const T>);        \
  template Status ta_lwma<T>(const Context&, std::span<T>, std::span<const T>, std::uint64_t);              \
  template Status ta_lwma_v<T>(const Context&, std::span<T>, std::span<const T>, std::span<const std::uint64_t>);
INSTANTIATE(float)
INSTANTIATE(double)
#undef INSTANTIATE

}  // namespace quorbel::algo
