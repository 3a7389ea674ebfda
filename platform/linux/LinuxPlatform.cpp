// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxPlatform.h"

#include "platform/linux/files/IniProfile.h"
#include "platform/linux/network/AddressTable.h"
#include "platform/linux/network/NetConnectionState.h"
#include "platform/linux/network/NetlinkInterfaceTable.h"
#include "platform/linux/network/PacketSocket.h"
#include "platform/linux/registry/Registry.h"
#include "platform/linux/shell/ProcessInfo.h"
#include "platform/linux/shell/Shell.h"
#include "platform/linux/shell/WineFileSystem.h"
#include "platform/linux/shell/WinePaths.h"
#include "platform/linux/system/ComponentFactory.h"
#include "platform/linux/system/MessageBox.h"
#include "platform/linux/tray/TrayHostQt.h"

namespace fb::linux_impl {

struct LinuxPlatform::Parts {
    FileRegistry registry{FileRegistry::DefaultPaths()};
    Shell shell{WinePaths(WinePaths::DefaultPrefix())};
    ProcessInfo process;
    IniProfile profile{IniProfile::DefaultUserFolder()};
    MessageBox messageBox;
    ComponentFactory components;
    NetlinkInterfaceTable interfaces;
    NetConnectionState connection;
    AddressTable addresses;
    PacketSocketFactory packetSockets;
    FileSystem files{WinePaths(WinePaths::DefaultPrefix())};
    QtTrayHost tray;
};

LinuxPlatform::LinuxPlatform()
    : m_parts(std::make_unique<Parts>()) {
    m_ports.registry = &m_parts->registry;
    m_ports.shell = &m_parts->shell;
    m_ports.process = &m_parts->process;
    m_ports.profile = &m_parts->profile;
    m_ports.messageBox = &m_parts->messageBox;
    m_ports.components = &m_parts->components;
    m_ports.interfaces = &m_parts->interfaces;
    m_ports.connection = &m_parts->connection;
    m_ports.addresses = &m_parts->addresses;
    m_ports.packetSockets = &m_parts->packetSockets;
    m_ports.files = &m_parts->files;
    m_ports.tray = &m_parts->tray;
}

LinuxPlatform::~LinuxPlatform() = default;

} // namespace fb::linux_impl
