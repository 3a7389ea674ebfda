// SPDX-License-Identifier: GPL-3.0-or-later
#include "p2p/FindP2PDlg.h"

#include "fakes/FakeRegistry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

using fb::RegRoot;
using fb::fakes::FakeRegistry;

namespace {

constexpr RegRoot HKLM = RegRoot::LocalMachine;
constexpr RegRoot HKCU = RegRoot::CurrentUser;

// Reads a REGEDIT4 text file ([root\key], "name"="text", @="text") into the fake registry.
void LoadRegFile(const std::string& path, FakeRegistry& registry) {
    std::ifstream in(path);
    ASSERT_TRUE(in) << path;
    RegRoot root = HKCU;
    std::string key;
    std::string line;
    auto unquote = [](const std::string& text, std::size_t& at) {
        std::string out;
        for (++at; at < text.size() && text[at] != '"'; ++at) {
            if (text[at] == '\\' && at + 1 < text.size())
                ++at;
            out += text[at];
        }
        ++at;
        return out;
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == ';' || line == "REGEDIT4")
            continue;
        if (line[0] == '[') {
            const std::string full = line.substr(1, line.size() - 2);
            const auto slash = full.find('\\');
            root = full.substr(0, slash) == "HKEY_LOCAL_MACHINE" ? HKLM : HKCU;
            key = full.substr(slash + 1);
            registry.AddKey(root, key);
            continue;
        }
        std::size_t at = 0;
        std::string name;
        if (line[0] == '@')
            at = 1;
        else
            name = unquote(line, at);
        ASSERT_EQ(line.at(at), '=') << line;
        ++at;
        registry.SetString(root, key, name, unquote(line, at));
    }
}

std::string DataFile(const std::string& name) {
    return std::string(FB_P2P_DATA_DIR) + "/" + name;
}

const CFindP2PDlg::Client& ClientNamed(const std::string& name) {
    for (const auto& client : CFindP2PDlg::Clients()) {
        if (name == client.displayName)
            return client;
    }
    throw std::runtime_error("no client " + name);
}

// Runs one client's probe on a fresh object; the result and every slot afterwards.
struct ProbeOutcome {
    int result = -1;
    std::string path;
    std::vector<std::string> otherSlots;
};
ProbeOutcome RunProbe(FakeRegistry& registry, const std::string& name) {
    CFindP2PDlg find(registry);
    const auto& client = ClientNamed(name);
    ProbeOutcome outcome;
    outcome.result = (find.*client.probe)();
    outcome.path = find.*client.path;
    for (const auto& other : CFindP2PDlg::Clients()) {
        if (other.path != client.path && !(find.*other.path).empty())
            outcome.otherSlots.push_back(other.displayName);
    }
    return outcome;
}

// A registry that counts open keys and records the order of opens and reads, so that the
// probes' order of operations and the buffer they offer can be checked.
class RecordingRegistry : public fb::IRegistry {
public:
    explicit RecordingRegistry(fb::IRegistry& inner)
        : m_inner(inner) {}
    std::vector<std::string> log;
    std::vector<std::uint32_t> offeredSizes;
    int openKeys = 0;

    std::unique_ptr<fb::IRegKey> OpenKey(RegRoot root, const std::string& path, bool forWrite,
                                         long* error) override {
        log.push_back("open " + path);
        auto key = m_inner.OpenKey(root, path, forWrite, error);
        return key ? std::make_unique<Key>(*this, std::move(key)) : nullptr;
    }
    std::unique_ptr<fb::IRegKey> CreateKey(RegRoot root, const std::string& path,
                                           long* error) override {
        log.push_back("create " + path);
        auto key = m_inner.CreateKey(root, path, error);
        return key ? std::make_unique<Key>(*this, std::move(key)) : nullptr;
    }

private:
    class Key : public fb::IRegKey {
    public:
        Key(RecordingRegistry& owner, std::unique_ptr<fb::IRegKey> inner)
            : m_owner(owner)
            , m_inner(std::move(inner)) {
            ++m_owner.openKeys;
        }
        ~Key() override {
            --m_owner.openKeys;
            m_owner.log.push_back("close");
        }
        long QueryValue(const std::string& name, std::uint32_t* type, std::uint8_t* data,
                        std::uint32_t* size) override {
            m_owner.log.push_back("query " + name);
            m_owner.offeredSizes.push_back(size ? *size : 0);
            return m_inner->QueryValue(name, type, data, size);
        }
        long SetValue(const std::string& name, std::uint32_t type, const std::uint8_t* data,
                      std::uint32_t size) override {
            m_owner.log.push_back("set " + name);
            return m_inner->SetValue(name, type, data, size);
        }
        long SetValues(const std::vector<fb::RegValueWrite>& values) override {
            for (const auto& value : values)
                m_owner.log.push_back("set " + value.name);
            return m_inner->SetValues(values);
        }
        long DeleteValue(const std::string& name) override { return m_inner->DeleteValue(name); }

    private:
        RecordingRegistry& m_owner;
        std::unique_ptr<fb::IRegKey> m_inner;
    };

    fb::IRegistry& m_inner;
};

// Stores raw bytes with a given type, as another program might have written them.
void SetRaw(FakeRegistry& registry, RegRoot root, const std::string& key, const std::string& name,
            std::uint32_t type, const std::string& bytes) {
    auto handle = registry.CreateKey(root, key, nullptr);
    handle->SetValue(name, type, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                     static_cast<std::uint32_t>(bytes.size()));
}

const std::string kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

} // namespace

// ---------------------------------------------------------------------------------------------
// The table as a whole

TEST(P2PCatalogueTable, EighteenClientsInListOrderWithDistinctSlots) {
    std::vector<std::string> names;
    std::vector<std::string CFindP2PDlg::*> slots;
    for (const auto& client : CFindP2PDlg::Clients()) {
        names.push_back(client.displayName);
        EXPECT_EQ(std::count(slots.begin(), slots.end(), client.path), 0) << client.displayName;
        slots.push_back(client.path);
    }
    EXPECT_THAT(names, ::testing::ElementsAre("AresGalaxy", "Azureus", "BearFlix", "BearShare",
                                              "BitComet", "BitTorrent", "DC++", "Emule", "Edonkey",
                                              "FrostWire", "Imesh", "Kazaa", "LimeWire", "Morpheus",
                                              "Shareaza", "uTorrent", "Warez", "WinMx"));
}

TEST(P2PCatalogueTable, EmptyMachineFindsNothingAndLeavesEverySlotEmpty) {
    FakeRegistry registry;
    CFindP2PDlg find(registry);
    for (const auto& client : CFindP2PDlg::Clients()) {
        EXPECT_EQ((find.*client.probe)(), 0) << client.displayName;
        EXPECT_EQ(find.*client.path, "") << client.displayName;
    }
}

TEST(P2PCatalogueTable, EveryClientOfTheFixtureMachineIsFoundWithItsPath) {
    FakeRegistry registry;
    ASSERT_NO_FATAL_FAILURE(LoadRegFile(DataFile("all_clients.reg"), registry));
    CFindP2PDlg find(registry);
    std::vector<std::pair<std::string, std::string>> found;
    for (const auto& client : CFindP2PDlg::Clients()) {
        EXPECT_EQ((find.*client.probe)(), 1) << client.displayName;
        found.emplace_back(client.displayName, find.*client.path);
    }
    using P = std::pair<std::string, std::string>;
    EXPECT_THAT(found,
                ::testing::ElementsAre(
                    P{"AresGalaxy", "C:\\Program Files\\Ares\\Ares.exe"},
                    P{"Azureus", "C:\\Program Files\\Azureus\\Azureus.exe"},
                    P{"BearFlix", "C:\\Program Files\\BearFlix\\BearFlix.exe"},
                    P{"BearShare", "C:\\Program Files\\BearShare\\BearShare.exe"},
                    P{"BitComet", "C:\\Program Files\\BitComet\\BitComet.exe"},
                    P{"BitTorrent", "C:\\Program Files\\BitTorrent\\bittorrent.exe"},
                    P{"DC++", "C:\\Program Files\\DC++\\DCPlusPlus.exe"},
                    P{"Emule", "C:\\Program Files\\eMule\\eMule.exe"},
                    P{"Edonkey", "C:\\Program Files\\eDonkey2000\\eDonkey2000.exe"},
                    P{"FrostWire", "C:\\Program Files\\FrostWire\\FrostWire.exe"},
                    P{"Imesh", "C:\\Program Files\\iMesh Applications\\iMesh\\iMesh.exe"},
                    P{"Kazaa", "C:\\Program Files\\Kazaa\\Kazaa.exe"},
                    P{"LimeWire", "C:\\Program Files\\LimeWire\\LimeWire.exe"},
                    P{"Morpheus", "C:\\Program Files\\Morpheus\\morpheus.exe"},
                    P{"Shareaza", "C:\\Program Files\\Shareaza\\Shareaza.exe"},
                    P{"uTorrent", "C:\\Users\\user\\AppData\\Roaming\\uTorrent\\uTorrent.exe"},
                    P{"Warez", "C:\\Program Files\\Warez P2P Client\\warez.exe"},
                    P{"WinMx", "C:\\Program Files\\WinMX\\WinMX.exe"}));
}

TEST(P2PCatalogueTable, KeysUnderTheOtherRootAreNotDetected) {
    FakeRegistry registry;
    ASSERT_NO_FATAL_FAILURE(LoadRegFile(DataFile("decoys.reg"), registry));
    CFindP2PDlg find(registry);
    for (const auto& client : CFindP2PDlg::Clients()) {
        EXPECT_EQ((find.*client.probe)(), 0) << client.displayName;
        EXPECT_EQ(find.*client.path, "") << client.displayName;
    }
}

// ---------------------------------------------------------------------------------------------
// Each single location: found, value missing, and the 255/256-character limit

struct Location {
    std::string client;
    RegRoot root;
    std::string key;
    std::string value;
    std::string executable; // empty: the value is the path (after the row's own trimming)
    // Some alternatives are reached only when the earlier ones are absent; these are left out.
};

void PrintTo(const Location& at, std::ostream* out) {
    *out << at.client << " " << (at.root == HKLM ? "HKLM\\" : "HKCU\\") << at.key << " \""
         << at.value << "\"";
}

class P2PCatalogueLocation : public ::testing::TestWithParam<Location> {};

TEST_P(P2PCatalogueLocation, ValueIsFoundAndOnlyItsOwnSlotIsSet) {
    const Location& at = GetParam();
    FakeRegistry registry;
    // A folder with a file in it, so that every trimming rule has a backslash to cut at.
    registry.SetString(at.root, at.key, at.value, "C:\\Apps\\P2P Client\\setup.exe");
    const ProbeOutcome outcome = RunProbe(registry, at.client);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_FALSE(outcome.path.empty());
    if (!at.executable.empty()) {
        EXPECT_THAT(outcome.path, ::testing::EndsWith("\\" + at.executable));
    }
    EXPECT_THAT(outcome.otherSlots, ::testing::IsEmpty());
}

TEST_P(P2PCatalogueLocation, KeyWithoutTheValueIsNotFoundAndSlotKeepsItsText) {
    const Location& at = GetParam();
    FakeRegistry registry;
    registry.SetString(at.root, at.key, at.value + " (other)", "C:\\Apps\\x.exe");
    CFindP2PDlg find(registry);
    const auto& client = ClientNamed(at.client);
    find.*client.path = "earlier";
    EXPECT_EQ((find.*client.probe)(), 0);
    EXPECT_EQ(find.*client.path, "earlier");
}

TEST_P(P2PCatalogueLocation, ValueOf255CharactersFitsAnd256DoNot) {
    const Location& at = GetParam();
    const std::string head = "C:\\Apps\\";
    for (const auto& [length, expected] : {std::pair{255U, 1}, std::pair{256U, 0}}) {
        FakeRegistry registry;
        const std::string text = head + std::string(length - head.size() - 4, 'x') + "\\a\"b";
        ASSERT_EQ(text.size(), length);
        registry.SetString(at.root, at.key, at.value, text);
        EXPECT_EQ(RunProbe(registry, at.client).result, expected) << length;
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllLocations, P2PCatalogueLocation,
    ::testing::Values(
        Location{"AresGalaxy", HKLM, kUninstall + "Ares", "UninstallString", "Ares.exe"},
        Location{"AresGalaxy", HKLM, kUninstall + "Ares Galaxy Classic", "DisplayIcon", ""},
        Location{"Azureus", HKCU, "Software\\Azureus", "", "Azureus.exe"},
        Location{"BearFlix", HKLM, "Software\\BearFlix", "InstallDir", "BearFlix.exe"},
        Location{"BearShare", HKLM, "Software\\BearShare", "InstallDir", "BearShare.exe"},
        Location{"BearShare", HKCU, "Software\\BearShare\\General", "Home", "BearShare.exe"},
        Location{"BitComet", HKCU, "Software\\BitComet", "", "BitComet.exe"},
        Location{"BitTorrent", HKCU, kUninstall + "BitTorrent", "InstallLocation",
                 "bittorrent.exe"},
        Location{"DC++", HKLM, "SOFTWARE\\DC++", "Install_Dir", "DCPlusPlus.exe"},
        Location{"Emule", HKCU, "Software\\eMule", "Install Path", "eMule.exe"},
        Location{"Edonkey", HKLM, kUninstall + "eDonkey2000", "DisplayIcon", ""},
        Location{"FrostWire", HKLM, "SOFTWARE\\FrostWire", "", "FrostWire.exe"},
        Location{"Imesh", HKCU, "Software\\iMesh\\General", "Home", "iMesh.exe"},
        Location{"Kazaa", HKCU, "Software\\Kazaa\\Settings", "SearchDir", "Kazaa.exe"},
        Location{"LimeWire", HKLM, "Software\\LimeWire", "InstallDir", "LimeWire.exe"},
        Location{"Morpheus", HKLM, "Software\\Morpheus", "Install_Dir", "morpheus.exe"},
        Location{"Shareaza", HKCU, "Software\\Shareaza\\Shareaza", "Path", "Shareaza.exe"},
        Location{"uTorrent", HKCU, kUninstall + "uTorrent", "InstallLocation", "uTorrent.exe"},
        Location{"Warez", HKLM, kUninstall + "Warez P2P Client", "DisplayIcon", ""},
        Location{"Warez", HKLM, kUninstall + "Warez", "DisplayIcon", ""},
        Location{"WinMx", HKLM, kUninstall + "WinMX", "UninstallString", "WinMX.exe"},
        Location{"WinMx", HKLM, kUninstall + "WinMX MP3_is1", "InstallLocation", "WinMX MP3.exe"},
        Location{"WinMx", HKLM, "SOFTWARE\\WinMX Music", "InstallApp", "WinMX Music.exe"}),
    [](const ::testing::TestParamInfo<Location>& info) {
        std::string name = info.param.client + "_" + std::to_string(info.index);
        name.erase(std::remove_if(name.begin(), name.end(),
                                  [](char c) {
                                      return !std::isalnum(static_cast<unsigned char>(c)) &&
                                             c != '_';
                                  }),
                   name.end());
        return name;
    });

// ---------------------------------------------------------------------------------------------
// Trimming and alternatives, row by row

TEST(P2PCatalogueAres, QuotedUninstallerGivesItsFolderWithoutTheQuote) {
    FakeRegistry registry;
    registry.SetString(HKLM, kUninstall + "Ares", "UninstallString",
                       "\"C:\\Program Files\\Ares\\uninstall.exe\"");
    EXPECT_EQ(RunProbe(registry, "AresGalaxy").path, "C:\\Program Files\\Ares\\Ares.exe");
}

TEST(P2PCatalogueAres, UnquotedUninstallerKeepsItsDriveLetter) {
    FakeRegistry registry;
    registry.SetString(HKLM, kUninstall + "Ares", "UninstallString",
                       "C:\\Program Files\\Ares\\uninstall.exe");
    EXPECT_EQ(RunProbe(registry, "AresGalaxy").path, "C:\\Program Files\\Ares\\Ares.exe");
}

TEST(P2PCatalogueAres, ClassicEntryAloneGivesItsDisplayIconUnchanged) {
    FakeRegistry registry;
    registry.SetString(HKLM, kUninstall + "Ares Galaxy Classic", "DisplayIcon",
                       "C:\\Program Files\\Ares Galaxy\\AresGalaxy.exe,0");
    const auto outcome = RunProbe(registry, "AresGalaxy");
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.path, "C:\\Program Files\\Ares Galaxy\\AresGalaxy.exe,0");
}

TEST(P2PCatalogueAres, FirstAlternativeWinsWhenBothArePresent) {
    FakeRegistry registry;
    registry.SetString(HKLM, kUninstall + "Ares", "UninstallString", "\"C:\\A\\u.exe\"");
    registry.SetString(HKLM, kUninstall + "Ares Galaxy Classic", "DisplayIcon", "C:\\B\\b.exe");
    EXPECT_EQ(RunProbe(registry, "AresGalaxy").path, "C:\\A\\Ares.exe");
}

TEST(P2PCatalogueAres, UnreadableFirstAlternativeFallsBackToTheSecond) {
    FakeRegistry registry;
    registry.SetString(HKLM, kUninstall + "Ares", "UninstallString", std::string(300, 'x'));
    registry.SetString(HKLM, kUninstall + "Ares Galaxy Classic", "DisplayIcon", "C:\\B\\b.exe");
    EXPECT_EQ(RunProbe(registry, "AresGalaxy").path, "C:\\B\\b.exe");
}

TEST(P2PCatalogueAres, UninstallerWithoutBackslashGivesNoFolder) {
    FakeRegistry registry;
    registry.SetString(HKLM, kUninstall + "Ares", "UninstallString", "uninstall.exe");
    EXPECT_EQ(RunProbe(registry, "AresGalaxy").result, 0);
    registry.SetString(HKLM, kUninstall + "Ares Galaxy Classic", "DisplayIcon", "C:\\B\\b.exe");
    EXPECT_EQ(RunProbe(registry, "AresGalaxy").path, "C:\\B\\b.exe");
}

TEST(P2PCatalogueAres, QuoteRightBeforeTheCutLeavesAnEmptyFolder) {
    FakeRegistry registry;
    registry.SetString(HKLM, kUninstall + "Ares", "UninstallString", "\"\\u.exe\"");
    EXPECT_EQ(RunProbe(registry, "AresGalaxy").path, "\\Ares.exe");
}

TEST(P2PCatalogueEdonkey, QuotedDisplayIconLosesItsQuotes) {
    FakeRegistry registry;
    registry.SetString(HKLM, kUninstall + "eDonkey2000", "DisplayIcon",
                       "\"C:\\Program Files\\eDonkey2000\\eDonkey2000.exe\"");
    EXPECT_EQ(RunProbe(registry, "Edonkey").path,
              "C:\\Program Files\\eDonkey2000\\eDonkey2000.exe");
}

TEST(P2PCatalogueEdonkey, ShortValuesAreFoundWithAnEmptyPath) {
    for (const std::string value : {"\"", "", "\"\""}) {
        FakeRegistry registry;
        registry.SetString(HKLM, kUninstall + "eDonkey2000", "DisplayIcon", value);
        CFindP2PDlg find(registry);
        find.m_edonkeyPath = "earlier";
        EXPECT_EQ(find.FindEdonkey(), 1) << value;
        EXPECT_EQ(find.m_edonkeyPath, "") << value;
    }
}

TEST(P2PCatalogueEdonkey, OneCharacterThatIsNoQuoteIsKept) {
    FakeRegistry registry;
    registry.SetString(HKLM, kUninstall + "eDonkey2000", "DisplayIcon", "x");
    EXPECT_EQ(RunProbe(registry, "Edonkey").path, "x");
}

TEST(P2PCatalogueEdonkey, UnquotedDisplayIconIsKeptWhole) {
    FakeRegistry registry;
    registry.SetString(HKLM, kUninstall + "eDonkey2000", "DisplayIcon", "C:\\eD\\eDonkey2000.exe");
    EXPECT_EQ(RunProbe(registry, "Edonkey").path, "C:\\eD\\eDonkey2000.exe");
}

TEST(P2PCatalogueEdonkey, OnlyTheQuotesAtTheEndsAreRemoved) {
    FakeRegistry registry;
    registry.SetString(HKLM, kUninstall + "eDonkey2000", "DisplayIcon", "\"C:\\eD\\e.exe\",0");
    EXPECT_EQ(RunProbe(registry, "Edonkey").path, "C:\\eD\\e.exe\",0");
}

TEST(P2PCatalogueKazaa, SearchFolderInsideTheInstallationGivesTheInstallation) {
    FakeRegistry registry;
    registry.SetString(HKCU, "Software\\Kazaa\\Settings", "SearchDir",
                       "C:\\Program Files\\Kazaa\\My Shared Folder");
    EXPECT_EQ(RunProbe(registry, "Kazaa").path, "C:\\Program Files\\Kazaa\\Kazaa.exe");
}

TEST(P2PCatalogueKazaa, SearchFolderWithoutBackslashIsNotFound) {
    FakeRegistry registry;
    registry.SetString(HKCU, "Software\\Kazaa\\Settings", "SearchDir", "Shared");
    CFindP2PDlg find(registry);
    find.m_kazaaPath = "earlier";
    EXPECT_EQ(find.FindKazaa(), 0);
    EXPECT_EQ(find.m_kazaaPath, "earlier");
}

TEST(P2PCatalogueKazaa, BackslashAtTheStartLeavesAnEmptyFolder) {
    FakeRegistry registry;
    registry.SetString(HKCU, "Software\\Kazaa\\Settings", "SearchDir", "\\Shared");
    EXPECT_EQ(RunProbe(registry, "Kazaa").path, "\\Kazaa.exe");
}

TEST(P2PCatalogueBearShare, MachineEntryWinsOverUserEntry) {
    FakeRegistry registry;
    registry.SetString(HKLM, "Software\\BearShare", "InstallDir", "C:\\Machine");
    registry.SetString(HKCU, "Software\\BearShare\\General", "Home", "C:\\User");
    EXPECT_EQ(RunProbe(registry, "BearShare").path, "C:\\Machine\\BearShare.exe");
}

TEST(P2PCatalogueBearShare, UserEntryAloneIsFoundThroughHome) {
    FakeRegistry registry;
    registry.SetString(HKCU, "Software\\BearShare\\General", "Home", "C:\\User\\BearShare");
    EXPECT_EQ(RunProbe(registry, "BearShare").path, "C:\\User\\BearShare\\BearShare.exe");
}

TEST(P2PCatalogueBearShare, MachineKeyWithoutValueFallsBackToUserEntry) {
    FakeRegistry registry;
    registry.AddKey(HKLM, "Software\\BearShare");
    registry.SetString(HKCU, "Software\\BearShare\\General", "Home", "C:\\User");
    EXPECT_EQ(RunProbe(registry, "BearShare").path, "C:\\User\\BearShare.exe");
}

TEST(P2PCatalogueWarez, SecondKeyAloneIsFound) {
    FakeRegistry registry;
    registry.SetString(HKLM, kUninstall + "Warez", "DisplayIcon", "C:\\Warez\\warez.exe");
    EXPECT_EQ(RunProbe(registry, "Warez").path, "C:\\Warez\\warez.exe");
}

TEST(P2PCatalogueWarez, FirstKeyWinsOverSecond) {
    FakeRegistry registry;
    registry.SetString(HKLM, kUninstall + "Warez P2P Client", "DisplayIcon", "C:\\One\\w.exe");
    registry.SetString(HKLM, kUninstall + "Warez", "DisplayIcon", "C:\\Two\\w.exe");
    EXPECT_EQ(RunProbe(registry, "Warez").path, "C:\\One\\w.exe");
}

TEST(P2PCatalogueWinMx, FirstEntryWinsOverTheMp3Entry) {
    FakeRegistry registry;
    registry.SetString(HKLM, kUninstall + "WinMX", "UninstallString",
                       "C:\\Program Files\\WinMX\\uninstall.exe");
    registry.SetString(HKLM, kUninstall + "WinMX MP3_is1", "InstallLocation",
                       "C:\\Program Files\\WinMX MP3\\");
    EXPECT_EQ(RunProbe(registry, "WinMx").path, "C:\\Program Files\\WinMX\\WinMX.exe");
}

TEST(P2PCatalogueWinMx, Mp3EntryCutsItsTrailingBackslash) {
    FakeRegistry registry;
    registry.SetString(HKLM, kUninstall + "WinMX MP3_is1", "InstallLocation",
                       "C:\\Program Files\\WinMX MP3\\");
    EXPECT_EQ(RunProbe(registry, "WinMx").path, "C:\\Program Files\\WinMX MP3\\WinMX MP3.exe");
}

TEST(P2PCatalogueWinMx, MusicEntryAloneIsUsedWithoutCut) {
    FakeRegistry registry;
    registry.SetString(HKLM, "SOFTWARE\\WinMX Music", "InstallApp",
                       "C:\\Program Files\\WinMX Music");
    EXPECT_EQ(RunProbe(registry, "WinMx").path, "C:\\Program Files\\WinMX Music\\WinMX Music.exe");
}

TEST(P2PCatalogueWinMx, EntriesWithoutBackslashFallThroughToTheNextAlternative) {
    FakeRegistry registry;
    registry.SetString(HKLM, kUninstall + "WinMX", "UninstallString", "uninstall.exe");
    registry.SetString(HKLM, kUninstall + "WinMX MP3_is1", "InstallLocation", "WinMX MP3");
    EXPECT_EQ(RunProbe(registry, "WinMx").result, 0);
    registry.SetString(HKLM, "SOFTWARE\\WinMX Music", "InstallApp", "Music");
    EXPECT_EQ(RunProbe(registry, "WinMx").path, "Music\\WinMX Music.exe");
}

// ---------------------------------------------------------------------------------------------
// Reading values

TEST(P2PCatalogueRead, AllKeysOfARowAreOpenedBeforeAnyValueAndAllAreClosed) {
    FakeRegistry inner;
    inner.SetString(HKLM, kUninstall + "WinMX", "UninstallString", "C:\\WinMX\\u.exe");
    inner.AddKey(HKLM, kUninstall + "WinMX MP3_is1");
    inner.AddKey(HKLM, "SOFTWARE\\WinMX Music");
    RecordingRegistry registry(inner);
    CFindP2PDlg find(registry);
    EXPECT_EQ(find.FindWinMx(), 1);
    EXPECT_THAT(registry.log,
                ::testing::ElementsAre("open " + kUninstall + "WinMX",
                                       "open " + kUninstall + "WinMX MP3_is1",
                                       "open SOFTWARE\\WinMX Music", "query UninstallString",
                                       "close", "close", "close"));
    EXPECT_EQ(registry.openKeys, 0);
    EXPECT_THAT(registry.offeredSizes, ::testing::ElementsAre(256U));
}

TEST(P2PCatalogueRead, KeysAreClosedWhenNothingIsFound) {
    FakeRegistry inner;
    inner.AddKey(HKLM, kUninstall + "Ares");
    inner.AddKey(HKLM, kUninstall + "Ares Galaxy Classic");
    inner.AddKey(HKCU, "Software\\eMule");
    RecordingRegistry registry(inner);
    CFindP2PDlg find(registry);
    EXPECT_EQ(find.FindAresGalaxy(), 0);
    EXPECT_EQ(find.FindEmule(), 0);
    EXPECT_EQ(registry.openKeys, 0);
    EXPECT_THAT(registry.offeredSizes, ::testing::Each(256U));
}

TEST(P2PCatalogueRead, TypeOfTheValueIsNotLookedAt) {
    FakeRegistry registry;
    SetRaw(registry, HKCU, "Software\\eMule", "Install Path", fb::reg::kExpandSz,
           std::string("C:\\eMule\0", 9));
    EXPECT_EQ(RunProbe(registry, "Emule").path, "C:\\eMule\\eMule.exe");
}

TEST(P2PCatalogueRead, ValueWithoutTerminatingZeroTakesOnlyItsOwnBytes) {
    FakeRegistry registry;
    // The earlier alternative fills the buffer with a long text and is then rejected (no
    // backslash); the later one must not pick up its tail.
    SetRaw(registry, HKLM, kUninstall + "WinMX", "UninstallString", fb::reg::kSz,
           std::string(200, 'y') + '\0');
    SetRaw(registry, HKLM, "SOFTWARE\\WinMX Music", "InstallApp", fb::reg::kBinary, "C:\\M");
    EXPECT_EQ(RunProbe(registry, "WinMx").path, "C:\\M\\WinMX Music.exe");
}

TEST(P2PCatalogueRead, Value256BytesWithoutTerminatorIsReadWhole) {
    FakeRegistry registry;
    const std::string text = "C:\\" + std::string(253, 'z');
    SetRaw(registry, HKCU, "Software\\eMule", "Install Path", fb::reg::kBinary, text);
    EXPECT_EQ(RunProbe(registry, "Emule").path, text + "\\eMule.exe");
}

TEST(P2PCatalogueRead, FoundSlotIsReplacedWhole) {
    FakeRegistry registry;
    registry.SetString(HKCU, "Software\\eMule", "Install Path", "C:\\e");
    CFindP2PDlg find(registry);
    find.m_emulePath = std::string(500, 'q');
    EXPECT_EQ(find.FindEmule(), 1);
    EXPECT_EQ(find.m_emulePath, "C:\\e\\eMule.exe");
}

TEST(P2PCatalogueRead, RegistryThatCannotOpenKeysFindsNothing) {
    FakeRegistry registry;
    ASSERT_NO_FATAL_FAILURE(LoadRegFile(DataFile("all_clients.reg"), registry));
    registry.failOpen = true;
    CFindP2PDlg find(registry);
    for (const auto& client : CFindP2PDlg::Clients())
        EXPECT_EQ((find.*client.probe)(), 0) << client.displayName;
}

// ---------------------------------------------------------------------------------------------
// The stored choice

TEST(P2PStoredChoice, MissingKeyReadsEmptyAndFirstWriteCreatesIt) {
    FakeRegistry registry;
    CFindP2PDlg find(registry);
    EXPECT_EQ(find.ReadAppName(), "");
    EXPECT_EQ(find.ReadAppPath(), "");
    EXPECT_FALSE(registry.HasKey(HKCU, "SOFTWARE\\Flowbright"));
    find.WriteAppName("Emule");
    EXPECT_TRUE(registry.HasKey(HKCU, "SOFTWARE\\Flowbright"));
    EXPECT_EQ(find.ReadAppName(), "Emule");
    EXPECT_EQ(find.ReadAppPath(), "");
}

TEST(P2PStoredChoice, ValuesAreStringsWithTheirTerminatingZero) {
    FakeRegistry registry;
    CFindP2PDlg find(registry);
    find.WriteAppName("Emule");
    find.WriteAppPath("C:\\e\\eMule.exe");
    const auto* name = registry.Find(HKCU, "SOFTWARE\\Flowbright", "APP_NAME");
    const auto* path = registry.Find(HKCU, "SOFTWARE\\Flowbright", "APP_PATH");
    ASSERT_NE(name, nullptr);
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(name->type, fb::reg::kSz);
    EXPECT_EQ(std::string(name->data.begin(), name->data.end()), std::string("Emule\0", 6));
    EXPECT_EQ(path->type, fb::reg::kSz);
    EXPECT_EQ(path->data.size(), 15U);
    EXPECT_EQ(path->data.back(), 0);
}

TEST(P2PStoredChoice, EmptyStringRoundTripsAsOneZeroByte) {
    FakeRegistry registry;
    CFindP2PDlg find(registry);
    find.WriteAppName("Emule");
    find.WriteAppName("");
    find.WriteAppPath("");
    const auto* name = registry.Find(HKCU, "SOFTWARE\\Flowbright", "APP_NAME");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->type, fb::reg::kSz);
    EXPECT_EQ(name->data, std::vector<std::uint8_t>{0});
    EXPECT_EQ(find.ReadAppName(), "");
    EXPECT_EQ(find.ReadAppPath(), "");
}

TEST(P2PStoredChoice, NameOf49CharactersReadsBackAnd50ReadsEmpty) {
    FakeRegistry registry;
    CFindP2PDlg find(registry);
    find.WriteAppName(std::string(49, 'n'));
    EXPECT_EQ(find.ReadAppName(), std::string(49, 'n'));
    find.WriteAppName(std::string(50, 'n'));
    EXPECT_EQ(find.ReadAppName(), "");
    // The value itself is kept whole; only this read cannot take it.
    EXPECT_EQ(registry.GetString(HKCU, "SOFTWARE\\Flowbright", "APP_NAME"), std::string(50, 'n'));
}

TEST(P2PStoredChoice, PathOf999CharactersReadsBackAnd1000ReadsEmpty) {
    FakeRegistry registry;
    CFindP2PDlg find(registry);
    find.WriteAppPath(std::string(999, 'p'));
    EXPECT_EQ(find.ReadAppPath(), std::string(999, 'p'));
    find.WriteAppPath(std::string(1000, 'p'));
    EXPECT_EQ(find.ReadAppPath(), "");
}

TEST(P2PStoredChoice, ReadsOfferTheirBufferSizesAndCloseTheKey) {
    FakeRegistry inner;
    RecordingRegistry registry(inner);
    CFindP2PDlg find(registry);
    find.WriteAppName("a");
    find.WriteAppPath("b");
    EXPECT_EQ(find.ReadAppName(), "a");
    EXPECT_EQ(find.ReadAppPath(), "b");
    EXPECT_THAT(registry.offeredSizes, ::testing::ElementsAre(50U, 1000U));
    EXPECT_EQ(registry.openKeys, 0);
    EXPECT_THAT(registry.log, ::testing::Contains("create SOFTWARE\\Flowbright").Times(2));
}

TEST(P2PStoredChoice, NumberValueReadsAsItsBytesUpToTheFirstZero) {
    FakeRegistry registry;
    registry.SetDword(HKCU, "SOFTWARE\\Flowbright", "APP_NAME", 0x00434241); // "ABC\0"
    CFindP2PDlg find(registry);
    EXPECT_EQ(find.ReadAppName(), "ABC");
}

TEST(P2PStoredChoice, FailedWritesKeepTheOldValuesAndReportNothing) {
    FakeRegistry registry;
    CFindP2PDlg find(registry);
    find.WriteAppName("Emule");
    registry.failSet = true;
    find.WriteAppName("Kazaa");
    registry.failSet = false;
    registry.failCreate = true;
    find.WriteAppName("Kazaa");
    EXPECT_EQ(find.ReadAppName(), "Emule");
}

TEST(P2PStoredChoice, UnreadableKeyReadsEmpty) {
    FakeRegistry registry;
    CFindP2PDlg find(registry);
    find.WriteAppName("Emule");
    registry.failOpen = true;
    EXPECT_EQ(find.ReadAppName(), "");
}
