#pragma once

#include <cstdint>
#include <span>

#include "context.hpp"
#include "error.hpp"

namespace quorbel::algo {

template <class T>
Status ta_ma(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods);

template <class T>
Status ta_ma_v(const Context& ctx, std::span<T> r, std::span<const T> input,
               std::span<const std::uint64_t> periods);

template <class T>
Status ta_product(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods);

}  // namespace quorbel::algo
