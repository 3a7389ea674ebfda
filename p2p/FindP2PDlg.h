// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Registry.h"

#include <array>
#include <cstddef>
#include <span>
#include <string>

namespace fb {

// The catalogue of known P2P clients and the stored client choice. No window of it is ever
// created: callers construct one on the stack, run the probes, read the path slots of the
// clients found and let it go.
class CFindP2PDlg {
public:
    // The size of the buffer a probe reads each registry value into, terminating zero included.
    static constexpr std::size_t kValueBufferSize = 256;
    // Read buffers of the stored choice, terminating zero included.
    static constexpr std::size_t kAppNameBufferSize = 50;
    static constexpr std::size_t kAppPathBufferSize = 1000;

    // One row of the client table: its display name, its probe (1 = found, 0 = not found) and
    // the path slot the probe fills.
    struct Client {
        const char* displayName;
        int (CFindP2PDlg::*probe)();
        std::string CFindP2PDlg::*path;
    };
    static constexpr std::size_t kClientCount = 18;
    // The eighteen rows in their fixed order: the order the probes run and the list shows.
    static std::span<const Client, kClientCount> Clients();

    explicit CFindP2PDlg(IRegistry& registry);

    // The probes, one per client, in table order.
    int FindAresGalaxy();
    int FindAzureus();
    int FindBearFlix();
    int FindBearShare();
    int FindBitComet();
    int FindBitTorrent();
    int FindDCPlusPlus();
    int FindEmule();
    int FindEdonkey();
    int FindFrostWire();
    int FindImesh();
    int FindKazaa();
    int FindLimeWire();
    int FindMorpheus();
    int FindShareaza();
    int FindUTorrent();
    int FindWarez();
    int FindWinMx();

    // The stored choice under HKCU "SOFTWARE\Flowbright": "APP_NAME" and "APP_PATH". Reads give
    // an empty string on any failure.
    std::string ReadAppName();
    std::string ReadAppPath();
    // Stores "APP_NAME" and "APP_PATH" (REG_SZ with the terminating zero) together in one write
    // of the store, so that the name shown and the program Run starts never belong to two
    // different choices. Reports nothing.
    void WriteChoice(const std::string& name, const std::string& path);

    // Path slots: empty at construction, replaced whole by a probe that finds its client.
    std::string m_aresGalaxyPath;
    std::string m_azureusPath;
    std::string m_bearFlixPath;
    std::string m_bearSharePath;
    std::string m_bitCometPath;
    std::string m_bitTorrentPath;
    std::string m_dcPlusPlusPath;
    std::string m_emulePath;
    std::string m_edonkeyPath;
    std::string m_frostWirePath;
    std::string m_imeshPath;
    std::string m_kazaaPath;
    std::string m_limeWirePath;
    std::string m_morpheusPath;
    std::string m_shareazaPath;
    std::string m_uTorrentPath;
    std::string m_warezPath;
    std::string m_winMxPath;

private:
    // `fromPrefix`, when given, tells whether the value came from a Windows program's registry.
    std::string ReadChoice(const char* valueName, std::size_t bufferSize,
                           bool* fromPrefix = nullptr);

    IRegistry& m_registry;
};

} // namespace fb
