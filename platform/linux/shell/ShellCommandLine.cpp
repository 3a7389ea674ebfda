// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/shell/ShellCommandLine.h"

#include "platform/Text.h"

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
            TakeBackslashRun(parameters, i, current); // a quoting mark after it comes next
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
