// Build tool: kestova-typelib-help IN.tlb OUT.tlb TYPE HELP... gives the members of
// enumeration TYPE their help strings (see typelib_help_patch.h).

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "server/typelib_help_patch.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::cerr << "usage: kestova-typelib-help IN.tlb OUT.tlb TYPE HELP...\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<std::uint8_t> library((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
  try {
    const std::vector<std::uint8_t> patched = kestova::server::AddEnumMemberHelpStrings(
        library, argv[3], std::vector<std::string>(argv + 4, argv + argc));
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(patched.data()),
              static_cast<std::streamsize>(patched.size()));
    return out ? 0 : 1;
  } catch (const std::exception& error) {
    std::cerr << "kestova-typelib-help: " << error.what() << "\n";
    return 1;
  }
}
