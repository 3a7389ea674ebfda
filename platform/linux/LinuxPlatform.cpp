// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxPlatform.h"

#include "platform/linux/display/X11GraphSurface.h"
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
    X11GraphSurfaceFactory graphSurfaces;
};

LinuxPlatform::LinuxPlatform()
    : m_parts(std::make_unique<Parts>()) {
    // In the order of Platform's members; each pointer's type checks its place.
    Parts& p = *m_parts;
    m_ports = {&p.registry,   &p.shell,      &p.process,      &p.profile,   &p.messageBox,
               &p.components, &p.interfaces, &p.connection,   &p.addresses, &p.packetSockets,
               &p.files,      &p.tray,       &p.graphSurfaces};
}

LinuxPlatform::~LinuxPlatform() = default;

} // namespace fb::linux_impl
