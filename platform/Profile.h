// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace fb {

// One key to write: WritePrivateProfileStringA's section, key and value.
struct ProfileWrite {
    std::string section;
    std::string key;
    std::string value;
};

// Private-profile (INI) files with the semantics of GetPrivateProfileStringA,
// GetPrivateProfileIntA and WritePrivateProfileStringA.
class IProfile {
public:
    virtual ~IProfile() = default;

    // The key's value, or `defaultValue` when the file, section or key is missing; at most
    // `size` - 1 characters (a `size` of 0 gives an empty string).
    virtual std::string GetString(const std::string& section, const std::string& key,
                                  const std::string& defaultValue, std::size_t size,
                                  const std::string& file) = 0;

    // The key's value read as a decimal integer (leading digits only, 0 when none), or
    // `defaultValue` when the file, section or key is missing or the value is empty.
    virtual int GetInt(const std::string& section, const std::string& key, int defaultValue,
                       const std::string& file) = 0;

    // Writes the key, creating the file and section when needed. False when nothing was written.
    virtual bool WriteString(const std::string& section, const std::string& key,
                             const std::string& value, const std::string& file) = 0;

    // Writes the keys in order, each as WriteString would, but in one replacement of the file.
    // When `file` does not exist yet and `startFrom` names a file that does, the new file
    // starts as a copy of that one. False when any of the keys was not written.
    virtual bool WriteStrings(const std::string& file, const std::vector<ProfileWrite>& writes,
                              const std::string& startFrom) = 0;

    // True when the file exists, whether or not it can be read.
    virtual bool Exists(const std::string& file) = 0;

    // True when the user may create files in the folder.
    virtual bool CanWriteFolder(const std::string& folder) = 0;

    // The user's own folder for the program's files, used in place of a program folder the user
    // cannot write; empty when the user has none.
    virtual std::string UserFolder() = 0;
};

} // namespace fb
