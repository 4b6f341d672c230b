#pragma once
// How a function of the module is declared: its row in the one function table.
// The row names an argument pattern (which arrays of which kinds, which
// element-type attempts, whether lists are accepted, the messages) and the
// library functions for each element type; the call frame, the list batches
// and the registration are generic code driven by these rows.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>

#include "algo/context.hpp"
#include "algo/error.hpp"
#include "algo/types.hpp"

namespace quorbel::binding {

enum class ArrayKind : std::uint8_t {
  result_float,  // writable float array of the attempt's width
  result_bool,   // writable bool array
  input_float,   // float array of the attempt's width
  input_bool,
  input_u64,     // per-position periods
};

enum class Batch : std::uint8_t { none, parallel, sequential };

struct Pattern {
  std::array<ArrayKind, 6> arrays;
  std::uint8_t count;
  bool f32;  // makes a 32-bit attempt after the 64-bit one
  Batch batch;
  const char* nothing_fits;
  const char* items_dont_fit;
  // A non-contiguous array in the 32-bit attempt or in a list item reports
  // "invalid input" rather than naming the result or input slice.
  bool plain_contiguity;
};

enum class PatternId : std::uint8_t { A, A2, B, C, D, E, F, G, H, Split, Fret };

constexpr Pattern pattern(PatternId id) {
  using K = ArrayKind;
  constexpr K R = K::result_float, RB = K::result_bool, X = K::input_float, C = K::input_bool,
              P = K::input_u64;
  switch (id) {
    case PatternId::A:
      return {{R, X}, 2, true, Batch::parallel, "invalid input", "invalid input", true};
    case PatternId::A2:
      return {{R, C}, 2, true, Batch::parallel, "invalid input", "invalid input", true};
    case PatternId::B:
      return {{RB, C}, 2, false, Batch::parallel, "invalid input (expected bool, bool)",
              "invalid input list (expected bool, bool)", true};
    case PatternId::C:
      return {{R, X, X}, 3, true, Batch::parallel, "invalid input", "invalid input list", false};
    case PatternId::D:
      return {{R, X, P}, 3, true, Batch::parallel, "invalid input (expected float, float, int)",
              "invalid input list", false};
    case PatternId::E:
      return {{R, C, P}, 3, true, Batch::parallel, "invalid input (expected float, bool, int)",
              "invalid input list", false};
    case PatternId::F:
      return {{R, C, X, X}, 4, true, Batch::sequential,
              "invalid input (expected float, bool, float, float)",
              "invalid list input (expected float, bool, float, float)", false};
    case PatternId::G:
      return {{RB, X, X}, 3, false, Batch::none, "invalid input (expected bool, float, float)", nullptr,
              false};
    case PatternId::H:
      return {{R, X, C}, 3, true, Batch::none, "invalid input (expected float, float, bool)", nullptr,
              false};
    case PatternId::Split:
      return {{R, X, X, X, X, X}, 6, true, Batch::none, "invalid input", nullptr, false};
    case PatternId::Fret:
      return {{R, X, X, X}, 4, true, Batch::none, "invalid input", nullptr, false};
  }
  return {};
}

// An array handed to a library function, and a converted scalar parameter.
struct View {
  void* data;
  std::size_t size;
};
union Scalar {
  std::uint64_t size;
  double real;
};
enum class ScalarKind : std::uint8_t { size, real };

using Thunk = algo::Status (*)(const algo::Context&, const View*, const Scalar*);

struct Function {
  const char* name;
  const char* signature;  // "(r, input, periods)"
  const char* doc;
  Pattern pattern;
  Thunk f64;
  Thunk f32;  // null when the pattern makes no 32-bit attempt
  std::array<ScalarKind, 4> scalars;
  std::uint8_t scalar_count;
};

namespace detail {

template <class P>
inline constexpr bool is_span = false;
template <class E>
inline constexpr bool is_span<std::span<E>> = true;

template <class F>
struct Signature;
template <class... P>
struct Signature<algo::Status (*)(const algo::Context&, P...)> {
  using Params = std::tuple<P...>;
  static constexpr std::size_t count = sizeof...(P);
  static constexpr std::array<bool, sizeof...(P)> is_array{is_span<P>...};
};

// How many parameters before position i are (or are not) arrays.
template <std::size_t N>
constexpr std::size_t rank(const std::array<bool, N>& is_array, std::size_t i, bool array) {
  std::size_t k = 0;
  for (std::size_t j = 0; j < i; ++j) k += is_array[j] == array;
  return k;
}

template <class P>
P param(const View* views, const Scalar* scalars, std::size_t array_rank, std::size_t scalar_rank) {
  if constexpr (is_span<P>) {
    using E = typename P::element_type;
    return P(static_cast<E*>(views[array_rank].data), views[array_rank].size);
  } else if constexpr (std::is_same_v<P, std::uint64_t>) {
    return scalars[scalar_rank].size;
  } else {
    // 32-bit library functions take float parameters narrowed from 64 bits.
    return static_cast<P>(scalars[scalar_rank].real);
  }
}

template <auto F, class... P, std::size_t... I>
algo::Status invoke(const algo::Context& ctx, const View* views, const Scalar* scalars, std::tuple<P...>*,
                    std::index_sequence<I...>) {
  constexpr auto is_array = Signature<decltype(F)>::is_array;
  return F(ctx, param<P>(views, scalars, rank(is_array, I, true), rank(is_array, I, false))...);
}

template <auto F>
algo::Status thunk(const algo::Context& ctx, const View* views, const Scalar* scalars) {
  using S = Signature<decltype(F)>;
  return invoke<F>(ctx, views, scalars, static_cast<typename S::Params*>(nullptr),
                   std::make_index_sequence<S::count>{});
}

// The array kind a library parameter type stands for, for element type T.
template <class T, class P>
constexpr bool matches(ArrayKind kind) {
  switch (kind) {
    case ArrayKind::result_float: return std::is_same_v<P, std::span<T>>;
    case ArrayKind::result_bool: return std::is_same_v<P, std::span<algo::Bool>>;
    case ArrayKind::input_float: return std::is_same_v<P, std::span<const T>>;
    case ArrayKind::input_bool: return std::is_same_v<P, std::span<const algo::Bool>>;
    case ArrayKind::input_u64: return std::is_same_v<P, std::span<const std::uint64_t>>;
  }
  return false;
}

template <class T, class P>
constexpr bool scalar_matches(ScalarKind kind) {
  if (kind == ScalarKind::size) return std::is_same_v<P, std::uint64_t>;
  return std::is_same_v<P, double> || std::is_same_v<P, T>;
}

// Checks a library function's parameters against the pattern's arrays and the
// scalar kinds, in order.
template <class T, class... P>
constexpr bool fits(const Pattern& p, const std::array<ScalarKind, 4>& scalars, std::size_t scalar_count,
                    std::tuple<P...>*) {
  constexpr std::array<bool, sizeof...(P)> is_array{is_span<P>...};
  std::size_t arrays = 0, scalar = 0, i = 0;
  bool ok = true;
  ((is_array[i] ? (ok = ok && arrays < p.count && scalar == 0 && matches<T, P>(p.arrays[arrays]), ++arrays)
                : (ok = ok && scalar < scalar_count && scalar_matches<T, P>(scalars[scalar]), ++scalar),
    ++i),
   ...);
  return ok && arrays == p.count && scalar == scalar_count;
}

template <class P>
constexpr void scalar_kinds(std::array<ScalarKind, 4>& out, std::size_t& count) {
  if constexpr (!is_span<P>) out[count++] = std::is_same_v<P, std::uint64_t> ? ScalarKind::size : ScalarKind::real;
}

template <class... P>
constexpr std::pair<std::array<ScalarKind, 4>, std::size_t> scalars_of(std::tuple<P...>*) {
  std::array<ScalarKind, 4> out{};
  std::size_t count = 0;
  (scalar_kinds<P>(out, count), ...);
  return {out, count};
}

}  // namespace detail

// The number of parameters a text signature such as "(r, input, periods)" names.
constexpr std::size_t parameter_count(const char* signature) {
  std::size_t commas = 0;
  bool empty = true;
  for (const char* c = signature; *c; ++c) {
    if (*c == ',') ++commas;
    if (*c != '(' && *c != ')' && *c != ' ') empty = false;
  }
  return empty ? 0 : commas + 1;
}

// A row of the function table (the table is constexpr, so a row whose
// signature does not fit its library functions fails to compile): `F64` and `F32` are the library functions for
// each element type (F32 is nullptr for patterns without a 32-bit attempt).
template <PatternId Id, auto F64, auto F32>
constexpr Function function(const char* name, const char* signature, const char* doc) {
  constexpr Pattern p = pattern(Id);
  using S64 = detail::Signature<decltype(F64)>;
  constexpr auto scalars = detail::scalars_of(static_cast<typename S64::Params*>(nullptr));
  static_assert(detail::fits<double>(p, scalars.first, scalars.second,
                                     static_cast<typename S64::Params*>(nullptr)),
                "64-bit library function does not match its argument pattern");
  if (parameter_count(signature) != p.count + scalars.second)
    throw "the text signature does not name every array and scalar parameter";
  Thunk f32 = nullptr;
  if constexpr (p.f32) {
    using S32 = detail::Signature<decltype(F32)>;
    static_assert(detail::fits<float>(p, scalars.first, scalars.second,
                                      static_cast<typename S32::Params*>(nullptr)),
                  "32-bit library function does not match its argument pattern");
    f32 = &detail::thunk<F32>;
  }
  return {name, signature, doc, p, &detail::thunk<F64>, f32, scalars.first,
          static_cast<std::uint8_t>(scalars.second)};
}

}  // namespace quorbel::binding
