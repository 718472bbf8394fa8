#include "control/property_bag.h"

#include <algorithm>

namespace kestova {

const Variant* MemoryPropertyBag::Find(const std::string& key) const {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const auto& entry) { return entry.first == key; });
  return it == entries_.end() ? nullptr : &it->second;
}

void MemoryPropertyBag::Put(const std::string& key, Variant value) {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const auto& entry) { return entry.first == key; });
  if (it == entries_.end()) {
    entries_.emplace_back(key, std::move(value));
  } else {
    it->second = std::move(value);
  }
}

Variant MemoryPropertyBag::ReadProperty(const std::string& key, const Variant& default_value) {
  reads_.push_back(key);
  const Variant* stored = Find(key);
  return stored ? *stored : default_value;
}

void MemoryPropertyBag::WriteProperty(const std::string& key, const Variant& value,
                                      const Variant& /*default_value*/) {
  // Every value is kept, even one equal to its default, so a saved bag shows all keys.
  writes_.push_back(key);
  Put(key, value);
}

}  // namespace kestova
