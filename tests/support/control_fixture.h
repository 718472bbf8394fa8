#pragma once
// A control on the in-memory port with the test host: the usual arrangement of the
// control-level suites.

#include <gtest/gtest.h>

#include <memory>

#include "kestova/tarvane.h"
#include "support/memory_port.h"

namespace kestova::testing {

class ControlFixture : public ::testing::Test {
 protected:
  ControlFixture() {
    auto port = std::make_unique<MemoryPort>(host_);
    port_ = port.get();
    control_ = std::make_unique<Tarvane>(host_, std::move(port));
  }

  TestHost host_;
  MemoryPort* port_;
  std::unique_ptr<Tarvane> control_;
};

}  // namespace kestova::testing
