// python_threads.h: for the helper modules of the Python tests and
// benchmarks, which play the outside libraries' threads while Python waits.

#ifndef VELTRANE_TESTS_PYTHON_THREADS_H
#define VELTRANE_TESTS_PYTHON_THREADS_H

#include <boost/python.hpp>

#include "ZR_QuantApi.h"

namespace testing_support {

// Gives up the interpreter lock for the life of the object, so that the
// module's dispatcher can deliver while the caller waits for its threads.
class WithoutGil {
 public:
  WithoutGil() : state_(PyEval_SaveThread()) {}
  ~WithoutGil() { PyEval_RestoreThread(state_); }
  WithoutGil(const WithoutGil&) = delete;
  WithoutGil& operator=(const WithoutGil&) = delete;

 private:
  PyThreadState* state_;
};

// The spi that the API object inside the Python object `api` calls: the
// module's own, registered by the factory.
inline Corvane::ZR_QuantSpi& SpiOf(const boost::python::object& api) {
  return *boost::python::extract<TraderApiGo&>(api)().pSpi;
}

}  // namespace testing_support

#endif  // VELTRANE_TESTS_PYTHON_THREADS_H
