// A lock over one object's data for code that holds the interpreter lock.
#pragma once

#include "module/py.hpp"

#include <atomic>
#include <mutex>
#include <thread>

namespace velmo::py {

struct ObjectMutex {
  std::mutex mutex;
  std::atomic<std::thread::id> owner{};  // the thread holding `mutex`, if any
};

// Holds an ObjectMutex. A thread that has to wait gives up the interpreter lock while it
// waits: the holder may be inside a solver call that needs it. A thread that already holds
// the lock (Python code running inside one of its own calls) is refused with RuntimeError
// carrying `busy` instead of deadlocking on itself.
class ObjectLock {
 public:
  ObjectLock(ObjectMutex& m, const char* busy) : m_(m) {
    if (m.owner.load(std::memory_order_acquire) == std::this_thread::get_id()) raise(PyExc_RuntimeError, busy);
    if (!m.mutex.try_lock()) {
      PyThreadState* state = PyEval_SaveThread();
      m.mutex.lock();
      PyEval_RestoreThread(state);
    }
    m.owner.store(std::this_thread::get_id(), std::memory_order_release);
  }
  ~ObjectLock() {
    m_.owner.store(std::thread::id{}, std::memory_order_release);
    m_.mutex.unlock();
  }
  ObjectLock(const ObjectLock&) = delete;
  ObjectLock& operator=(const ObjectLock&) = delete;

 private:
  ObjectMutex& m_;
};

}  // namespace velmo::py
