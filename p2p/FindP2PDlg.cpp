// SPDX-License-Identifier: GPL-3.0-or-later
#include "p2p/FindP2PDlg.h"

#include "res/Product.h"

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

namespace fb {

namespace {

// How a probe turns the value it read into a path.
enum class Trim {
    None,                    // the value whole
    CutAtLastBackslash,      // up to (not including) the last backslash
    CutThenDropOpeningQuote, // as above, then without the quotation mark it starts with
    DropQuotes,              // without the quotation marks around it
};

// One registry location where a client's installer leaves its folder or program.
struct Alternative {
    RegRoot root;
    const char* key;
    const char* valueName; // empty: the key's default value
    Trim trim;
    const char* executable; // appended after a backslash; null: the trimmed value whole
};

const std::string kOptionKey(product::kOptionKey);

constexpr RegRoot HKLM = RegRoot::LocalMachine;
constexpr RegRoot HKCU = RegRoot::CurrentUser;

constexpr Alternative kAresGalaxy[] = {
    {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ares", "UninstallString",
     Trim::CutThenDropOpeningQuote, "Ares.exe"},
    {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ares Galaxy Classic",
     "DisplayIcon", Trim::None, nullptr},
};
constexpr Alternative kAzureus[] = {{HKCU, "Software\\Azureus", "", Trim::None, "Azureus.exe"}};
constexpr Alternative kBearFlix[] = {
    {HKLM, "Software\\BearFlix", "InstallDir", Trim::None, "BearFlix.exe"}};
constexpr Alternative kBearShare[] = {
    {HKLM, "Software\\BearShare", "InstallDir", Trim::None, "BearShare.exe"},
    {HKCU, "Software\\BearShare\\General", "Home", Trim::None, "BearShare.exe"},
};
constexpr Alternative kBitComet[] = {{HKCU, "Software\\BitComet", "", Trim::None, "BitComet.exe"}};
constexpr Alternative kBitTorrent[] = {
    {HKCU, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\BitTorrent", "InstallLocation",
     Trim::None, "bittorrent.exe"}};
constexpr Alternative kDCPlusPlus[] = {
    {HKLM, "SOFTWARE\\DC++", "Install_Dir", Trim::None, "DCPlusPlus.exe"}};
constexpr Alternative kEmule[] = {
    {HKCU, "Software\\eMule", "Install Path", Trim::None, "eMule.exe"}};
constexpr Alternative kEdonkey[] = {
    {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\eDonkey2000", "DisplayIcon",
     Trim::DropQuotes, nullptr}};
constexpr Alternative kFrostWire[] = {
    {HKLM, "SOFTWARE\\FrostWire", "", Trim::None, "FrostWire.exe"}};
constexpr Alternative kImesh[] = {
    {HKCU, "Software\\iMesh\\General", "Home", Trim::None, "iMesh.exe"}};
constexpr Alternative kKazaa[] = {
    {HKCU, "Software\\Kazaa\\Settings", "SearchDir", Trim::CutAtLastBackslash, "Kazaa.exe"}};
constexpr Alternative kLimeWire[] = {
    {HKLM, "Software\\LimeWire", "InstallDir", Trim::None, "LimeWire.exe"}};
constexpr Alternative kMorpheus[] = {
    {HKLM, "Software\\Morpheus", "Install_Dir", Trim::None, "morpheus.exe"}};
constexpr Alternative kShareaza[] = {
    {HKCU, "Software\\Shareaza\\Shareaza", "Path", Trim::None, "Shareaza.exe"}};
constexpr Alternative kUTorrent[] = {
    {HKCU, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\uTorrent", "InstallLocation",
     Trim::None, "uTorrent.exe"}};
constexpr Alternative kWarez[] = {
    {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Warez P2P Client",
     "DisplayIcon", Trim::None, nullptr},
    {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Warez", "DisplayIcon",
     Trim::None, nullptr},
};
constexpr Alternative kWinMx[] = {
    {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\WinMX", "UninstallString",
     Trim::CutAtLastBackslash, "WinMX.exe"},
    {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\WinMX MP3_is1",
     "InstallLocation", Trim::CutAtLastBackslash, "WinMX MP3.exe"},
    {HKLM, "SOFTWARE\\WinMX Music", "InstallApp", Trim::None, "WinMX Music.exe"},
};

constexpr std::array<CFindP2PDlg::Client, CFindP2PDlg::kClientCount> kClients = {{
    {"AresGalaxy", &CFindP2PDlg::FindAresGalaxy, &CFindP2PDlg::m_aresGalaxyPath},
    {"Azureus", &CFindP2PDlg::FindAzureus, &CFindP2PDlg::m_azureusPath},
    {"BearFlix", &CFindP2PDlg::FindBearFlix, &CFindP2PDlg::m_bearFlixPath},
    {"BearShare", &CFindP2PDlg::FindBearShare, &CFindP2PDlg::m_bearSharePath},
    {"BitComet", &CFindP2PDlg::FindBitComet, &CFindP2PDlg::m_bitCometPath},
    {"BitTorrent", &CFindP2PDlg::FindBitTorrent, &CFindP2PDlg::m_bitTorrentPath},
    {"DC++", &CFindP2PDlg::FindDCPlusPlus, &CFindP2PDlg::m_dcPlusPlusPath},
    {"Emule", &CFindP2PDlg::FindEmule, &CFindP2PDlg::m_emulePath},
    {"Edonkey", &CFindP2PDlg::FindEdonkey, &CFindP2PDlg::m_edonkeyPath},
    {"FrostWire", &CFindP2PDlg::FindFrostWire, &CFindP2PDlg::m_frostWirePath},
    {"Imesh", &CFindP2PDlg::FindImesh, &CFindP2PDlg::m_imeshPath},
    {"Kazaa", &CFindP2PDlg::FindKazaa, &CFindP2PDlg::m_kazaaPath},
    {"LimeWire", &CFindP2PDlg::FindLimeWire, &CFindP2PDlg::m_limeWirePath},
    {"Morpheus", &CFindP2PDlg::FindMorpheus, &CFindP2PDlg::m_morpheusPath},
    {"Shareaza", &CFindP2PDlg::FindShareaza, &CFindP2PDlg::m_shareazaPath},
    {"uTorrent", &CFindP2PDlg::FindUTorrent, &CFindP2PDlg::m_uTorrentPath},
    {"Warez", &CFindP2PDlg::FindWarez, &CFindP2PDlg::m_warezPath},
    {"WinMx", &CFindP2PDlg::FindWinMx, &CFindP2PDlg::m_winMxPath},
}};

// The text in the first `size` bytes of a value buffer, up to its first zero byte.
std::string BufferText(const std::uint8_t* data, std::size_t size) {
    const auto* end = std::find(data, data + size, std::uint8_t{0});
    return std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(end - data));
}

// A Windows path with a drive letter ("C:\..."). A value read from a Windows program's registry
// (the Wine prefix) names a client only when it is one: such a path is checked through the
// prefix's drives and started with Wine, never natively.
bool IsWindowsPath(std::string_view path) {
    return path.size() >= 3 &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
           path[1] == ':' && path[2] == '\\';
}

// Applies a trimming rule. Cutting a value that holds no backslash gives no path (false): no
// folder can be derived from it. The quotation marks of a quoted command or icon path are
// removed; an unquoted value keeps its first and last characters, so that its drive letter and
// extension survive.
bool ApplyTrim(Trim trim, std::string& text) {
    switch (trim) {
    case Trim::None:
        return true;
    case Trim::CutAtLastBackslash:
    case Trim::CutThenDropOpeningQuote: {
        const auto cut = text.rfind('\\');
        if (cut == std::string::npos)
            return false;
        text.resize(cut);
        if (trim == Trim::CutThenDropOpeningQuote && !text.empty() && text.front() == '"')
            text.erase(0, 1);
        return true;
    }
    case Trim::DropQuotes:
        if (!text.empty() && text.front() == '"')
            text.erase(0, 1);
        if (!text.empty() && text.back() == '"')
            text.pop_back();
        return true;
    }
    return false;
}

// Reads a client's locations in order; the first that gives a path fills `slot` (1). Leaves the
// slot alone when none does (0).
int Probe(IRegistry& registry, std::span<const Alternative> alternatives, std::string& slot) {
    // Every key of the row is opened before any value is read; each closes with its owner.
    std::vector<std::unique_ptr<IRegKey>> keys;
    keys.reserve(alternatives.size());
    bool anyOpened = false;
    for (const auto& alternative : alternatives) {
        keys.push_back(registry.OpenKey(alternative.root, alternative.key, false));
        anyOpened = anyOpened || keys.back() != nullptr;
    }
    if (!anyOpened)
        return 0;

    std::array<std::uint8_t, CFindP2PDlg::kValueBufferSize> buffer{};
    for (std::size_t i = 0; i < alternatives.size(); ++i) {
        if (!keys[i])
            continue;
        auto size = static_cast<std::uint32_t>(buffer.size());
        if (keys[i]->QueryValue(alternatives[i].valueName, nullptr, buffer.data(), &size) !=
            reg::kSuccess)
            continue;
        std::string text = BufferText(buffer.data(), std::min<std::size_t>(size, buffer.size()));
        if (!ApplyTrim(alternatives[i].trim, text))
            continue;
        if (alternatives[i].executable != nullptr) {
            text += '\\';
            text += alternatives[i].executable;
        }
        if (keys[i]->FromWindowsPrefix(alternatives[i].valueName) && !IsWindowsPath(text))
            continue; // a Windows program's entry that names no Windows file: not installed
        slot = std::move(text);
        return 1;
    }
    return 0;
}

} // namespace

std::span<const CFindP2PDlg::Client, CFindP2PDlg::kClientCount> CFindP2PDlg::Clients() {
    return kClients;
}

CFindP2PDlg::CFindP2PDlg(IRegistry& registry)
    : m_registry(registry) {}

int CFindP2PDlg::FindAresGalaxy() {
    return Probe(m_registry, kAresGalaxy, m_aresGalaxyPath);
}
int CFindP2PDlg::FindAzureus() {
    return Probe(m_registry, kAzureus, m_azureusPath);
}
int CFindP2PDlg::FindBearFlix() {
    return Probe(m_registry, kBearFlix, m_bearFlixPath);
}
int CFindP2PDlg::FindBearShare() {
    return Probe(m_registry, kBearShare, m_bearSharePath);
}
int CFindP2PDlg::FindBitComet() {
    return Probe(m_registry, kBitComet, m_bitCometPath);
}
int CFindP2PDlg::FindBitTorrent() {
    return Probe(m_registry, kBitTorrent, m_bitTorrentPath);
}
int CFindP2PDlg::FindDCPlusPlus() {
    return Probe(m_registry, kDCPlusPlus, m_dcPlusPlusPath);
}
int CFindP2PDlg::FindEmule() {
    return Probe(m_registry, kEmule, m_emulePath);
}
int CFindP2PDlg::FindEdonkey() {
    return Probe(m_registry, kEdonkey, m_edonkeyPath);
}
int CFindP2PDlg::FindFrostWire() {
    return Probe(m_registry, kFrostWire, m_frostWirePath);
}
int CFindP2PDlg::FindImesh() {
    return Probe(m_registry, kImesh, m_imeshPath);
}
int CFindP2PDlg::FindKazaa() {
    return Probe(m_registry, kKazaa, m_kazaaPath);
}
int CFindP2PDlg::FindLimeWire() {
    return Probe(m_registry, kLimeWire, m_limeWirePath);
}
int CFindP2PDlg::FindMorpheus() {
    return Probe(m_registry, kMorpheus, m_morpheusPath);
}
int CFindP2PDlg::FindShareaza() {
    return Probe(m_registry, kShareaza, m_shareazaPath);
}
int CFindP2PDlg::FindUTorrent() {
    return Probe(m_registry, kUTorrent, m_uTorrentPath);
}
int CFindP2PDlg::FindWarez() {
    return Probe(m_registry, kWarez, m_warezPath);
}
int CFindP2PDlg::FindWinMx() {
    return Probe(m_registry, kWinMx, m_winMxPath);
}

std::string CFindP2PDlg::ReadChoice(const char* valueName, std::size_t bufferSize,
                                    bool* fromPrefix) {
    auto key = m_registry.OpenKey(HKCU, kOptionKey, false);
    if (!key)
        return {};
    std::vector<std::uint8_t> buffer(bufferSize, 0);
    auto size = static_cast<std::uint32_t>(buffer.size());
    if (key->QueryValue(valueName, nullptr, buffer.data(), &size) != reg::kSuccess)
        return {};
    const std::string text = BufferText(buffer.data(), std::min<std::size_t>(size, buffer.size()));
    if (fromPrefix != nullptr)
        *fromPrefix = key->FromWindowsPrefix(valueName);
    return text;
}

std::string CFindP2PDlg::ReadAppName() {
    return ReadChoice("APP_NAME", kAppNameBufferSize);
}
std::string CFindP2PDlg::ReadAppPath() {
    bool fromPrefix = false;
    std::string path = ReadChoice("APP_PATH", kAppPathBufferSize, &fromPrefix);
    // Only the program's own store may name a program to start natively.
    if (fromPrefix && !IsWindowsPath(path))
        return {};
    return path;
}

void CFindP2PDlg::WriteChoice(const std::string& name, const std::string& path) {
    auto key = m_registry.CreateKey(HKCU, kOptionKey);
    if (!key)
        return;
    const auto sz = [](const std::string& text) {
        std::vector<std::uint8_t> data(text.begin(), text.end());
        data.push_back(0);
        return data;
    };
    key->SetValues({{"APP_NAME", reg::kSz, sz(name)}, {"APP_PATH", reg::kSz, sz(path)}});
}

} // namespace fb
