#include "misc.hpp"

#include "driver.hpp"
#include "prefix.hpp"
#include "window.hpp"

namespace quorbel::algo {

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
  for_each_group(
      ctx, r.size(),
      [&](std::size_t offset, std::size_t length) {
        std::span<T> rs = r.subspan(offset, length);
        std::span<const T> xs = input.subspan(offset, length);
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
      periods);
  return {};
}

#define INSTANTIATE(T) \
  template Status ta_weighted_delay<T>(const Context&, std::span<T>, std::span<const T>, std::uint64_t);
INSTANTIATE(float)
INSTANTIATE(double)
#undef INSTANTIATE

}  // namespace quorbel::algo
