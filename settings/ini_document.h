// An INI file held as bytes, read and changed by the Windows private-profile rules: section and
// key names match regardless of case; a value read back is trimmed and loses one pair of enclosing
// quotes; a change touches only the lines it must, every other byte stays as it was.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dozerin::ini {

// Longest value a read returns, in bytes (longer values are cut on a character boundary).
constexpr std::size_t kMaxValueBytes = 4095;

struct KeyValue {
  std::string key;
  std::optional<std::string> value;  // empty for a line without '=' (reads as missing)
};

// A raw value (the text after '=') as a read returns it: cut at a NUL byte, trimmed of blanks,
// one pair of matching enclosing single or double quotes removed, at most kMaxValueBytes.
std::string CleanValue(std::string_view raw);

// One line of a section as a read sees it: the key trimmed, the value cleaned; no value when the
// line has no '='.
KeyValue ParseKeyLine(std::string_view line);

class Document {
 public:
  // new_line is used for added lines when the text has no line ending of its own to follow.
  explicit Document(std::string bytes, std::string_view new_line = "\n");

  const std::string& bytes() const { return bytes_; }

  // Value of key in the first section of that name; empty when either is missing (or the key's
  // line has no '=').
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;

  // Every key line of the first section of that name, in file order.
  std::vector<KeyValue> Section(std::string_view section) const;

  // Writes key=value: replaces the key's line in place, or adds the line after the last non-blank
  // line of the section, or adds the section at the end. Returns whether the bytes changed.
  bool Set(std::string_view section, std::string_view key, std::string_view value);

  // Removes the key's line; a missing key or section changes nothing. Returns whether the bytes
  // changed.
  bool Remove(std::string_view section, std::string_view key);

 private:
  struct Line {
    std::size_t begin;  // first byte
    std::size_t end;    // end of the content: before "\n", "\r\n" or "\r"
    std::size_t next;   // first byte of the next line (bytes_.size() at the end)
  };
  struct Found {
    bool section = false;
    Line header{};
    Line last_content{};  // last non-blank line of the section (the header when none)
    bool key = false;
    Line key_line{};
  };

  Line LineAt(std::size_t pos) const;
  // Where the first line begins: after a byte-order mark.
  std::size_t Start() const;
  // Finds the first section named `section` and, within it, the first line of `key` (when key is
  // not null); stops early once the key is found.
  Found Find(std::string_view section, const std::string_view* key) const;
  std::string NewLine() const;

  std::string bytes_;
  std::string default_new_line_;
};

}  // namespace dozerin::ini
