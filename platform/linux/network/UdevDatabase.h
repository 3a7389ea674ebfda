// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace fb::linux_impl {

// A network link with a device behind it, as its hardware model is looked up in udev's database.
struct UdevLink {
    std::string udevData = "/run/udev/data";    // udev's database: one file per device
    std::string sysClassNet = "/sys/class/net"; // where <name>/ifindex and <name>/device are
    std::string name;                           // the link's name and interface index
    std::uint32_t index = 0;
    // The device the link sits on, as the kernel reports it with the link (bus and device name);
    // empty when the kernel does not say.
    std::string parentBus;
    std::string parentName;
};

// The hardware model udev's hardware database gave the link: the ID_MODEL_FROM_DATABASE property
// of the link itself, else of the device it sits on, else of that device's parent, as udev
// stores them. The link's own entry (filed under the interface index of the namespace udev runs
// in) and the sysfs path up to the devices are used only when the sysfs entry by the link's name
// has the link's index, so that a link of another network namespace never lends its model; the
// device the kernel names with the link is the same in every namespace. Empty when udev knows no
// model or its database cannot be read.
std::string UdevHardwareModel(const UdevLink& link);

} // namespace fb::linux_impl
