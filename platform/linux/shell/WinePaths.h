// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

namespace fb::linux_impl {

// Maps Windows paths ("C:\Program Files\eMule\eMule.exe") onto the Unix files of a Wine prefix,
// the way Wine itself resolves them: the drive through "<prefix>/dosdevices/<drive>:", then each
// component looked up without regard to letter case.
class WinePaths {
public:
    // `prefix` is the Wine prefix directory (the one holding "dosdevices").
    explicit WinePaths(std::string prefix);

    // The prefix Wine itself would use: $WINEPREFIX when set and not empty, else ~/.wine.
    static std::string DefaultPrefix();

    const std::string& Prefix() const { return m_prefix; }

    // True for a path that starts with a drive letter and a colon ("C:\...", "c:/...", "C:").
    static bool HasDriveLetter(const std::string& path);
    // True for a path Windows would read as absolute without a drive: "\dir" and UNC "\\host".
    static bool IsRootedWithoutDrive(const std::string& path);

    // The Unix path of the existing entry a Windows path names, or nothing. Separators may be
    // backslashes or slashes; "." and ".." are resolved by name and never climb above the
    // drive's root. Not resolved: paths without a drive letter, drive-relative paths ("C:x"),
    // UNC and device paths, and names with characters no Windows file name can hold
    // (* ? " < > | and a colon after the drive), so wildcards never match anything.
    std::optional<std::string> ToUnix(const std::string& windowsPath) const;

private:
    std::string m_prefix;
};

} // namespace fb::linux_impl
