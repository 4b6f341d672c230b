#include "extremum.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "driver.hpp"
#include "extreme.hpp"
#include "ring.hpp"
#include "window.hpp"

namespace quorbel::algo {

namespace {

// periods = 0: the expanding window from the start of the range. Without
// NaN-skipping a NaN ends the group's output, since every later window holds it.
template <class T, class Better, class Emit>
void cumulative_extremum(const Context& ctx, std::span<T> r, std::span<const T> x, Range range) {
  bool have = false;
  T best = 0;
  std::size_t at = 0;
  for (std::size_t t = range.s; t < range.e; ++t) {
    const T v = x[t];
    if (!is_nan(v)) {
      if (!have || !Better::keeps(v, best)) {
        best = v;
        at = t;
        have = true;
      }
      r[t] = Emit::emit(t, at, best);
    } else if (ctx.skip_nan()) {
      r[t] = have ? Emit::emit(t, at, best) : kNaN<T>;
    } else {
      std::fill(r.begin() + t, r.begin() + range.e, kNaN<T>);
      return;
    }
  }
}

template <class T, class Better, class Emit>
struct BlockTrack : BlockExtreme<T, Better, Emit::kPositions> {
  using BlockExtreme<T, Better, Emit::kPositions>::BlockExtreme;
  T value(std::size_t i, std::size_t lo) const {
    const auto best = this->best(lo);
    if constexpr (Emit::kPositions)
      return Emit::emit(i, best.at, best.v);
    else
      return Emit::emit(i, 0, best.v);
  }
};

// NaN-skipping mode: the window is the last p non-NaN values of the range, so
// the block engine runs on their ranks, reading them from a ring that holds
// the latest p + 1 of them.
template <class T, class Better, class Emit>
void block_skip_nan(const Context& ctx, std::span<T> r, std::span<const T> x, std::uint64_t p, Range range) {
  const bool strict = ctx.strict();
  const std::size_t history = std::min<std::uint64_t>(p, range.e - range.s);
  Ring<T> values(history);
  Ring<std::size_t> positions(history);
  BlockExtreme<T, Better, Emit::kPositions, typename Ring<T>::View> extreme(values.view(), p);
  std::size_t count = 0;       // non-NaN values recorded
  std::size_t next_block = 0;  // the rank where the next block starts
  for (std::size_t i = range.s; i < range.e; ++i) {
    const T v = x[i];
    if (is_nan(v)) {
      r[i] = kNaN<T>;
      continue;
    }
    values[count] = v;
    positions[count] = i;
    if (count == next_block) {
      extreme.begin(count, count > 0);
      next_block = p > SIZE_MAX - count ? SIZE_MAX : count + p;
    } else {
      extreme.push(count);
    }
    ++count;
    // strict: p values on the p consecutive positions ending at i
    if (strict && !(count >= p && i + 1 - positions[count - p] == p)) {
      r[i] = kNaN<T>;
      continue;
    }
    const auto best = extreme.best(count > p ? count - p : 0);
    if constexpr (Emit::kPositions)
      r[i] = Emit::emit(i, positions[best.at], best.v);
    else
      r[i] = Emit::emit(i, 0, best.v);
  }
}

template <class T, class Better, class Emit>
Status run_extremum(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods) {
  if (auto err = check_lengths(r.size(), input.size())) return err;
  run_groups(
      ctx,
      [&](std::span<T> rs, std::span<const T> xs) {
        const Range range = prepare_range(ctx, rs);
        if (periods == 0) return cumulative_extremum<T, Better, Emit>(ctx, rs, xs, range);
        if (ctx.skip_nan()) return block_skip_nan<T, Better, Emit>(ctx, rs, xs, periods, range);
        BlockTrack<T, Better, Emit> track(xs.data(), periods);
        walk_blocks(ctx, rs, xs, periods, range, track);
      },
      r, input);
  return {};
}

// Default mode of the variable window: the walk starts at the group's first
// position and trims the queue's front to each window's start. The trims are
// permanent, so a window never reaches back past a start already applied.
template <class T, class Better, class Emit>
void variable_default(const Context& ctx, std::span<T> r, std::span<const T> x,
                      std::span<const std::uint64_t> periods, Range range) {
  const bool strict = ctx.strict();
  MonotonicQueue queue;
  std::size_t nan_end = 0;  // one past the last NaN seen
  for (std::size_t t = 0; t < range.e; ++t) {
    if (is_nan(x[t])) {
      nan_end = t + 1;
      if (t >= range.s) r[t] = kNaN<T>;
      continue;
    }
    queue.push<Better>(t, [&](std::size_t k) { return x[k]; });
    if (t < range.s) continue;
    const std::uint64_t w = periods[t];
    const std::size_t lo = w == 0 || t < w ? 0 : t - w + 1;
    queue.drop_before(lo);
    const bool write = nan_end <= lo && !(strict && w >= 1 && t + 1 < w);
    r[t] = write ? Emit::emit(t, queue.front(), x[queue.front()]) : kNaN<T>;
  }
}

// NaN-skipping mode of the variable window: the window is the last w non-NaN
// values of the range; the queue holds ranks among the values recorded.
template <class T, class Better, class Emit>
void variable_skip_nan(const Context& ctx, std::span<T> r, std::span<const T> x,
                       std::span<const std::uint64_t> periods, Range range) {
  const bool strict = ctx.strict();
  std::vector<std::size_t> positions;
  positions.reserve(range.e - range.s);
  MonotonicQueue queue;
  for (std::size_t t = range.s; t < range.e; ++t) {
    r[t] = kNaN<T>;
    if (is_nan(x[t])) continue;
    positions.push_back(t);
    const std::size_t c = positions.size();
    queue.push<Better>(c - 1, [&](std::size_t rank) { return x[positions[rank]]; });
    const std::uint64_t w = periods[t];
    if (w > 0) {
      const std::size_t first = c >= w ? c - w : 0;
      queue.drop_before(first);
      if (strict && !(c >= w && t + 1 - positions[first] == w)) continue;
    }
    const std::size_t q = positions[queue.front()];
    r[t] = Emit::emit(t, q, x[q]);
  }
}

template <class T, class Better, class Emit>
Status run_extremum_v(const Context& ctx, std::span<T> r, std::span<const T> input,
                      std::span<const std::uint64_t> periods) {
  return run_per_position(
      ctx, r, input, periods, [&](auto... a) { variable_skip_nan<T, Better, Emit>(ctx, a...); },
      [&](auto... a) { variable_default<T, Better, Emit>(ctx, a...); });
}

}  // namespace

template <class T>
Status ta_hhv(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods) {
  return run_extremum<T, Highest, EmitValue>(ctx, r, input, periods);
}
template <class T>
Status ta_llv(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods) {
  return run_extremum<T, Lowest, EmitValue>(ctx, r, input, periods);
}
template <class T>
Status ta_hhvbars(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods) {
  return run_extremum<T, Highest, EmitBars>(ctx, r, input, periods);
}
template <class T>
Status ta_llvbars(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods) {
  return run_extremum<T, Lowest, EmitBars>(ctx, r, input, periods);
}

template <class T>
Status ta_hhv_v(const Context& ctx, std::span<T> r, std::span<const T> input, std::span<const std::uint64_t> periods) {
  return run_extremum_v<T, Highest, EmitValue>(ctx, r, input, periods);
}
template <class T>
Status ta_llv_v(const Context& ctx, std::span<T> r, std::span<const T> input, std::span<const std::uint64_t> periods) {
  return run_extremum_v<T, Lowest, EmitValue>(ctx, r, input, periods);
}
template <class T>
Status ta_hhvbars_v(const Context& ctx, std::span<T> r, std::span<const T> input,
                    std::span<const std::uint64_t> periods) {
  return run_extremum_v<T, Highest, EmitBars>(ctx, r, input, periods);
}
template <class T>
Status ta_llvbars_v(const Context& ctx, std::span<T> r, std::span<const T> input,
                    std::span<const std::uint64_t> periods) {
  return run_extremum_v<T, Lowest, EmitBars>(ctx, r, input, periods);
}

#define INSTANTIATE_FIXED(T, name) \
  template Status name<T>(const Context&, std::span<T>, std::span<const T>, std::uint64_t);
#define INSTANTIATE_VARIABLE(T, name) \
  template Status name<T>(const Context&, std::span<T>, std::span<const T>, std::span<const std::uint64_t>);
#define INSTANTIATE(T)                                                                            \
  INSTANTIATE_FIXED(T, ta_hhv) INSTANTIATE_FIXED(T, ta_llv) INSTANTIATE_FIXED(T, ta_hhvbars)      \
  INSTANTIATE_FIXED(T, ta_llvbars) INSTANTIATE_VARIABLE(T, ta_hhv_v) INSTANTIATE_VARIABLE(T, ta_llv_v) \
  INSTANTIATE_VARIABLE(T, ta_hhvbars_v) INSTANTIATE_VARIABLE(T, ta_llvbars_v)
INSTANTIATE(float)
INSTANTIATE(double)
#undef INSTANTIATE
#undef INSTANTIATE_VARIABLE
#undef INSTANTIATE_FIXED

}  // namespace quorbel::algo
