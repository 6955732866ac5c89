// Fuzz target: the INI engine on any file. Reading never fails; a write that the settings store
// lets through reads back as written and changes no line but its own; a removal takes out one
// line and nothing else.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/ini_document.h"

namespace {

bool HasBreak(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// The names the settings store writes: no line breaks, no NUL, nothing that would end or start
// another line's syntax, no blanks at either end (reads trim them).
bool Writable(std::string_view section, std::string_view key, std::string_view value) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; };
  auto trimmed = [&](std::string_view s) {
    return !s.empty() && !blank(s.front()) && !blank(s.back());
  };
  return trimmed(section) && trimmed(key) && !HasBreak(section) && !HasBreak(key) &&
         !HasBreak(value) && section.find(']') == std::string_view::npos &&
         key.find('=') == std::string_view::npos && key[0] != '[' && key[0] != ';';
}

// The bytes of before that after lacks, once their common start and end are set aside.
std::string_view Dropped(const std::string& before, const std::string& after) {
  std::size_t head = 0;
  while (head < before.size() && head < after.size() && before[head] == after[head]) ++head;
  std::size_t tail = 0;
  while (tail < before.size() - head && tail < after.size() - head &&
         before[before.size() - 1 - tail] == after[after.size() - 1 - tail]) {
    ++tail;
  }
  return std::string_view(before).substr(head, before.size() - head - tail);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const bool remove = in.ConsumeBool();
  const std::string section = in.ConsumeRandomLengthString(24);
  const std::string key = in.ConsumeRandomLengthString(24);
  const std::string value = in.ConsumeRandomLengthString(64);
  const bool bom = in.ConsumeBool();
  const std::string file = (bom ? "\xEF\xBB\xBF" : "") + in.ConsumeRemainingBytesAsString();

  dozerin::ini::Document doc(file);
  (void)doc.Get(section, key);
  (void)doc.Section(section);
  if (!Writable(section, key, value)) return 0;

  if (remove) {
    const bool had = doc.Get(section, key).has_value();
    const bool changed = doc.Remove(section, key);
    // One line out (with its line end), nothing else touched.
    const std::string_view dropped = Dropped(file, doc.bytes());
    if (doc.bytes().size() + dropped.size() != file.size()) std::abort();
    // Line ends: "\n", "\r\n" or a lone "\r" (a shifted "\r\n" may fall apart: halves count once).
    const auto breaks = std::max(std::count(dropped.begin(), dropped.end(), '\n'),
                                 std::count(dropped.begin(), dropped.end(), '\r'));
    if (breaks > 1 || (!changed && !dropped.empty()) || (had && !changed)) std::abort();
    return 0;
  }
  doc.Set(section, key, value);
  if (doc.Get(section, key) != dozerin::ini::CleanValue(value)) std::abort();
  // Every other line is kept byte for byte: what the write took away lies within one line.
  if (Dropped(file, doc.bytes()).find_first_of("\r\n") != std::string_view::npos) std::abort();
  if (bom && doc.bytes().compare(0, 3, "\xEF\xBB\xBF") != 0) std::abort();
  // Writing the same again changes nothing.
  if (doc.Set(section, key, value)) std::abort();
  return 0;
}
