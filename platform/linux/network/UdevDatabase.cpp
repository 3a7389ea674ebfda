// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/network/UdevDatabase.h"

#include "platform/linux/files/FileIo.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace fb::linux_impl {

namespace {

// A database entry holds a few dozen lines; anything past this is not read.
constexpr std::size_t kEntryMax = 64 * 1024;
constexpr std::string_view kModelKey = "E:ID_MODEL_FROM_DATABASE=";

// The model in the database entry `id` (udev's name for the device); empty when none.
std::string ModelInEntry(const std::string& udevData, const std::string& id) {
    if (id.empty() || id.find('/') != std::string::npos) {
        return {};
    }
    const std::string text = ReadFileStart(udevData + "/" + id, kEntryMax);
    std::string_view rest(text);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        if (line.starts_with(kModelKey)) {
            return std::string(line.substr(kModelKey.size()));
        }
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return {};
}

std::string LinkTarget(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), target, sizeof target);
    return n > 0 && static_cast<std::size_t>(n) < sizeof target
               ? std::string(target, static_cast<std::size_t>(n))
               : std::string();
}

std::string LastComponent(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// udev's name for the device at sysfs path `device`: "c<major>:<minor>" (or "b..." for block
// devices) for a device with a device number, else "+<subsystem>:<name>".
std::string DatabaseId(const std::string& device) {
    const std::string subsystem = LastComponent(LinkTarget(device + "/subsystem"));
    if (subsystem.empty()) {
        return {};
    }
    const std::string number = ReadFileStart(device + "/dev", 64);
    char* end = nullptr;
    const unsigned long major = std::strtoul(number.c_str(), &end, 10);
    if (major > 0 && *end == ':') {
        const unsigned long minor = std::strtoul(end + 1, nullptr, 10);
        return (subsystem == "block" ? "b" : "c") + std::to_string(major) + ":" +
               std::to_string(minor);
    }
    return "+" + subsystem + ":" + LastComponent(device);
}

// The device above sysfs device path `device` (the nearest folder with a uevent file), or empty.
std::string ParentDevice(std::string device) {
    for (;;) {
        const std::size_t slash = device.rfind('/');
        if (slash == std::string::npos || slash == 0) {
            return {};
        }
        device.resize(slash);
        if (LastComponent(device) == "devices") {
            return {};
        }
        struct stat info {};
        if (stat((device + "/uevent").c_str(), &info) == 0) {
            return device;
        }
    }
}

bool SysfsEntryIsOwn(const UdevLink& link) {
    const std::string text = ReadFileStart(link.sysClassNet + "/" + link.name + "/ifindex", 32);
    char* end = nullptr;
    const unsigned long index = std::strtoul(text.c_str(), &end, 10);
    return end != text.c_str() && index == link.index;
}

bool ValidName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

} // namespace

std::string UdevHardwareModel(const UdevLink& link) {
    const bool own = ValidName(link.name) && SysfsEntryIsOwn(link);
    std::string model;
    if (own) {
        model = ModelInEntry(link.udevData, "n" + std::to_string(link.index));
    }
    const bool reported = !link.parentBus.empty() && !link.parentName.empty();
    if (model.empty() && reported) {
        // sysfs writes a '/' in a device's name as '!', and udev names the entry after sysfs.
        std::string name = link.parentName;
        std::replace(name.begin(), name.end(), '/', '!');
        model = ModelInEntry(link.udevData, "+" + link.parentBus + ":" + name);
    }
    if (!model.empty() || !own) {
        return model;
    }
    // The devices above the link, from sysfs.
    char resolved[PATH_MAX];
    const std::string deviceLink = link.sysClassNet + "/" + link.name + "/device";
    if (realpath(deviceLink.c_str(), resolved) == nullptr) {
        return model;
    }
    const std::string device(resolved);
    if (!reported) {
        model = ModelInEntry(link.udevData, DatabaseId(device));
    }
    if (model.empty()) {
        const std::string parent = ParentDevice(device);
        if (!parent.empty()) {
            model = ModelInEntry(link.udevData, DatabaseId(parent));
        }
    }
    return model;
}

} // namespace fb::linux_impl
