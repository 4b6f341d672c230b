#pragma once

#include <cstdint>
#include <span>

#include "context.hpp"
#include "error.hpp"

namespace quorbel::algo {

template <class T>
Status ta_min_max_diff(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods);

template <class T>
Status ta_weighted_delay(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods);

}  // namespace quorbel::algo
