// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Profile.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace fb::linux_impl {

// INI files on disk, read and written with the private-profile rules:
// - section and key names match without regard to ASCII case and surrounding blanks;
// - the first of duplicate sections (and the first of duplicate keys in it) is the one read
//   and the one rewritten; later duplicates are left alone;
// - a value loses its surrounding blanks and one pair of enclosing quotes ('' or "") on read;
//   an empty value read as a number gives the default;
// - a write changes only the key's own line: a new key goes after the last non-blank line of
//   its section, a new section at the end of the file, every other byte of the file (comments,
//   lines it does not understand, line ends, a missing final newline) stays as it was; new
//   lines take the line end of the existing file (LF for a new file);
// - reads see the file as it is on disk: the last file read is kept in memory only as long as
//   its device, inode, size and change times stay the same, so reading many keys reads the
//   file once;
// - a write replaces the file atomically (temporary file in the same directory, fsync, rename)
//   keeping its permission bits, and goes through a symbolic link to the file it names. It
//   holds the lock "<file>.lock" against other writers; when another process holds that lock
//   for longer than kLockWait, the write is given up and says so on standard error. The
//   temporary file of a write that died is removed by the next write.
// Names and values are C strings: anything after a NUL character is ignored. A write that
// could not be read back as written (a line break in a value, '=' in a key, ']' in a section
// name, an empty name) is refused, as is a write to a file the process may not write.
class IniProfile : public IProfile {
public:
    // Files larger than this are not read (defaults apply) nor rewritten.
    static constexpr std::size_t kMaxFileSize = 64u * 1024u * 1024u;
    // The longest a write waits for another process to let go of the file's lock.
    static constexpr std::chrono::milliseconds kLockWait{1000};

    // Without a folder of the user's own: every file is used where it is named.
    IniProfile();
    // `userFolder` is what UserFolder() answers; it is created (private to the user) when a
    // file is first written into it.
    explicit IniProfile(std::string userFolder);
    ~IniProfile() override;

    IniProfile(const IniProfile&) = delete;
    IniProfile& operator=(const IniProfile&) = delete;

    // "$XDG_CONFIG_HOME/flowbright" when XDG_CONFIG_HOME is an absolute path, else
    // "$HOME/.config/flowbright"; empty when neither is known.
    static std::string DefaultUserFolder();

    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, std::size_t size,
                          const std::string& file) override;
    int GetInt(const std::string& section, const std::string& key, int defaultValue,
               const std::string& file) override;
    bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& file) override;
    bool WriteStrings(const std::string& file, const std::vector<ProfileWrite>& writes,
                      const std::string& startFrom) override;
    bool Exists(const std::string& file) override;
    bool CanWriteFolder(const std::string& folder) override;
    std::string UserFolder() override { return m_userFolder; }

private:
    struct Snapshot;

    // The file's content as last read, read again when the file changed; null when the file
    // is missing or cannot be read.
    std::shared_ptr<const Snapshot> Load(const std::string& path);

    const std::string m_userFolder;
    std::mutex m_cacheMutex;
    std::shared_ptr<const Snapshot> m_cache; // guarded by m_cacheMutex
};

} // namespace fb::linux_impl
