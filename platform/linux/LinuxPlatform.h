// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Platform.h"

#include <memory>

namespace fb::linux_impl {

// Every Linux implementation of the platform, made once at start-up and kept for the run.
// Must be made after the application object (the tray and the bus need it).
class LinuxPlatform {
public:
    LinuxPlatform();
    ~LinuxPlatform();
    LinuxPlatform(const LinuxPlatform&) = delete;
    LinuxPlatform& operator=(const LinuxPlatform&) = delete;

    const Platform& Ports() const { return m_ports; }

private:
    struct Parts;
    std::unique_ptr<Parts> m_parts;
    Platform m_ports;
};

} // namespace fb::linux_impl
