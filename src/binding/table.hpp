#pragma once

#include <span>

#include "call.hpp"

namespace quorbel::binding {

// Every function of the table with its method definition, in table order.
struct Entry {
  const Registered* registered;
  PyMethodDef* def;
};
std::span<const Entry> table();

}  // namespace quorbel::binding
