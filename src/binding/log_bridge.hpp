#pragma once
// Forwards the library's log records to Python's `logging`.

#include <string>

namespace quorbel::binding::log {

enum class Level { error = 40, warn = 30, info = 20, debug = 10, trace = 5 };

// A record target such as "quorbel::algo_impl". Its Python logger and the
// levels enabled for it are looked up on its first record and kept for the
// life of the process, so a disabled level costs one test per record.
struct Target {
  const char* name;
  void* logger = nullptr;  // PyObject*, owned for the life of the process
  int enabled = -1;        // bit per level, -1 until the first record
};

// Installs the bridge; false when it is already installed in this process.
bool install();

bool enabled(Target& target, Level level);

// Hands one record to the target's Python logger (with the source location
// of the C++ code that emits it). Call only when `enabled` said yes.
void emit(Target& target, Level level, const char* file, int line, const char* func,
          const std::string& message);

}  // namespace quorbel::binding::log
