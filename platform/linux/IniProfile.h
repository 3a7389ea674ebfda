#pragma once

#include "platform/Profile.h"

#include <cstddef>
#include <string>

namespace fb::linux_impl {

// INI files on disk, read and written with the private-profile rules:
// - section and key names match without regard to ASCII case and surrounding blanks;
// - the first of duplicate sections (and the first of duplicate keys in it) is the one read
//   and the one rewritten; later duplicates are left alone;
// - a value loses its surrounding blanks and one pair of enclosing quotes ('' or "") on read;
// - a write changes only the key's own line: a new key goes after the last non-blank line of
//   its section, a new section at the end of the file, every other byte of the file (comments,
//   lines it does not understand, line ends, a missing final newline) stays as it was; new
//   lines take the line end of the existing file (LF for a new file);
// - every read reads the file afresh; a write replaces the file atomically (temporary file in
//   the same directory, fsync, rename) keeping its permission bits, and goes through a
//   symbolic link to the file it names.
// Names and values are C strings: anything after a NUL character is ignored. A write that
// could not be read back as written (a line break in a value, '=' in a key, ']' in a section
// name, an empty name) is refused, as is a write to a file the process may not write.
class IniProfile : public IProfile {
public:
    // Files larger than this are not read (defaults apply) nor rewritten.
    static constexpr std::size_t kMaxFileSize = 64u * 1024u * 1024u;

    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, std::size_t size,
                          const std::string& file) override;
    int GetInt(const std::string& section, const std::string& key, int defaultValue,
               const std::string& file) override;
    bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& file) override;
};

} // namespace fb::linux_impl
