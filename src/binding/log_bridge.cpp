#include "log_bridge.hpp"

#include <atomic>
#include <string_view>

#include "py.hpp"

namespace quorbel::binding::log {

namespace {

std::atomic<bool> installed{false};

constexpr Level kLevels[] = {Level::error, Level::warn, Level::info, Level::debug};

int bit(Level level) {
  for (int i = 0; i < 4; ++i)
    if (kLevels[i] == level) return 1 << i;
  return 0;
}

// "quorbel::algo_impl" names the Python logger "quorbel.algo_impl".
std::string logger_name(std::string_view target) {
  std::string name;
  for (std::size_t i = 0; i < target.size(); ++i) {
    if (target.compare(i, 2, "::") == 0) {
      name += '.';
      ++i;
    } else {
      name += target[i];
    }
  }
  return name;
}

// Looks up the logger and its enabled levels; on failure nothing is enabled.
void resolve(Target& target) {
  target.enabled = 0;
  Ref logging(PyImport_ImportModule("logging"));
  if (!logging) return PyErr_WriteUnraisable(nullptr);
  const std::string name = logger_name(target.name);
  Ref logger(PyObject_CallMethod(logging.get(), "getLogger", "s", name.c_str()));
  if (!logger) return PyErr_WriteUnraisable(nullptr);
  int enabled = 0;
  for (Level level : kLevels) {
    Ref on(PyObject_CallMethod(logger.get(), "isEnabledFor", "i", static_cast<int>(level)));
    if (!on) return PyErr_WriteUnraisable(nullptr);
    const int truth = PyObject_IsTrue(on.get());
    if (truth < 0) return PyErr_WriteUnraisable(nullptr);
    if (truth) enabled |= bit(level);
  }
  target.logger = logger.release();
  target.enabled = enabled;
}

}  // namespace

bool install() { return !installed.exchange(true); }

bool enabled(Target& target, Level level) {
  if (level == Level::trace) return false;  // trace records never reach Python
  if (target.enabled < 0) resolve(target);
  return (target.enabled & bit(level)) != 0;
}

void emit(Target& target, Level level, const char* file, int line, const char* func,
          const std::string& message) {
  auto* logger = static_cast<PyObject*>(target.logger);
  if (!logger) return;
  const std::string name = logger_name(target.name);
  Ref record(PyObject_CallMethod(logger, "makeRecord", "sisisOOs", name.c_str(),
                                 static_cast<int>(level), file, line, message.c_str(), Py_None,
                                 Py_None, func));
  if (!record) return PyErr_WriteUnraisable(logger);
  Ref handled(PyObject_CallMethod(logger, "handle", "O", record.get()));
  if (!handled) PyErr_WriteUnraisable(logger);
}

}  // namespace quorbel::binding::log
