#pragma once

#include <cstdint>
#include <span>

#include "context.hpp"
#include "error.hpp"

namespace quorbel::algo {

template <class T>
Status ta_hhv(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods);
template <class T>
Status ta_llv(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods);
template <class T>
Status ta_hhvbars(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods);
template <class T>
Status ta_llvbars(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods);

template <class T>
Status ta_hhv_v(const Context& ctx, std::span<T> r, std::span<const T> input, std::span<const std::uint64_t> periods);
template <class T>
Status ta_llv_v(const Context& ctx, std::span<T> r, std::span<const T> input, std::span<const std::uint64_t> periods);
template <class T>
Status ta_hhvbars_v(const Context& ctx, std::span<T> r, std::span<const T> input,
                    std::span<const std::uint64_t> periods);
template <class T>
Status ta_llvbars_v(const Context& ctx, std::span<T> r, std::span<const T> input,
                    std::span<const std::uint64_t> periods);

}  // namespace quorbel::algo
