// The one function table. A function is one row: its pattern, name, text
// signature, docstring and library functions; everything else is derived.

#include "table.hpp"

#include <array>
#include <memory>

#include "algo/drawdown.hpp"
#include "algo/ema.hpp"
#include "algo/extremum.hpp"
#include "algo/ma.hpp"
#include "algo/misc.hpp"
#include "algo/sum.hpp"
#include "args.hpp"

namespace quorbel::binding {

namespace {

using algo::Context;
using P = PatternId;

#define ROW(pattern, name, signature, doc) \
  function<P::pattern, algo::ta_##name<double>, algo::ta_##name<float>>(#name, signature, doc)

constexpr Function kFunctions[] = {
    // moving averages
    ROW(A, ma, "(r, input, periods)", "Simple Moving Average, also known as arithmetic moving average"),
    ROW(D, ma_v, "(r, input, periods)", "Simple Moving Average with variable periods"),
    ROW(A, lwma, "(r, input, periods)", "Linear Weighted Moving Average"),
    ROW(D, lwma_v, "(r, input, periods)", "Linear Weighted Moving Average with variable periods"),
    ROW(A, ema, "(r, input, periods)",
        "Exponential Moving Average (variant of EMA)\n\nalpha = 2 / (n + 1)\n\n"
        "https://en.wikipedia.org/wiki/Moving_average#Exponential_moving_average\n"),
    ROW(D, ema_v, "(r, input, periods)", "Exponential Moving Average with variable periods"),
    ROW(A, sma, "(r, input, n, m)", "Exponential Moving Average (variant of well-known EMA) weight = m / n"),
    ROW(D, sma_v, "(r, input, ns, m)",
        "Exponential Moving Average (variant of well-known EMA) weight = m / n with variable periods"),
    ROW(A, dma, "(r, input, weight)", "Exponential Moving Average"),
    ROW(C, dma_v, "(r, input, weight)", "Exponential Moving Average with variable weight"),
    ROW(A, weighted_delay, "(r, input, periods)", "Calculate weighted delay (exponentially weighted lag)"),
    // window sums and products
    ROW(A, sum, "(r, input, periods)", "Calculate sum of values in preceding `periods` window"),
    ROW(H, sumif, "(r, input, condition, periods)",
        "Calculate sum of values in preceding `periods` window where `condition` is true"),
    ROW(A, product, "(r, input, periods)", "Calculate product of values in preceding `periods` window"),
    ROW(A, sumbars, "(r, input, amount)",
        "Calculate number of periods (bars) backwards until the sum of values is greater than or equal to "
        "`amount`"),
    // window extremes
    ROW(A, hhv, "(r, input, periods)", "Find highest value in a preceding `periods` window"),
    ROW(A, llv, "(r, input, periods)", "Find lowest value in a preceding `periods` window"),
    ROW(A, hhvbars, "(r, input, periods)",
        "The number of periods that have passed since the array reached its `periods` period high"),
    ROW(A, llvbars, "(r, input, periods)",
        "The number of periods that have passed since the array reached its periods period low"),
    ROW(D, hhv_v, "(r, input, periods)", "Find highest value in a preceding variable `periods` window"),
    ROW(D, llv_v, "(r, input, periods)", "Find lowest value in a preceding variable `periods` window"),
    ROW(D, hhvbars_v, "(r, input, periods)",
        "The number of periods that have passed since the array reached its variable `periods` period high"),
    ROW(D, llvbars_v, "(r, input, periods)",
        "The number of periods that have passed since the array reached its variable `periods` period low"),
    ROW(A, min_max_diff, "(r, input, periods)", "Calculate rolling min-max difference (range) over a moving window"),
    ROW(A, max_drawdown, "(r, input, periods)", "Rolling Maximum Drawdown."),
};

#undef ROW

constexpr std::size_t kCount = std::size(kFunctions);

Registered registered[kCount];
PyMethodDef defs[kCount];

template <std::size_t I>
PyObject* entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call(registered[I], args, nargs, kwnames);
}

template <std::size_t... I>
constexpr std::array<_PyCFunctionFastWithKeywords, kCount> entries(std::index_sequence<I...>) {
  return {&entry<I>...};
}

Entry* build() {
  static constexpr auto fns = entries(std::make_index_sequence<kCount>{});
  static Entry out[kCount];
  for (std::size_t i = 0; i < kCount; ++i) {
    const Function& f = kFunctions[i];
    registered[i] = {&f, parse_parameters(f.signature),
                     std::string(f.name) + f.signature + "\n--\n\n" + f.doc};
    defs[i] = {f.name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fns[i])),
               METH_FASTCALL | METH_KEYWORDS, registered[i].doc.c_str()};
    out[i] = {&registered[i], &defs[i]};
  }
  return out;
}

}  // namespace

std::span<const Entry> table() {
  static Entry* entries = build();
  return {entries, kCount};
}

}  // namespace quorbel::binding
