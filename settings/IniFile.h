// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ProcessInfo.h"
#include "platform/Profile.h"

#include <cstddef>
#include <string>
#include <vector>

namespace fb {

// Reader and writer of the program's own INI file: the program file's path with its extension
// replaced by ".ini". A program installed in a folder its user cannot write keeps the user's
// file in the user's own folder instead, and reads the file beside the program (one shipped
// with it) until the user's file exists.
class CIniFile {
public:
    // Capacity of the path buffer, terminating zero included: paths of 500 characters or more
    // do not fit.
    static constexpr std::size_t kPathSize = 500;
    // Capacity of the text buffer in which ReadUnsigned reads a number.
    static constexpr std::size_t kNumberTextSize = 500;

    CIniFile(IProfile& profile, IProcessInfo& process);
    virtual ~CIniFile() = default;

    CIniFile(const CIniFile&) = delete;
    CIniFile& operator=(const CIniFile&) = delete;

    // Where the settings live: `file` is read and written; `shipped`, when not empty, is read
    // instead as long as `file` does not exist.
    struct Location {
        std::string file;
        std::string shipped;
    };

    // The settings file's path; empty when the program's own path is unknown or too long for
    // the buffer, and then every read gives its default and every write fails.
    const std::string& Path() const { return m_location.file; }

    // Where the settings of a program whose INI path is `besideProgram` live, given whether the
    // user may write the program's folder and the user's own folder (empty for none): beside
    // the program when its folder is writable, else "flowbright.ini" in the user's folder.
    static Location LocationFor(const std::string& besideProgram, bool folderWritable,
                                const std::string& userFolder, char separator);

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
    // Writes the keys in order in one rewrite of the file; false when any was not written. The
    // user's file, when first made, starts as a copy of the shipped one.
    bool WriteTexts(const std::vector<ProfileWrite>& writes) const;

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
    // The file reads go to: the user's file once it exists, else the shipped one.
    std::string ReadPath() const;

    IProfile& m_profile;
    Location m_location;
};

} // namespace fb
