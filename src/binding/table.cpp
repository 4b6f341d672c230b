// The one function table. A function is one row: its pattern, name, text
// signature, docstring and library functions; everything else is derived.

#include "table.hpp"

#include <array>
#include <memory>

#include "algo/ma.hpp"
#include "args.hpp"

namespace quorbel::binding {

namespace {

using algo::Context;
using P = PatternId;

constexpr Function kFunctions[] = {
    function<P::A, algo::ta_ma<double>, algo::ta_ma<float>>(
        "ma", "(r, input, periods)", "Simple Moving Average, also known as arithmetic moving average"),
};

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
