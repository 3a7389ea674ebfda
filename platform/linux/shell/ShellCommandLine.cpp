// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/shell/ShellCommandLine.h"

namespace fb::linux_impl {

std::vector<std::string> SplitWindowsCommandLine(const std::string& parameters) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    std::size_t i = 0;
    while (i < parameters.size()) {
        const char c = parameters[i];
        if ((c == ' ' || c == '\t') && !quoted) {
            if (inArgument) {
                arguments.push_back(std::move(current));
                current.clear();
                inArgument = false;
            }
            ++i;
            continue;
        }
        inArgument = true;
        if (c == '\\') {
            std::size_t backslashes = 0;
            while (i < parameters.size() && parameters[i] == '\\') {
                ++backslashes;
                ++i;
            }
            if (i < parameters.size() && parameters[i] == '"') {
                current.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1)
                    current += '"';
                else
                    quoted = !quoted;
                ++i;
            } else {
                current.append(backslashes, '\\');
            }
            continue;
        }
        if (c == '"')
            quoted = !quoted;
        else
            current += c;
        ++i;
    }
    if (inArgument)
        arguments.push_back(std::move(current));
    return arguments;
}

} // namespace fb::linux_impl
