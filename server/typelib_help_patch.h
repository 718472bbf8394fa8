#pragma once
// Adds help strings to the members of one enumeration in a compiled type library (the
// MSFT format). widl refuses the helpstring attribute on enumeration members, so the build
// compiles the library first and then gives MELSECPLCType's two members theirs here.
//
// The function rewrites the member records of that one type (each grows by its optional
// help-context and help-string fields), appends the strings to the string segment, and
// moves every absolute offset behind the change. Portable code, tested on every platform.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestova::server {

class TypeLibraryFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// help_strings[k] goes to member k of the type named type_name, in declaration order.
// Raises TypeLibraryFormatError when the library is not a well-formed MSFT image, the type
// is missing or has a different member count, or a member already has optional fields.
std::vector<std::uint8_t> AddEnumMemberHelpStrings(const std::vector<std::uint8_t>& library,
                                                   const std::string& type_name,
                                                   const std::vector<std::string>& help_strings);

}  // namespace kestova::server
