// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/shell/ProcessInfo.h"

#include <cerrno>
#include <climits>
#include <string>
#include <unistd.h>
#include <vector>

namespace fb::linux_impl {

std::string ProcessInfo::ModuleFileName() {
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return {};
        if (static_cast<std::size_t>(length) < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        buffer.resize(buffer.size() * 2);
    }
}

std::string ProcessInfo::CurrentDirectory() {
    std::vector<char> buffer(PATH_MAX);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
    return std::string(buffer.data());
}

} // namespace fb::linux_impl
