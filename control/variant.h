#pragma once
// The small automation variant the control exchanges with property bags (and returns
// from ReadM): Boolean, Integer, Long or String. Conversions follow automation rules:
// numbers round half to even, text is parsed as a number or True/False, a value that
// cannot be converted raises Type mismatch (13), one out of range Overflow (6).

#include <cstdint>
#include <string>
#include <variant>

namespace kestova {

using Variant = std::variant<bool, std::int16_t, std::int32_t, std::string>;

bool VariantToBoolean(const Variant& value);
std::int16_t VariantToInteger(const Variant& value);
std::int32_t VariantToLong(const Variant& value);
std::string VariantToString(const Variant& value);

}  // namespace kestova
