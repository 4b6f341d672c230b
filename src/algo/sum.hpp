#pragma once

#include <cstdint>
#include <span>

#include "context.hpp"
#include "error.hpp"
#include "types.hpp"

namespace quorbel::algo {

template <class T>
Status ta_sum(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods);

template <class T>
Status ta_sumif(const Context& ctx, std::span<T> r, std::span<const T> input, std::span<const Bool> condition,
                std::uint64_t periods);

template <class T>
Status ta_sumbars(const Context& ctx, std::span<T> r, std::span<const T> input, T amount);

}  // namespace quorbel::algo
