// Text of the program: 8-bit multibyte strings. On Windows they are in the ANSI code page (932
// on Japanese systems, where a character is one byte or a lead byte and its trail byte); on Linux
// they are UTF-8. Everything that steps over, upper-cases or compares names and titles goes through
// these functions, so a multibyte character is never split.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dozerin::text {

// Bytes taken by the character that starts at s[pos]: at least 1, never past the end of s.
// A malformed sequence counts as one single-byte character.
std::size_t CharSize(std::string_view s, std::size_t pos);

// Number of whole characters in s.
std::size_t CountChars(std::string_view s);

// Upper-case form of s under the code page's mapping; characters without one stay as they are.
std::string ToUpper(std::string_view s);

// True when a and b are equal once both are upper-cased: whole strings, whole characters.
bool EqualNoCase(std::string_view a, std::string_view b);

// True when needle occurs in haystack starting on a character boundary (exact bytes).
bool Contains(std::string_view haystack, std::string_view needle);

// UTF-16 text (such as names the system hands over in wide form) in the program's text form;
// characters the code page lacks become its default character.
std::string FromUtf16(std::u16string_view wide);

// A message text with its first "%1" replaced by value.
std::string FillIn(std::string_view pattern, std::string_view value);

// Length of the longest prefix of s that has at most max_bytes bytes and ends on a character
// boundary.
std::size_t FittingPrefix(std::string_view s, std::size_t max_bytes);

}  // namespace dozerin::text
