#pragma once
// The parts of the module, each adding its classes.

#include <pybind11/pybind11.h>

namespace kestova::python {

void AddTarvane(pybind11::module_& module);
void AddVirtualPlc(pybind11::module_& module);

}  // namespace kestova::python
