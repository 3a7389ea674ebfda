// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Property checks over arbitrary input, one per fuzz target. Each takes the raw bytes of one
// input and returns an empty string when every property held, else a description of the first
// one that did not. A crash or a sanitizer report inside a check is a finding as well.
//
// The same checks run in two places: under libFuzzer (fuzz/fuzz_*.cpp, clang builds with
// FB_FUZZ=ON) and in the normal test suite, which replays the seed corpora and every input kept
// from a finding (tests/test_hardening_replay.cpp).

#include <array>
#include <string>
#include <string_view>

namespace fb::fuzz {

// Wine's text registry format: any text parses without harm; whatever parses is written back in
// a form that parses strictly to the same hive, and writing that again gives the same text.
std::string CheckRegistryText(std::string_view data);

// The INI reader and writer on a real file: the input is split into a file and a write
// (section, key, value). The write changes only the lines it owns, and reads back as written.
std::string CheckIniProfile(std::string_view data);

// The settings object on a real file: a load and save round leaves every line it does not own,
// and loading the saved file again gives the same settings, all within their bounds.
std::string CheckSettings(std::string_view data);

// Windows parameter strings and start-up entries: splitting, quoting for Windows and for a
// Desktop Entry, and the start-up entry written and read back through its file.
std::string CheckCommandLine(std::string_view data);

// Windows paths mapped into a small throwaway Wine prefix: a result always exists, lies inside
// the prefix and never comes from a wildcard.
std::string CheckWinePaths(std::string_view data);

// The eighteen catalogue probes and the stored choice over a fuzzed store and fuzzed Wine hives,
// read through the real file-backed registry.
std::string CheckP2PProbes(std::string_view data);

struct Target {
    const char* name; // also the corpus directory under fuzz/corpus/
    std::string (*check)(std::string_view data);
};

inline constexpr std::array<Target, 6> kTargets{{
    {"registry_text", &CheckRegistryText},
    {"ini_profile", &CheckIniProfile},
    {"settings", &CheckSettings},
    {"command_line", &CheckCommandLine},
    {"wine_paths", &CheckWinePaths},
    {"p2p_probes", &CheckP2PProbes},
}};

} // namespace fb::fuzz
