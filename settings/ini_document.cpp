#include "settings/ini_document.h"

#include "app/text.h"

namespace dozerin::ini {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() == b.size()) {
    bool same = true;
    for (std::size_t i = 0; i < a.size() && same; ++i) {
      char x = a[i];
      char y = b[i];
      if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
      if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
      same = x == y;
    }
    if (same) return true;
  }
  return text::EqualNoCase(a, b);
}

enum class Kind { kBlank, kHeader, kKey };

struct Parsed {
  Kind kind;
  std::string_view name;                  // section name or key name
  std::optional<std::string_view> value;  // raw value of a key line with '='
};

Parsed Parse(std::string_view content) {
  const std::string_view t = Trim(content);
  if (t.empty()) return {Kind::kBlank, {}, {}};
  if (t.front() == '[') {
    const std::size_t close = t.rfind(']');
    if (close != std::string_view::npos && close > 0) {
      return {Kind::kHeader, Trim(t.substr(1, close - 1)), {}};
    }
    // Without its closing bracket the line is no header: it reads as a key line.
  }
  const std::size_t eq = t.find('=');
  if (eq == std::string_view::npos) return {Kind::kKey, t, std::nullopt};
  return {Kind::kKey, Trim(t.substr(0, eq)), t.substr(eq + 1)};
}

}  // namespace

std::string CleanValue(std::string_view raw) {
  const std::size_t nul = raw.find('\0');
  if (nul != std::string_view::npos) raw = raw.substr(0, nul);
  raw = Trim(raw);
  if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') && raw.back() == raw.front()) {
    raw = raw.substr(1, raw.size() - 2);
  }
  return std::string(raw.substr(0, text::FittingPrefix(raw, kMaxValueBytes)));
}

KeyValue ParseKeyLine(std::string_view line) {
  const Parsed p = Parse(line);
  KeyValue kv{std::string(p.name), std::nullopt};
  if (p.value) kv.value = CleanValue(*p.value);
  return kv;
}

Document::Document(std::string bytes, std::string_view new_line)
    : bytes_(std::move(bytes)), default_new_line_(new_line) {}

Document::Line Document::LineAt(std::size_t pos) const {
  // A line ends at "\n", "\r\n", or a "\r" on its own (old Mac files).
  const std::size_t end = bytes_.find_first_of("\r\n", pos);
  if (end == std::string::npos) return {pos, bytes_.size(), bytes_.size()};
  const bool crlf = bytes_[end] == '\r' && end + 1 < bytes_.size() && bytes_[end + 1] == '\n';
  return {pos, end, end + (crlf ? 2 : 1)};
}

std::size_t Document::Start() const {
  // A UTF-8 byte-order mark (some editors write one) is not part of the first line; it stays.
  return bytes_.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
}

Document::Found Document::Find(std::string_view section, const std::string_view* key) const {
  Found found;
  std::size_t pos = Start();
  while (pos < bytes_.size()) {
    const Line line = LineAt(pos);
    pos = line.next;
    const Parsed p = Parse(std::string_view(bytes_).substr(line.begin, line.end - line.begin));
    if (!found.section) {
      if (p.kind == Kind::kHeader && NamesEqual(p.name, section)) {
        found.section = true;
        found.header = line;
        found.last_content = line;
      }
      continue;
    }
    if (p.kind == Kind::kHeader) break;  // end of the section
    if (p.kind == Kind::kBlank) continue;
    found.last_content = line;
    if (key != nullptr && NamesEqual(p.name, *key)) {
      found.key = true;
      found.key_line = line;
      break;
    }
  }
  return found;
}

std::optional<std::string> Document::Get(std::string_view section, std::string_view key) const {
  const Found f = Find(section, &key);
  if (!f.key) return std::nullopt;
  const Parsed p =
      Parse(std::string_view(bytes_).substr(f.key_line.begin, f.key_line.end - f.key_line.begin));
  if (!p.value) return std::nullopt;
  return CleanValue(*p.value);
}

std::vector<KeyValue> Document::Section(std::string_view section) const {
  std::vector<KeyValue> entries;
  bool inside = false;
  std::size_t pos = Start();
  while (pos < bytes_.size()) {
    const Line line = LineAt(pos);
    pos = line.next;
    const Parsed p = Parse(std::string_view(bytes_).substr(line.begin, line.end - line.begin));
    if (p.kind == Kind::kHeader) {
      if (inside) break;
      inside = NamesEqual(p.name, section);
      continue;
    }
    if (!inside || p.kind == Kind::kBlank) continue;
    entries.push_back(
        ParseKeyLine(std::string_view(bytes_).substr(line.begin, line.end - line.begin)));
  }
  return entries;
}

std::string Document::NewLine() const {
  const Line first = LineAt(Start());
  if (first.end == bytes_.size()) return default_new_line_;
  return bytes_.substr(first.end, first.next - first.end);
}

bool Document::Set(std::string_view section, std::string_view key, std::string_view value) {
  const Found f = Find(section, &key);
  const std::string nl = NewLine();
  if (!f.section) {
    std::string added;
    if (bytes_.size() > Start() && bytes_.back() != '\n' && bytes_.back() != '\r') added += nl;
    added.append("[").append(section).append("]").append(nl);
    added.append(key).append("=").append(value).append(nl);
    bytes_ += added;
    return true;
  }
  if (f.key) {
    const Line& line = f.key_line;
    const Parsed p = Parse(std::string_view(bytes_).substr(line.begin, line.end - line.begin));
    std::string replacement(p.name);  // the key keeps the spelling it has in the file
    replacement.append("=").append(value);
    if (std::string_view(bytes_).substr(line.begin, line.end - line.begin) == replacement) {
      return false;
    }
    bytes_.replace(line.begin, line.end - line.begin, replacement);
    return true;
  }
  const Line& after = f.last_content;
  std::string added;
  if (after.next == bytes_.size() && after.end == after.next) added += nl;  // no final line end
  added.append(key).append("=").append(value).append(nl);
  bytes_.insert(after.next, added);
  return true;
}

bool Document::Remove(std::string_view section, std::string_view key) {
  const Found f = Find(section, &key);
  if (!f.key) return false;
  bytes_.erase(f.key_line.begin, f.key_line.next - f.key_line.begin);
  return true;
}

}  // namespace dozerin::ini
