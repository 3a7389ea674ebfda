// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Helpers shared by the fuzz checks: a scratch directory for the process, whole-file reads and
// writes, and splitting one input into parts.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace fb::fuzz {

// A directory of its own under $TMPDIR for as long as the process runs, removed at exit.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "fb-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        m_path = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& Path() const { return m_path; }

    // An empty subdirectory of that name, emptied first when it exists.
    std::string Fresh(const std::string& name) const {
        const std::string dir = m_path + "/" + name;
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
        std::filesystem::create_directories(dir, ignored);
        return dir;
    }

private:
    std::string m_path;
};

inline std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool WriteWhole(const std::string& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return static_cast<bool>(out);
}

// The input cut at every occurrence of `separator` into at most `count` parts (the last part
// keeps any further separators); missing parts are empty.
inline std::vector<std::string_view> SplitInput(std::string_view data, std::string_view separator,
                                                std::size_t count) {
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < count) {
        const std::size_t at = data.find(separator);
        if (at == std::string_view::npos)
            break;
        parts.push_back(data.substr(0, at));
        data.remove_prefix(at + separator.size());
    }
    parts.push_back(data);
    parts.resize(count);
    return parts;
}

// Bytes shown for a person: printable ASCII as it is, everything else as \xNN; cut after `limit`.
inline std::string Printable(std::string_view text, std::size_t limit = 200) {
    std::ostringstream out;
    for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out << static_cast<char>(c);
        } else {
            static const char* digits = "0123456789abcdef";
            out << "\\x" << digits[c >> 4] << digits[c & 15];
        }
    }
    if (text.size() > limit)
        out << "...(" << text.size() << " bytes)";
    return out.str();
}

} // namespace fb::fuzz
