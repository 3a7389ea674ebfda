#pragma once

#include <cstddef>
#include <string>

namespace fb {

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
    // `defaultValue` when the file, section or key is missing.
    virtual int GetInt(const std::string& section, const std::string& key, int defaultValue,
                       const std::string& file) = 0;

    // Writes the key, creating the file and section when needed. False when nothing was written.
    virtual bool WriteString(const std::string& section, const std::string& key,
                             const std::string& value, const std::string& file) = 0;
};

} // namespace fb
