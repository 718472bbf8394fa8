#pragma once
// The host's name/value store for saved configuration, and an in-memory one for C++
// hosts and tests that keeps entries in the order they were written.

#include <string>
#include <utility>
#include <vector>

#include "control/variant.h"

namespace kestova {

class PropertyBag {
 public:
  virtual ~PropertyBag() = default;
  // The value stored under key, or default_value when the bag holds none.
  virtual Variant ReadProperty(const std::string& key, const Variant& default_value) = 0;
  // Stores value under key; the default travels with it (a bag may omit equal values).
  virtual void WriteProperty(const std::string& key, const Variant& value,
                             const Variant& default_value) = 0;
};

class MemoryPropertyBag : public PropertyBag {
 public:
  Variant ReadProperty(const std::string& key, const Variant& default_value) override;
  void WriteProperty(const std::string& key, const Variant& value,
                     const Variant& default_value) override;

  // Sets or replaces an entry without recording a write (to arrange a saved state).
  void Put(const std::string& key, Variant value);
  const Variant* Find(const std::string& key) const;

  const std::vector<std::pair<std::string, Variant>>& entries() const { return entries_; }
  // Keys in the order ReadProperty / WriteProperty were called.
  const std::vector<std::string>& reads() const { return reads_; }
  const std::vector<std::string>& writes() const { return writes_; }

 private:
  std::vector<std::pair<std::string, Variant>> entries_;
  std::vector<std::string> reads_;
  std::vector<std::string> writes_;
};

}  // namespace kestova
