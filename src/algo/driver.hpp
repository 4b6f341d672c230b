#pragma once
// The group driver: cuts the arrays of one call into group slices and runs a
// kernel on each, spread over the worker pool.

#include <algorithm>
#include <cstdint>
#include <cstddef>
#include <span>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include "context.hpp"

namespace quorbel::algo {

// Below this much work a call runs on the calling thread: handing it to the
// pool would cost more than it saves.
inline constexpr std::size_t kInlineWork = std::size_t{1} << 15;
// Many short group slices are batched so that each task has about this much.
inline constexpr std::size_t kTaskWork = std::size_t{1} << 14;

// Length of every group slice but possibly the last.
inline std::size_t chunk_size(const Context& ctx, std::size_t n) {
  const std::size_t g = std::max<std::size_t>(ctx.groups, 1);
  return n < g ? 1 : n / g;
}

// Runs `body(k)` for k = 0 .. count-1 on the worker pool, where the tasks
// together cover `work` elements' worth of computation. Small totals run on
// the calling thread; many small tasks are batched into one.
template <class Body>
void for_each_task(std::size_t count, std::size_t work, Body&& body) {
  if (count <= 1 || work < kInlineWork) {
    for (std::size_t k = 0; k < count; ++k) body(k);
    return;
  }
  const std::size_t per_task = std::max<std::size_t>(1, count / std::max<std::size_t>(1, work / kTaskWork));
  tbb::parallel_for(tbb::blocked_range<std::size_t>(0, count, per_task),
                    [&](const tbb::blocked_range<std::size_t>& range) {
                      for (std::size_t k = range.begin(); k != range.end(); ++k) body(k);
                    });
}

// Runs `body(offset, length)` for every group slice. `cost` is the work per
// element relative to a plain pass, so that expensive kernels split finer.
template <class Body>
void for_each_group(const Context& ctx, std::size_t n, Body&& body, std::size_t cost = 1) {
  if (n == 0) return;
  cost = std::clamp<std::size_t>(cost, 1, kTaskWork);
  const std::size_t chunk = chunk_size(ctx, n);
  const std::size_t count = (n + chunk - 1) / chunk;
  const std::size_t work = n > SIZE_MAX / cost ? SIZE_MAX : n * cost;
  for_each_task(count, work, [&](std::size_t k) {
    const std::size_t offset = k * chunk;
    body(offset, std::min(chunk, n - offset));
  });
}

// Runs `kernel(slices...)` on the group slices of every array of a call; all
// arrays have the length of the first. `cost` as for for_each_group.
template <class Kernel, class First, class... Rest>
void run_groups_costed(const Context& ctx, std::size_t cost, Kernel&& kernel, First first, Rest... rest) {
  for_each_group(
      ctx, first.size(),
      [&](std::size_t offset, std::size_t length) {
        kernel(first.subspan(offset, length), rest.subspan(offset, length)...);
      },
      cost);
}

template <class Kernel, class First, class... Rest>
void run_groups(const Context& ctx, Kernel&& kernel, First first, Rest... rest) {
  run_groups_costed(ctx, 1, kernel, first, rest...);
}

}  // namespace quorbel::algo
