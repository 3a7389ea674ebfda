// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Text helpers every layer uses on the program's UTF-8 strings: the ASCII case folding of the
// Windows name comparisons, trimming, and cutting UTF-8 without splitting a character. Plain
// C++ without Qt, so that the display-free core and the fuzz checks can use it too.

#include <cstddef>
#include <string>
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
// Inline: the registry folds every name it reads with it.
inline char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
// Whether two names match without regard to ASCII case.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

inline bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
// The position of the first character at or after `pos` that is not a blank (space or tab);
// the text's size when there is none.
std::size_t SkipBlanks(std::string_view text, std::size_t pos);
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

// Copies the run of backslashes at `text[pos]` into `out` as Windows' command-line rules read
// it: before a quotation mark each pair is one backslash and an odd last one makes the mark
// literal (copied and passed over too); elsewhere every backslash is literal. `pos` ends after
// what was taken; a mark that still quotes is left for the caller.
void TakeBackslashRun(std::string_view text, std::size_t& pos, std::string& out);

} // namespace fb
