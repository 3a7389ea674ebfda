// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzz/FuzzChecks.h"
#include "fuzz/FuzzSupport.h"

#include "platform/Registry.h"
#include "platform/linux/registry/RegistryAutostart.h"
#include "platform/linux/registry/RegistryText.h"
#include "platform/linux/shell/ShellCommandLine.h"

#include <memory>

namespace fb::fuzz {

namespace {

using Args = std::vector<std::string>;

// The parameter-string splitter of the launcher and the command-line reader of the start-up entry.
Args (*const SplitParameters)(const std::string&) = &linux_impl::SplitWindowsCommandLine;
Args (*const SplitCommandLine)(std::string_view) = &linux_impl::SplitRunCommandLine;

std::string Show(const Args& args) {
    std::string text = "[";
    for (const auto& arg : args)
        text += "\"" + Printable(arg, 60) + "\" ";
    return text + "]";
}

} // namespace

std::string CheckCommandLine(std::string_view data) {
    static ScratchDir scratch;
    const std::string text(data);

    // The launcher's parameter string: quoting the arguments again gives the same arguments.
    const Args parameters = SplitParameters(text);
    const std::string requoted = linux_impl::JoinWindowsArguments(parameters);
    if (SplitParameters(requoted) != parameters)
        return "parameters " + Show(parameters) + " do not survive quoting as \"" +
               Printable(requoted) + "\"";

    // Key-file escaping is lossless.
    if (linux_impl::UnescapeKeyFileValue(linux_impl::EscapeKeyFileValue(text)) != text)
        return "key-file escaping loses text";

    // Desktop Entry quoting of the command line's arguments reads back as the same arguments.
    const Args command = SplitCommandLine(text);
    const auto exec = linux_impl::ParseDesktopExec(linux_impl::QuoteDesktopExec(command));
    if (!exec || *exec != command)
        return "arguments " + Show(command) + " do not survive Desktop Entry quoting";

    // The command line's own joining is read back as the same program and arguments.
    if (!command.empty() && !command[0].empty()) {
        const std::string joined = linux_impl::JoinWindowsCommandLine(command);
        if (SplitCommandLine(joined) != command)
            return "command " + Show(command) + " does not survive joining as \"" +
                   Printable(joined) + "\"";
    }

    // The start-up entry through its file: what is read back runs the same program with the
    // same arguments; a refused write leaves no entry.
    const std::string dir = scratch.Fresh("autostart");
    linux_impl::RegistryAutostart autostart(dir, std::make_shared<linux_impl::FileOps>());
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    const long written =
        autostart.Write(reg::kSz, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    const auto read = autostart.Read();
    if (written != reg::kSuccess) {
        if (read)
            return "a refused start-up entry can be read";
        return {};
    }
    if (!read)
        return "a written start-up entry cannot be read back";
    if (SplitCommandLine(*read) != command)
        return "start-up entry " + Show(command) + " reads back as " +
               Show(SplitCommandLine(*read));
    if (autostart.Remove() != reg::kSuccess || autostart.Read())
        return "the start-up entry cannot be removed";
    return {};
}

} // namespace fb::fuzz
