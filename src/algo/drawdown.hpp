#pragma once

#include <cstdint>
#include <span>

#include "context.hpp"
#include "error.hpp"

namespace quorbel::algo {

template <class T>
Status ta_max_drawdown(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods);

}  // namespace quorbel::algo
