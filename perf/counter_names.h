// The English counter-name table: title indices of performance objects and counters by name.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace dozerin {

class CounterNames {
 public:
  // Takes the registry text as read (pairs of NUL-terminated strings: a decimal index, then its
  // name, ended by an empty string) and the highest index in use. Pairs whose index is above
  // last_counter are left out; a later pair with the same index replaces the earlier one. The walk
  // never reads past the end of text, also when the closing empty string is missing.
  CounterNames(std::string text, std::uint32_t last_counter);

  // The lowest index whose name equals name, ignoring case; 0 when there is none.
  std::uint32_t FindCounterIndex(std::string_view name) const;

  std::size_t size() const { return names_.size(); }

 private:
  std::string text_;
  std::map<std::uint32_t, std::string_view> names_;  // into text_, by index
};

}  // namespace dozerin
