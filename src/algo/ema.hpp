#pragma once

#include <cstdint>
#include <span>

#include "context.hpp"
#include "error.hpp"

namespace quorbel::algo {

// The recursion shared by ema, sma and dma: s = x*alpha + s*(1 - alpha).
// `periods` is the window length strict mode warms up over.
template <class T>
Status ema_impl(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods,
                T factor);

template <class T>
Status ta_ema(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods);

template <class T>
Status ta_sma(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t n, std::uint64_t m);

template <class T>
Status ta_dma(const Context& ctx, std::span<T> r, std::span<const T> input, T weight);

template <class T>
Status ta_ema_v(const Context& ctx, std::span<T> r, std::span<const T> input,
                std::span<const std::uint64_t> periods);

template <class T>
Status ta_sma_v(const Context& ctx, std::span<T> r, std::span<const T> input, std::span<const std::uint64_t> ns,
                std::uint64_t m);

template <class T>
Status ta_dma_v(const Context& ctx, std::span<T> r, std::span<const T> input, std::span<const T> weight);

template <class T>
Status ta_lwma(const Context& ctx, std::span<T> r, std::span<const T> input, std::uint64_t periods);

template <class T>
Status ta_lwma_v(const Context& ctx, std::span<T> r, std::span<const T> input,
                 std::span<const std::uint64_t> periods);

}  // namespace quorbel::algo
