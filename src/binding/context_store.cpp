#include "context_store.hpp"

#include <shared_mutex>
#include <string>

#include "args.hpp"
#include "log_bridge.hpp"

namespace quorbel::binding {

namespace {

// The process-wide context (_ALGO_CTX_). Created on first use. Its lock is only
// ever tried: a reader that finds it busy runs with the default context, a
// writer that finds it busy reports failure.
struct ContextCell {
  std::shared_mutex lock;
  algo::Context value;
};

ContextCell& algo_ctx() {
  static ContextCell cell;
  return cell;
}

log::Target algo_impl{"quorbel::algo_impl"};

const std::string kSetCtxNames[] = {"start", "end", "groups", "flags"};

}  // namespace

algo::Context ctx() {
  ContextCell& cell = algo_ctx();
  algo::Context snapshot;
  if (cell.lock.try_lock_shared()) {
    snapshot = cell.value;
    cell.lock.unlock_shared();
  }
  if (log::enabled(algo_impl, log::Level::debug))
    log::emit(algo_impl, log::Level::debug, __FILE__, __LINE__, "ctx", "current " + snapshot.to_string());
  return snapshot;
}

PyObject* set_ctx(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  constexpr const char* func = "set_ctx";
  PyObject* bound[4];
  if (!bind_arguments(func, kSetCtxNames, args, nargs, kwnames, bound, false)) return nullptr;
  auto given = [&](int i) { return bound[i] && bound[i] != Py_None; };

  std::int64_t start = 0, end = 0, groups = 0;
  std::uint64_t flags = 0;
  if (given(0) && !to_int(func, "start", bound[0], INT32_MIN, INT32_MAX, start)) return nullptr;
  if (given(1) && !to_int(func, "end", bound[1], INT32_MIN, INT32_MAX, end)) return nullptr;
  if (given(2) && !to_int(func, "groups", bound[2], 0, UINT32_MAX, groups)) return nullptr;
  if (given(3) && !to_size(func, "flags", bound[3], flags)) return nullptr;

  ContextCell& cell = algo_ctx();
  if (!cell.lock.try_lock()) {
    PyErr_SetString(PyExc_ValueError, "failed to set context");
    return nullptr;
  }
  if (given(0)) cell.value.start = static_cast<std::int32_t>(start);
  if (given(1)) cell.value.end = static_cast<std::int32_t>(end);
  if (given(2)) cell.value.groups = static_cast<std::uint32_t>(groups);
  if (given(3)) cell.value.flags = flags;
  cell.lock.unlock();
  Py_RETURN_NONE;
}

}  // namespace quorbel::binding
