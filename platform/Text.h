// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Text helpers every layer uses on the program's UTF-8 strings: the ASCII case folding of the
// Windows name comparisons, trimming, and cutting UTF-8 without splitting a character. Plain
// C++ without Qt, so that the display-free core and the fuzz checks can use it too.

#include <cstddef>
#include <string_view>

namespace fb {

// Blanks between the words of a line: space and tab.
inline constexpr std::string_view kBlanks = " \t";
// White space within one line of a text file: also the carriage return of a CRLF line end and
// the rarely seen vertical tab and form feed.
inline constexpr std::string_view kLineSpace = " \t\r\v\f";

// Whether every byte is 7-bit ASCII (where the ASCII rules below are the whole story).
bool IsAscii(std::string_view text);
// 'A'..'Z' as 'a'..'z'; every other byte as it is (UTF-8 sequences are never changed).
char FoldAscii(char c);
// Whether two names match without regard to ASCII case.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

bool IsBlank(char c);
// `text` without the characters of `blanks` at either end, or at its end.
std::string_view Trim(std::string_view text, std::string_view blanks = kBlanks);
std::string_view TrimEnd(std::string_view text, std::string_view blanks = kBlanks);

// The length of the valid UTF-8 sequence starting at `text[pos]`, or 0 when it is not one
// (overlong forms, surrogates and code points above U+10FFFF are not valid).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos);
bool IsValidUtf8(std::string_view text);
// The longest prefix of `text` of at most `maxBytes` bytes that does not end inside a UTF-8
// character, as a length in bytes. Text that is not UTF-8 is cut at `maxBytes` exactly.
std::size_t Utf8CutBytes(std::string_view text, std::size_t maxBytes);
// The length in bytes of the first `chars` characters of `text`. A byte that starts no valid
// character counts as one, so malformed text is cut somewhere sensible as well.
std::size_t Utf8PrefixBytes(std::string_view text, std::size_t chars);

} // namespace fb
