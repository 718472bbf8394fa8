#pragma once
// A command line the tool cannot act on: unknown family, bad number, missing or extra
// argument. It ends the run with exit status 2 and one line naming the usage.

#include <stdexcept>
#include <string>

namespace kestova::cli {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace kestova::cli
