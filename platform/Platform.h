// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace fb {

class IRegistry;
class IShell;
class IProcessInfo;
class IProfile;
class IMessageBox;
class IComponentFactory;
class IInterfaceTable;
class IConnectionState;
class IAddressTable;
class IPacketSocketFactory;
class IFileSystem;
class ITrayHost;
class IGraphSurfaceFactory;

// Every platform facility the program uses, handed to the objects that need them. The program
// fills it with the Linux implementations; tests fill it with fakes.
struct Platform {
    IRegistry* registry = nullptr;
    IShell* shell = nullptr;
    IProcessInfo* process = nullptr;
    IProfile* profile = nullptr;
    IMessageBox* messageBox = nullptr;
    IComponentFactory* components = nullptr;
    IInterfaceTable* interfaces = nullptr;
    IConnectionState* connection = nullptr;
    IAddressTable* addresses = nullptr;
    IPacketSocketFactory* packetSockets = nullptr;
    IFileSystem* files = nullptr;
    ITrayHost* tray = nullptr;
    IGraphSurfaceFactory* graphSurfaces = nullptr;
};

} // namespace fb
