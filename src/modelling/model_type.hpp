// The Python class Model: its lock, its stored data and its methods.
#pragma once

#include "modelling/model_data.hpp"
#include "module/object_lock.hpp"
#include "module/py.hpp"

namespace velmo::binding {

struct ModelCore {
  py::ObjectMutex mutex;
  ModelData data;
  const ModelSerial serial = next_model_serial();  // fixed for the model's life; needs no lock
};

struct PyModel {
  PyObject ob_base;
  ModelCore core;
};

extern PyTypeObject* model_type;
PyTypeObject* make_model_type();

// Holds a model's lock (see ObjectLock: waiting gives up the interpreter lock, and a
// callback inside the model's own solve is refused).
class ModelLock {
 public:
  explicit ModelLock(ModelCore& core)
      : lock_(core.mutex, "Model is busy: it cannot be used from code that runs inside its own solve"),
        core_(core) {}

  ModelData& data() noexcept { return core_.data; }

 private:
  py::ObjectLock lock_;
  ModelCore& core_;
};

}  // namespace velmo::binding
