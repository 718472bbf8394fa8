#pragma once
// Text crossing the COM boundary: the core speaks UTF-8 std::string, COM speaks UTF-16.

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

namespace kestova::server {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);
std::string NarrowBstr(BSTR text);  // a null BSTR is the empty string
// Raises std::bad_alloc when the allocation fails.
BSTR AllocBstr(std::string_view utf8);

}  // namespace kestova::server
