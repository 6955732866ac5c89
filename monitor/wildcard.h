// Window-title patterns: '*' stands for any run of characters (none included), '?' for exactly one
// character, every other character for itself; the whole text must match. Characters are whole
// multibyte characters of the program's text (a double-byte character is one character).
#pragma once

#include <string_view>

namespace dozerin {

// Matches in time proportional to text length times pattern length at worst, without recursion,
// however many '*' the pattern holds and however long the text is. Compares bytes: callers
// upper-case both sides first to ignore case.
bool WildcardMatch(std::string_view text, std::string_view pattern);

}  // namespace dozerin
