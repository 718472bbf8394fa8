#include <pybind11/pybind11.h>

#include "kestova/tarvane.h"
#include "python/bindings.h"
#include "python/errors.h"

PYBIND11_MODULE(kestova, module) {
  module.doc() =
      "Reads and writes the devices of a QnA/Q-series PLC over a serial line, and runs a "
      "virtual PLC on a pseudo-terminal to test against.";
  module.attr("__version__") = kestova::Tarvane::VersionLine().substr(sizeof("Version ") - 1);
  kestova::python::AddErrors(module);
  kestova::python::AddTarvane(module);
  kestova::python::AddVirtualPlc(module);
}
