#pragma once

#include "platform/ProcessInfo.h"
#include "platform/Profile.h"

#include <cstddef>
#include <string>

// Reader and writer of the program's own INI file: the program file's path with its extension
// replaced by ".ini".
class CIniFile {
public:
    // Capacity of the path buffer, terminating zero included: paths of 500 characters or more
    // do not fit.
    static constexpr std::size_t kPathSize = 500;
    // Capacity of the text buffer in which ReadUnsigned reads a number.
    static constexpr std::size_t kNumberTextSize = 500;

    CIniFile(fb::IProfile& profile, fb::IProcessInfo& process);
    virtual ~CIniFile() = default;

    CIniFile(const CIniFile&) = delete;
    CIniFile& operator=(const CIniFile&) = delete;

    // The settings file's path; empty when the program's own path is unknown or too long for
    // the buffer, and then every read gives its default and every write fails.
    const std::string& Path() const { return m_path; }

    // The INI path for a program file: the part from the last dot on is cut when that dot lies
    // in the file name (not in a directory name, and not as the first character of the name,
    // which marks a hidden file rather than an extension); then ".ini" is appended. Empty when
    // the program file's name is empty or the result does not fit the path buffer.
    static std::string PathFor(const std::string& moduleFileName, char separator);

    // The key's text (at most size - 1 characters) into `buffer`, zero-terminated; returns
    // its length. The default when the file, section or key is missing.
    std::size_t ReadText(const std::string& section, const std::string& key,
                         const std::string& defaultValue, char* buffer, std::size_t size) const;
    // The same as a string.
    std::string ReadText(const std::string& section, const std::string& key,
                         const std::string& defaultValue, std::size_t size) const;
    bool WriteText(const std::string& section, const std::string& key,
                   const std::string& value) const;

    // Leading decimal digits with an optional sign, 0 without any; the default when missing.
    int ReadInt(const std::string& section, const std::string& key, int defaultValue) const;
    bool WriteInt(const std::string& section, const std::string& key, int value) const;

    // The key's text converted as a 32-bit strtoul in base 10 does: blanks and a sign skipped,
    // 0 for text without digits, 4294967295 for numbers above it, a negative number taken
    // modulo 2^32. The default when missing.
    unsigned ReadUnsigned(const std::string& section, const std::string& key,
                          unsigned defaultValue) const;
    bool WriteUnsigned(const std::string& section, const std::string& key, unsigned value) const;

private:
    fb::IProfile& m_profile;
    std::string m_path;
};
