// The Python class Model: its lock, its stored data and its methods.
#pragma once

#include "modelling/model_data.hpp"
#include "module/py.hpp"

#include <atomic>
#include <mutex>
#include <thread>

namespace velmo::binding {

struct ModelCore {
  std::mutex mutex;
  std::atomic<std::thread::id> owner{};  // the thread holding `mutex`, if any
  ModelData data;
};

struct PyModel {
  PyObject ob_base;
  ModelCore core;
};

extern PyTypeObject* model_type;
PyTypeObject* make_model_type();

// Holds a model's lock. A thread that has to wait gives up the interpreter lock while it
// waits: the holder may be inside a solve that calls Python code which needs it. A thread
// that already holds the lock (a Python callback running inside one of its own solves) is
// refused with RuntimeError instead of deadlocking on itself.
class ModelLock {
 public:
  explicit ModelLock(ModelCore& core);
  ~ModelLock();
  ModelLock(const ModelLock&) = delete;
  ModelLock& operator=(const ModelLock&) = delete;

  ModelData& data() noexcept { return core_.data; }

 private:
  ModelCore& core_;
};

}  // namespace velmo::binding
