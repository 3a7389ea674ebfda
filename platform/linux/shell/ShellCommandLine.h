// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

namespace fb::linux_impl {

// Splits a Windows parameter string into arguments by the rules Windows programs use to read
// their command line:
// - blanks (space, tab) outside double quotes separate arguments; runs of them count as one;
// - a double quote toggles quoting and is removed; `""` gives an empty argument;
// - 2n backslashes before a quote give n backslashes, and the quote toggles;
// - 2n+1 backslashes before a quote give n backslashes and a literal quote;
// - backslashes not followed by a quote are literal.
// Every other character, newlines included, is part of its argument: nothing is expanded.
std::vector<std::string> SplitWindowsCommandLine(const std::string& parameters);

} // namespace fb::linux_impl
