// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The start-up entry of the current user's "Run" key, value "Flowbright", kept as an XDG
// autostart entry ("<autostart dir>/Flowbright.desktop") instead of a registry value. The value's
// data is a Windows command line (a quoted program path and its arguments); the entry's Exec line
// runs that program with those arguments. The value exists exactly when the entry does.

#include "platform/linux/registry/RegistryFiles.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fb::linux_impl {

// Windows command lines. A quoted program name ends at the first quotation mark that is followed
// by a blank or the end and leaves arguments whose quotation marks pair up (so that a Linux path
// holding quotation marks survives); the arguments follow the C runtime's rules for backslashes
// and quotation marks.
std::vector<std::string> SplitRunCommandLine(std::string_view commandLine);
// The command line whose split gives `args` back: the program name always in quotes.
std::string JoinWindowsCommandLine(const std::vector<std::string>& args);
// Arguments quoted so that the C runtime's rules (and the launcher's parameter splitting) read
// them back as they are: quotes around anything empty or holding blanks or quotes, backslashes
// doubled before a quote.
std::string JoinWindowsArguments(std::span<const std::string> args);

// Desktop Entry Exec values: arguments quoted where they need it, '%' doubled. The result is the
// value before the key-file escaping of backslashes and control characters.
std::string QuoteDesktopExec(const std::vector<std::string>& args);
// The arguments of an Exec value (after key-file unescaping); field codes are dropped. Nothing
// when the quoting is broken.
std::optional<std::vector<std::string>> ParseDesktopExec(std::string_view exec);

// Key-file string values: "\s", "\n", "\t", "\r" and "\\" escapes.
std::string EscapeKeyFileValue(std::string_view value);
std::string UnescapeKeyFileValue(std::string_view value);

class RegistryAutostart {
public:
    RegistryAutostart(std::string autostartDir, std::shared_ptr<FileOps> ops);

    // True for the HKCU path and value name this class stands for.
    static bool IsProjectedValue(std::string_view path, std::string_view name);
    // True for the HKCU "Run" key and its parents, which exist on every system.
    static bool IsAlwaysPresentKey(std::string_view path);

    std::string EntryPath() const;

    // The value's data (without the terminating zero) when an enabled entry exists.
    std::optional<std::string> Read() const;
    // The command line a value's data stands for, when it is a REG_SZ value an entry can hold.
    static std::optional<std::string> CommandLineOf(std::uint32_t type, const std::uint8_t* data,
                                                    std::uint32_t size);
    // Writes the entry for a REG_SZ value; a registry result code. The caller holds the lock.
    long Write(std::uint32_t type, const std::uint8_t* data, std::uint32_t size);
    // Writes the entry for a command line that CommandLineOf gave. The caller holds the lock.
    long WriteCommandLine(const std::string& commandLine);
    // Deletes the entry; kFileNotFound when there is none.
    long Remove();

    // The entry's text for a command line, or nothing when it cannot be one.
    static std::optional<std::string> EntryText(const std::string& commandLine);

private:
    std::string m_dir;
    std::shared_ptr<FileOps> m_ops;
};

} // namespace fb::linux_impl
