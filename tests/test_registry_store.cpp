// SPDX-License-Identifier: GPL-3.0-or-later
// The registry store on files: our own HKCU file, the Wine prefix beneath it, and the ways a
// write can fail.

#include "platform/linux/registry/Registry.h"
#include "platform/linux/registry/RegistryFiles.h"
#include "platform/linux/registry/RegistryText.h"

#include "support/RegistryPaths.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

using namespace fb;
using namespace fb::linux_impl;
using namespace fb::testing_support;

namespace {

const std::string kOptionKey = "SOFTWARE\\Flowbright";

std::string SourceFile(const std::string& name) {
    return SourcePath("tests/data/registry/" + name);
}

// Replaces a file the way Wine does: a new file renamed over the old one.
void ReplaceFile(const std::string& path, const std::string& text) {
    WriteFile(path + ".new", text);
    std::filesystem::rename(path + ".new", path);
}

std::vector<std::uint8_t> Sz(const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

class RegistryStore : public ::testing::Test {
protected:
    FileRegistry::Paths MakePaths() const { return RegistryPathsBelow(m_dir.Path()); }
    std::unique_ptr<FileRegistry> MakeRegistry(std::shared_ptr<FileOps> ops = nullptr) {
        return std::make_unique<FileRegistry>(MakePaths(), std::move(ops));
    }

    long SetString(IRegistry& registry, RegRoot root, const std::string& path,
                   const std::string& name, const std::string& text) {
        long error = -1;
        auto key = registry.CreateKey(root, path, &error);
        if (!key)
            return error;
        const auto bytes = Sz(text);
        return key->SetValue(name, reg::kSz, bytes.data(),
                             static_cast<std::uint32_t>(bytes.size()));
    }
    // The value's text, "<missing>" when the key or the value is not there.
    std::string GetString(IRegistry& registry, RegRoot root, const std::string& path,
                          const std::string& name) {
        auto key = registry.OpenKey(root, path, false);
        if (!key)
            return "<missing>";
        std::uint8_t buffer[1000] = {};
        std::uint32_t size = sizeof buffer;
        if (key->QueryValue(name, nullptr, buffer, &size) != reg::kSuccess)
            return "<missing>";
        return std::string(reinterpret_cast<const char*>(buffer),
                           strnlen(reinterpret_cast<const char*>(buffer), size));
    }
    void InstallWine(const std::string& user, const std::string& system) {
        if (!user.empty())
            WriteFile(MakePaths().winePrefix + "/user.reg", ReadFile(SourceFile(user)));
        if (!system.empty())
            WriteFile(MakePaths().winePrefix + "/system.reg", ReadFile(SourceFile(system)));
    }
    // DC++ stands in both views of the 64-bit prefix, Ares in its 32-bit view only: what the
    // machine root shows of them tells which view is read first.
    void ExpectDcAndAres(IRegistry& registry, const std::string& dcFolder,
                         const std::string& aresUninstaller) {
        EXPECT_EQ(GetString(registry, RegRoot::LocalMachine, "SOFTWARE\\DC++", "Install_Dir"),
                  dcFolder);
        EXPECT_EQ(GetString(registry, RegRoot::LocalMachine,
                            "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ares",
                            "UninstallString"),
                  aresUninstaller);
    }

    TempDir m_dir{"registry"};
};

// A write whose n-th step fails: 0 open of the temporary file, 1 write, 2 fsync, 3 close,
// 4 rename, 5 open of the directory, 6 fsync of the directory.
class FailingOps : public FileOps {
public:
    int failStep = -1;
    int failErrno = EIO;
    bool shortWrites = false;

    int Open(const std::string& path, int flags, mode_t mode) override {
        const bool directory = (flags & O_DIRECTORY) != 0;
        if (Fails(directory ? 5 : 0))
            return -1;
        return FileOps::Open(path, flags, mode);
    }
    ssize_t Write(int fd, const void* data, std::size_t size) override {
        if (Fails(1))
            return -1;
        return FileOps::Write(fd, data, shortWrites ? std::min<std::size_t>(size, 7) : size);
    }
    int Fsync(int fd) override {
        struct stat info {};
        ::fstat(fd, &info);
        if (Fails(S_ISDIR(info.st_mode) ? 6 : 2))
            return -1;
        return FileOps::Fsync(fd);
    }
    int Close(int fd) override {
        struct stat info {};
        ::fstat(fd, &info);
        const int result = FileOps::Close(fd);
        if (!S_ISDIR(info.st_mode) && Fails(3))
            return -1;
        return result;
    }
    int Rename(const std::string& from, const std::string& to) override {
        if (Fails(4))
            return -1;
        return FileOps::Rename(from, to);
    }

private:
    bool Fails(int step) {
        if (step != failStep)
            return false;
        errno = failErrno;
        return true;
    }
};

// A write that kills its own process at the n-th step (a crash or a power cut at that moment).
class CrashingOps : public FileOps {
public:
    explicit CrashingOps(int step)
        : m_step(step) {}
    int Open(const std::string& path, int flags, mode_t mode) override {
        Maybe(0);
        return FileOps::Open(path, flags, mode);
    }
    ssize_t Write(int fd, const void* data, std::size_t size) override {
        Maybe(1);
        // Half of the data, then the crash.
        const ssize_t wrote = FileOps::Write(fd, data, std::max<std::size_t>(size / 2, 1));
        Maybe(2);
        return wrote;
    }
    int Fsync(int fd) override {
        Maybe(3);
        return FileOps::Fsync(fd);
    }
    int Rename(const std::string& from, const std::string& to) override {
        Maybe(4);
        const int result = FileOps::Rename(from, to);
        Maybe(5);
        return result;
    }

private:
    void Maybe(int step) {
        if (step == m_step)
            ::kill(::getpid(), SIGKILL);
    }
    int m_step;
};

} // namespace

// ---- Keys and values -----------------------------------------------------------------------

TEST_F(RegistryStore, MissingKeysAndValuesAreReportedAsSuch) {
    auto registry = MakeRegistry();
    long error = -1;
    EXPECT_EQ(registry->OpenKey(RegRoot::CurrentUser, kOptionKey, false, &error), nullptr);
    EXPECT_EQ(error, reg::kFileNotFound);
    EXPECT_EQ(registry->OpenKey(RegRoot::LocalMachine, "Software\\Nothing", false, &error),
              nullptr);
    EXPECT_EQ(error, reg::kFileNotFound);

    auto key = registry->CreateKey(RegRoot::CurrentUser, kOptionKey, &error);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(error, reg::kSuccess);
    std::uint32_t size = 4;
    std::uint8_t buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(key->QueryValue("Network", nullptr, buffer, &size), reg::kFileNotFound);
    EXPECT_EQ(buffer[0], 1); // the caller's default stays
    EXPECT_EQ(key->DeleteValue("Network"), reg::kFileNotFound);

    // The created key exists for everyone from now on, including a second copy of the program.
    EXPECT_NE(registry->OpenKey(RegRoot::CurrentUser, "software\\flowbright", false), nullptr);
    EXPECT_NE(MakeRegistry()->OpenKey(RegRoot::CurrentUser, kOptionKey, false), nullptr);
    EXPECT_NE(ReadFile(MakePaths().store).find("[SOFTWARE\\\\Flowbright]"), std::string::npos);
}

TEST_F(RegistryStore, StringsKeepTheirTerminatingZeroThroughTheFile) {
    auto registry = MakeRegistry();
    auto key = registry->CreateKey(RegRoot::CurrentUser, kOptionKey);
    ASSERT_NE(key, nullptr);
    const std::string name = "eMule";
    ASSERT_EQ(key->SetValue("APP_NAME", reg::kSz,
                            reinterpret_cast<const std::uint8_t*>(name.c_str()),
                            static_cast<std::uint32_t>(name.size() + 1)),
              reg::kSuccess);
    ASSERT_EQ(key->SetValue("Empty", reg::kSz, reinterpret_cast<const std::uint8_t*>(""), 1),
              reg::kSuccess);
    EXPECT_NE(ReadFile(MakePaths().store).find("\"APP_NAME\"=\"eMule\"\n"), std::string::npos);

    // Read back by a fresh object, as the next run of the program would.
    auto again = MakeRegistry()->OpenKey(RegRoot::CurrentUser, kOptionKey, false);
    ASSERT_NE(again, nullptr);
    std::uint8_t buffer[50];
    std::memset(buffer, 0xcc, sizeof buffer);
    std::uint32_t size = sizeof buffer;
    std::uint32_t type = 0;
    ASSERT_EQ(again->QueryValue("app_name", &type, buffer, &size), reg::kSuccess);
    EXPECT_EQ(type, reg::kSz);
    ASSERT_EQ(size, 6U);
    EXPECT_EQ(std::memcmp(buffer, "eMule\0", 6), 0);
    EXPECT_EQ(buffer[6], 0xcc); // nothing written past the value
    size = sizeof buffer;
    ASSERT_EQ(again->QueryValue("EMPTY", &type, buffer, &size), reg::kSuccess);
    EXPECT_EQ(size, 1U);
    EXPECT_EQ(buffer[0], 0);
}

TEST_F(RegistryStore, DwordsAndOtherTypesRoundTripThroughTheFile) {
    auto registry = MakeRegistry();
    auto key = registry->CreateKey(RegRoot::CurrentUser, kOptionKey);
    ASSERT_NE(key, nullptr);
    const std::int32_t minusFive = -5;
    ASSERT_EQ(key->SetValue("CheckPeriodNum", reg::kDword,
                            reinterpret_cast<const std::uint8_t*>(&minusFive), 4),
              reg::kSuccess);
    const std::uint8_t odd[] = {0, 1, 2, 0xff, 0x80};
    ASSERT_EQ(key->SetValue("Odd", 0x1234, odd, sizeof odd), reg::kSuccess);
    ASSERT_EQ(key->SetValue("Nothing", reg::kBinary, nullptr, 0), reg::kSuccess);
    EXPECT_EQ(key->SetValue("Bad", reg::kBinary, nullptr, 4), reg::kWriteFault);
    EXPECT_NE(ReadFile(MakePaths().store).find("\"CheckPeriodNum\"=dword:fffffffb\n"),
              std::string::npos);

    auto again = MakeRegistry()->OpenKey(RegRoot::CurrentUser, kOptionKey, true);
    ASSERT_NE(again, nullptr);
    std::int32_t number = 12;
    std::uint32_t size = 4;
    ASSERT_EQ(again->QueryValue("CheckPeriodNum", nullptr, reinterpret_cast<std::uint8_t*>(&number),
                                &size),
              reg::kSuccess);
    EXPECT_EQ(number, -5);
    std::uint8_t buffer[16] = {};
    std::uint32_t type = 0;
    size = sizeof buffer;
    ASSERT_EQ(again->QueryValue("odd", &type, buffer, &size), reg::kSuccess);
    EXPECT_EQ(type, 0x1234U);
    ASSERT_EQ(size, sizeof odd);
    EXPECT_EQ(std::memcmp(buffer, odd, sizeof odd), 0);
    size = sizeof buffer;
    EXPECT_EQ(again->QueryValue("Nothing", &type, buffer, &size), reg::kSuccess);
    EXPECT_EQ(size, 0U);
    EXPECT_EQ(again->QueryValue("Bad", &type, buffer, &size), reg::kFileNotFound);
}

TEST_F(RegistryStore, TooSmallBufferGivesMoreDataAndTheSizeNeeded) {
    auto registry = MakeRegistry();
    const std::string fifty(49, 'n'); // 50 bytes with its zero
    ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "APP_NAME", fifty),
              reg::kSuccess);
    auto key = registry->OpenKey(RegRoot::CurrentUser, kOptionKey, false);
    ASSERT_NE(key, nullptr);

    std::uint8_t buffer[64];
    std::memset(buffer, 0, sizeof buffer);
    std::uint32_t size = 49;
    std::uint32_t type = 0;
    EXPECT_EQ(key->QueryValue("APP_NAME", &type, buffer, &size), reg::kMoreData);
    EXPECT_EQ(size, 50U);
    EXPECT_EQ(type, reg::kSz);
    EXPECT_EQ(buffer[0], 0); // nothing written

    size = 50;
    EXPECT_EQ(key->QueryValue("APP_NAME", nullptr, buffer, &size), reg::kSuccess);
    EXPECT_EQ(size, 50U);
    EXPECT_EQ(buffer[48], 'n');
    EXPECT_EQ(buffer[49], 0);

    size = 0;
    EXPECT_EQ(key->QueryValue("APP_NAME", nullptr, nullptr, &size), reg::kSuccess);
    EXPECT_EQ(size, 50U); // the size alone
    EXPECT_EQ(key->QueryValue("APP_NAME", nullptr, nullptr, nullptr), reg::kSuccess);
    EXPECT_EQ(key->QueryValue("APP_NAME", nullptr, buffer, nullptr), reg::kMoreData);
}

TEST_F(RegistryStore, NamesAreCaseInsensitiveAndKeepTheFirstSpelling) {
    auto registry = MakeRegistry();
    ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, "Software\\MixedCase", "ValueName", "1"),
              reg::kSuccess);
    ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, "SOFTWARE\\MIXEDCASE", "VALUENAME", "2"),
              reg::kSuccess);
    EXPECT_EQ(GetString(*registry, RegRoot::CurrentUser, "software\\mixedcase", "valuename"), "2");
    const std::string text = ReadFile(MakePaths().store);
    EXPECT_NE(text.find("[Software\\\\MixedCase]"), std::string::npos) << text;
    EXPECT_NE(text.find("\"ValueName\"=\"2\""), std::string::npos) << text;
    EXPECT_EQ(text.find("MIXEDCASE"), std::string::npos) << text;

    // Non-ASCII names and texts are kept as UTF-8, readable in the file.
    ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, "Software\\Caf\xC3\xA9",
                        "Gr\xC3\xBC\xC3\x9F", "\xE2\x82\xAC"),
              reg::kSuccess);
    EXPECT_EQ(
        GetString(*registry, RegRoot::CurrentUser, "SOFTWARE\\CAF\xC3\x89", "GR\xC3\x9C\xC3\x9F"),
        "\xE2\x82\xAC");
    EXPECT_NE(ReadFile(MakePaths().store).find("\"Gr\xC3\xBC\xC3\x9F\"=\"\xE2\x82\xAC\""),
              std::string::npos);
}

TEST_F(RegistryStore, NewStoreIsPrivateAndSymlinkedStoreStaysALink) {
    auto registry = MakeRegistry();
    ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "A", "1"), reg::kSuccess);
    struct stat info {};
    ASSERT_EQ(::stat(MakePaths().store.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600U);
    ASSERT_EQ(::stat(DirectoryOf(MakePaths().store).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700U);

    // A store kept elsewhere (a dotfiles checkout) and linked in: the link survives writes.
    const std::string elsewhere = m_dir.File("dotfiles/registry.reg");
    WriteFile(elsewhere, ReadFile(MakePaths().store));
    std::filesystem::remove(MakePaths().store);
    std::filesystem::create_symlink(elsewhere, MakePaths().store);
    ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "B", "2"), reg::kSuccess);
    EXPECT_TRUE(std::filesystem::is_symlink(MakePaths().store));
    EXPECT_NE(ReadFile(elsewhere).find("\"B\"=\"2\""), std::string::npos);
    EXPECT_EQ(GetString(*registry, RegRoot::CurrentUser, kOptionKey, "A"), "1");
}

// ---- The Wine prefix beneath ---------------------------------------------------------------

TEST_F(RegistryStore, WineValuesShowThroughAndOursWin) {
    InstallWine("user.reg", "system64.reg");
    const std::string userBefore = ReadFile(MakePaths().winePrefix + "/user.reg");
    auto registry = MakeRegistry();

    // Present only in Wine's hive: the key opens and the value reads.
    EXPECT_EQ(GetString(*registry, RegRoot::CurrentUser, "Software\\eMule", "Install Path"),
              "C:\\Program Files\\eMule");
    EXPECT_EQ(GetString(*registry, RegRoot::CurrentUser, "SOFTWARE\\AZUREUS", ""),
              "C:\\Program Files\\Azureus");
    EXPECT_NE(registry->OpenKey(RegRoot::CurrentUser, "Software\\Microsoft", false), nullptr);

    // Ours over Wine's, value by value.
    ASSERT_EQ(
        SetString(*registry, RegRoot::CurrentUser, "Software\\eMule", "Install Path", "/opt/emule"),
        reg::kSuccess);
    EXPECT_EQ(GetString(*registry, RegRoot::CurrentUser, "Software\\eMule", "Install Path"),
              "/opt/emule");
    auto key = registry->OpenKey(RegRoot::CurrentUser, "Software\\eMule", true);
    ASSERT_NE(key, nullptr);
    std::uint32_t language = 0;
    std::uint32_t size = 4;
    EXPECT_EQ(
        key->QueryValue("Language", nullptr, reinterpret_cast<std::uint8_t*>(&language), &size),
        reg::kSuccess);
    EXPECT_EQ(language, 0x409U);

    // Deleting ours uncovers Wine's; Wine's own cannot be deleted.
    EXPECT_EQ(key->DeleteValue("install path"), reg::kSuccess);
    EXPECT_EQ(GetString(*registry, RegRoot::CurrentUser, "Software\\eMule", "Install Path"),
              "C:\\Program Files\\eMule");
    EXPECT_EQ(key->DeleteValue("Install Path"), reg::kAccessDenied);
    EXPECT_EQ(key->DeleteValue("No Such Value"), reg::kFileNotFound);

    EXPECT_EQ(ReadFile(MakePaths().winePrefix + "/user.reg"), userBefore); // never written
}

TEST_F(RegistryStore, MachineKeysAreReadOnly) {
    InstallWine("", "system64.reg");
    const std::string systemBefore = ReadFile(MakePaths().winePrefix + "/system.reg");
    auto registry = MakeRegistry();
    long error = -1;
    EXPECT_EQ(registry->CreateKey(RegRoot::LocalMachine, "Software\\LimeWire", &error), nullptr);
    EXPECT_EQ(error, reg::kAccessDenied);
    EXPECT_EQ(registry->CreateKey(RegRoot::LocalMachine, "Software\\New", &error), nullptr);
    EXPECT_EQ(error, reg::kAccessDenied);
    EXPECT_EQ(registry->OpenKey(RegRoot::LocalMachine, "Software\\LimeWire", true, &error),
              nullptr);
    EXPECT_EQ(error, reg::kAccessDenied);
    EXPECT_EQ(registry->OpenKey(RegRoot::LocalMachine, "Software\\Missing", true, &error), nullptr);
    EXPECT_EQ(error, reg::kFileNotFound);

    auto key = registry->OpenKey(RegRoot::LocalMachine, "software\\limewire", false, &error);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(GetString(*registry, RegRoot::LocalMachine, "Software\\LimeWire", "InstallDir"),
              "C:\\Program Files\\LimeWire");
    const std::uint8_t one[] = {1, 0, 0, 0};
    EXPECT_EQ(key->SetValue("InstallDir", reg::kDword, one, 4), reg::kAccessDenied);
    EXPECT_EQ(key->DeleteValue("InstallDir"), reg::kAccessDenied);
    // HKCU keys opened for reading refuse writes too.
    ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "A", "1"), reg::kSuccess);
    auto readOnly = registry->OpenKey(RegRoot::CurrentUser, kOptionKey, false);
    ASSERT_NE(readOnly, nullptr);
    EXPECT_EQ(readOnly->SetValue("A", reg::kDword, one, 4), reg::kAccessDenied);
    EXPECT_EQ(readOnly->DeleteValue("A"), reg::kAccessDenied);

    EXPECT_EQ(ReadFile(MakePaths().winePrefix + "/system.reg"), systemBefore);
    EXPECT_EQ(ReadFile(MakePaths().store).find("LimeWire"), std::string::npos);
}

TEST_F(RegistryStore, SixtyFourBitPrefixShowsThirtyTwoBitViewFirst) {
    InstallWine("", "system64.reg");
    auto registry = MakeRegistry();
    // DC++ in both views: the 32-bit one; Ares, only in the 32-bit view.
    ExpectDcAndAres(*registry, "C:\\Program Files (x86)\\DC++",
                    "\"C:\\Program Files (x86)\\Ares\\uninstall.exe\"");
    // Only in the 64-bit view.
    EXPECT_EQ(GetString(*registry, RegRoot::LocalMachine, "Software\\LimeWire", "InstallDir"),
              "C:\\Program Files\\LimeWire");
    // Asked for explicitly.
    EXPECT_EQ(
        GetString(*registry, RegRoot::LocalMachine, "Software\\Wow6432Node\\DC++", "Install_Dir"),
        "C:\\Program Files (x86)\\DC++");
}

TEST_F(RegistryStore, ThirtyTwoBitPrefixHasNoSecondView) {
    InstallWine("", "system32.reg");
    auto registry = MakeRegistry();
    ExpectDcAndAres(*registry, "C:\\Program Files\\DC++ (64-bit)", "<missing>");
}

TEST_F(RegistryStore, WineHivesAreReadFreshAfterWineReplacesThem) {
    InstallWine("", "system64.reg");
    auto registry = MakeRegistry();
    EXPECT_EQ(GetString(*registry, RegRoot::LocalMachine, "Software\\LimeWire", "InstallDir"),
              "C:\\Program Files\\LimeWire");
    const std::string path = MakePaths().winePrefix + "/system.reg";
    std::string text = ReadFile(path);
    // Same size, other content: found by the new inode.
    const std::string from = "C:\\\\Program Files\\\\LimeWire";
    text.replace(text.find(from), from.size(), "D:\\\\Program Files\\\\LimeWire");
    ReplaceFile(path, text);
    EXPECT_EQ(GetString(*registry, RegRoot::LocalMachine, "Software\\LimeWire", "InstallDir"),
              "D:\\Program Files\\LimeWire");
    std::filesystem::remove(path);
    EXPECT_EQ(GetString(*registry, RegRoot::LocalMachine, "Software\\LimeWire", "InstallDir"),
              "<missing>");
    // An open handle follows too.
    InstallWine("", "system64.reg");
    auto key = registry->OpenKey(RegRoot::LocalMachine, "Software\\LimeWire", false);
    ASSERT_NE(key, nullptr);
    ReplaceFile(path, "WINE REGISTRY Version 2\n");
    EXPECT_EQ(key->QueryValue("InstallDir", nullptr, nullptr, nullptr), reg::kFileNotFound);
}

TEST_F(RegistryStore, HostileWineHivesDoNotStopTheProgram) {
    auto registry = MakeRegistry();
    WriteFile(MakePaths().winePrefix + "/user.reg", ReadFile(SourceFile("hostile.reg")));
    EXPECT_EQ(GetString(*registry, RegRoot::CurrentUser, "Software\\Good", "Before"), "kept");

    // Not a registry at all.
    ReplaceFile(MakePaths().winePrefix + "/user.reg", std::string("\x7f"
                                                                  "ELF\0\0\0garbage",
                                                                  13));
    EXPECT_EQ(registry->OpenKey(RegRoot::CurrentUser, "Software\\Good", false), nullptr);

    // A directory or a FIFO where the hive should be.
    std::filesystem::remove(MakePaths().winePrefix + "/user.reg");
    std::filesystem::create_directory(MakePaths().winePrefix + "/user.reg");
    ASSERT_EQ(::mkfifo((MakePaths().winePrefix + "/system.reg").c_str(), 0600), 0);
    EXPECT_EQ(registry->OpenKey(RegRoot::CurrentUser, "Software\\Good", false), nullptr);
    EXPECT_EQ(registry->OpenKey(RegRoot::LocalMachine, "Software", false), nullptr);
    ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "A", "1"), reg::kSuccess);

    // A ten-megabyte value.
    std::filesystem::remove(MakePaths().winePrefix + "/system.reg");
    std::string big = "WINE REGISTRY Version 2\n[Software\\\\Big] 1\n\"Huge\"=\"";
    big.append(10u << 20, 'x');
    big += "\"\n[Software\\\\LimeWire] 1\n\"InstallDir\"=\"C:\\\\LW\"\n";
    WriteFile(MakePaths().winePrefix + "/system.reg", big);
    EXPECT_EQ(GetString(*registry, RegRoot::LocalMachine, "Software\\LimeWire", "InstallDir"),
              "C:\\LW");
    auto key = registry->OpenKey(RegRoot::LocalMachine, "Software\\Big", false);
    ASSERT_NE(key, nullptr);
    std::uint8_t buffer[256];
    std::uint32_t size = sizeof buffer;
    EXPECT_EQ(key->QueryValue("Huge", nullptr, buffer, &size), reg::kMoreData);
    EXPECT_EQ(size, (10u << 20) + 1);
}

// ---- Damaged stores --------------------------------------------------------------------------

TEST_F(RegistryStore, DamagedStoreIsSetAsideAndTheProgramRunsOnDefaults) {
    const std::string damaged =
        "WINE REGISTRY Version 2\n[SOFTWARE\\\\Flowbright] 1\n\"Network\"=dwo";
    WriteFile(MakePaths().store, damaged);
    auto registry = MakeRegistry();
    EXPECT_EQ(GetString(*registry, RegRoot::CurrentUser, kOptionKey, "Network"), "<missing>");

    const std::string dir = DirectoryOf(MakePaths().store);
    auto entries = Entries(dir);
    std::vector<std::string> aside;
    for (const auto& name : entries)
        if (name.rfind("registry.reg.corrupt-", 0) == 0)
            aside.push_back(name);
    ASSERT_EQ(aside.size(), 1U);
    EXPECT_EQ(ReadFile(dir + "/" + aside[0]), damaged);
    EXPECT_FALSE(std::filesystem::exists(MakePaths().store));

    // Writing starts a new store; a second damaged store is set aside beside the first.
    ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "APP_NAME", "Emule"),
              reg::kSuccess);
    EXPECT_EQ(GetString(*registry, RegRoot::CurrentUser, kOptionKey, "APP_NAME"), "Emule");
    WriteFile(MakePaths().store, "not a registry\n");
    ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "APP_PATH", "/x"),
              reg::kSuccess);
    EXPECT_EQ(GetString(*registry, RegRoot::CurrentUser, kOptionKey, "APP_NAME"), "<missing>");
    aside.clear();
    for (const auto& name : Entries(dir))
        if (name.rfind("registry.reg.corrupt-", 0) == 0)
            aside.push_back(name);
    ASSERT_EQ(aside.size(), 2U);
    EXPECT_EQ(ReadFile(dir + "/" + aside[0]), damaged);
    EXPECT_EQ(ReadFile(dir + "/" + aside[1]), "not a registry\n");
}

TEST_F(RegistryStore, StoreThatCannotBeSetAsideIsNeverOverwritten) {
    WriteFile(MakePaths().store, "garbage\n");
    auto registry = MakeRegistry();
    const std::string dir = DirectoryOf(MakePaths().store);
    // Something that is not a regular file cannot be parsed nor replaced.
    std::filesystem::remove(MakePaths().store);
    ASSERT_EQ(::mkfifo(MakePaths().store.c_str(), 0600), 0);
    EXPECT_EQ(GetString(*registry, RegRoot::CurrentUser, kOptionKey, "A"), "<missing>");
    EXPECT_NE(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "A", "1"), reg::kSuccess);
    struct stat info {};
    ASSERT_EQ(::lstat(MakePaths().store.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

// ---- Failing and crashing writes -------------------------------------------------------------

TEST_F(RegistryStore, FailureAtEachStepBeforeTheRenameKeepsTheOldFileWhole) {
    auto ops = std::make_shared<FailingOps>();
    auto registry = MakeRegistry(ops);
    ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "APP_NAME", "old"),
              reg::kSuccess);
    const std::string before = ReadFile(MakePaths().store);
    const std::string dir = DirectoryOf(MakePaths().store);
    const auto entriesBefore = Entries(dir);
    for (int step = 0; step <= 4; ++step) {
        ops->failStep = step;
        ops->failErrno = step == 0 ? EACCES : EIO;
        const long result =
            SetString(*registry, RegRoot::CurrentUser, kOptionKey, "APP_NAME", "new");
        EXPECT_EQ(result, step == 0 ? reg::kAccessDenied : reg::kWriteFault) << "step " << step;
        EXPECT_EQ(ReadFile(MakePaths().store), before) << "step " << step;
        EXPECT_EQ(Entries(dir), entriesBefore) << "step " << step; // no temporary left
        EXPECT_EQ(GetString(*registry, RegRoot::CurrentUser, kOptionKey, "APP_NAME"), "old");
    }
    // After the rename the change has happened; a failing directory flush cannot undo it.
    for (int step = 5; step <= 6; ++step) {
        ops->failStep = step;
        const std::string text = "new" + std::to_string(step);
        EXPECT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "APP_NAME", text),
                  reg::kSuccess);
        EXPECT_EQ(GetString(*registry, RegRoot::CurrentUser, kOptionKey, "APP_NAME"), text);
    }
    // Short writes are carried on to the end.
    ops->failStep = -1;
    ops->shortWrites = true;
    const std::string longText(3000, 'L');
    EXPECT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "APP_PATH", longText),
              reg::kSuccess);
    EXPECT_EQ(GetString(*registry, RegRoot::CurrentUser, kOptionKey, "APP_PATH"),
              "<missing>"); // longer than GetString's buffer
    auto key = registry->OpenKey(RegRoot::CurrentUser, kOptionKey, false);
    std::uint32_t size = 0;
    ASSERT_EQ(key->QueryValue("APP_PATH", nullptr, nullptr, &size), reg::kSuccess);
    EXPECT_EQ(size, 3001U);
}

TEST_F(RegistryStore, CrashAtAnyMomentLeavesTheOldOrTheNewFileWhole) {
    {
        auto registry = MakeRegistry();
        ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "APP_PATH",
                            std::string(5000, 'o')),
                  reg::kSuccess);
    }
    for (int step = 0; step <= 5; ++step) {
        const std::string before = ReadFile(MakePaths().store);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            FileRegistry registry(MakePaths(), std::make_shared<CrashingOps>(step));
            auto key = registry.CreateKey(RegRoot::CurrentUser, kOptionKey);
            const std::string text(6000, 'n');
            key->SetValue("APP_PATH", reg::kSz, reinterpret_cast<const std::uint8_t*>(text.c_str()),
                          static_cast<std::uint32_t>(text.size() + 1));
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "step " << step;

        const std::string after = ReadFile(MakePaths().store);
        RegHive hive;
        ASSERT_FALSE(ParseRegistryText(after, hive, RegParseMode::Strict)) << "step " << step;
        const RegValue* value = hive.FindKey(kOptionKey)->Find("APP_PATH");
        ASSERT_NE(value, nullptr);
        if (step < 5) {
            EXPECT_TRUE(after == before) << "step " << step; // byte for byte
        } else {
            EXPECT_EQ(value->data.size(), 6001U) << "step " << step;
        }
        // The next run works normally, and the crash's leftovers do not disturb it.
        auto registry = MakeRegistry();
        const std::string text = "after crash " + std::to_string(step);
        EXPECT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "APP_NAME", text),
                  reg::kSuccess);
        EXPECT_EQ(GetString(*registry, RegRoot::CurrentUser, kOptionKey, "APP_NAME"), text);
        ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "APP_PATH",
                            std::string(5000, 'o')),
                  reg::kSuccess);
        ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "APP_NAME", ""),
                  reg::kSuccess);
        ASSERT_EQ(
            registry->OpenKey(RegRoot::CurrentUser, kOptionKey, true)->DeleteValue("APP_NAME"),
            reg::kSuccess);
        EXPECT_EQ(Entries(DirectoryOf(MakePaths().store)),
                  (std::set<std::string>{"registry.reg", "registry.reg.lock"}));
    }
}

TEST_F(RegistryStore, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kWrites = 150;
    const auto writer = [&](const char* prefix) {
        FileRegistry registry(MakePaths());
        for (int i = 0; i < kWrites; ++i) {
            auto key = registry.CreateKey(RegRoot::CurrentUser, kOptionKey);
            if (!key)
                ::_exit(2);
            const std::string name = std::string(prefix) + std::to_string(i);
            const std::uint32_t number = static_cast<std::uint32_t>(i);
            if (key->SetValue(name, reg::kDword, reinterpret_cast<const std::uint8_t*>(&number),
                              4) != reg::kSuccess)
                ::_exit(3);
            // The shared value: each sees the other's last write, and so never loses its own.
            const std::string last = std::string(prefix) + std::to_string(i);
            if (key->SetValue("Last", reg::kSz, reinterpret_cast<const std::uint8_t*>(last.c_str()),
                              static_cast<std::uint32_t>(last.size() + 1)) != reg::kSuccess)
                ::_exit(4);
        }
        ::_exit(0);
    };
    const pid_t first = ::fork();
    ASSERT_GE(first, 0);
    if (first == 0)
        writer("a");
    const pid_t second = ::fork();
    ASSERT_GE(second, 0);
    if (second == 0)
        writer("b");
    for (pid_t child : {first, second}) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    auto registry = MakeRegistry();
    auto key = registry->OpenKey(RegRoot::CurrentUser, kOptionKey, false);
    ASSERT_NE(key, nullptr);
    int found = 0;
    for (const char* prefix : {"a", "b"}) {
        for (int i = 0; i < kWrites; ++i) {
            std::uint32_t number = 0xffffffff;
            std::uint32_t size = 4;
            if (key->QueryValue(prefix + std::to_string(i), nullptr,
                                reinterpret_cast<std::uint8_t*>(&number), &size) == reg::kSuccess &&
                number == static_cast<std::uint32_t>(i))
                ++found;
        }
    }
    EXPECT_EQ(found, 2 * kWrites);
    const std::string last = GetString(*registry, RegRoot::CurrentUser, kOptionKey, "Last");
    EXPECT_TRUE(last == "a" + std::to_string(kWrites - 1) ||
                last == "b" + std::to_string(kWrites - 1))
        << last;
    // Nothing left behind but the store and its lock.
    EXPECT_EQ(Entries(DirectoryOf(MakePaths().store)),
              (std::set<std::string>{"registry.reg", "registry.reg.lock"}));
}

TEST_F(RegistryStore, EachCopySeesTheOthersLastWrite) {
    auto first = MakeRegistry();
    auto second = MakeRegistry();
    auto key = first->CreateKey(RegRoot::CurrentUser, kOptionKey);
    ASSERT_NE(key, nullptr);
    for (int i = 0; i < 20; ++i) {
        const std::string text = "value " + std::to_string(i % 2); // same size each time
        ASSERT_EQ(
            SetString(i % 2 ? *first : *second, RegRoot::CurrentUser, kOptionKey, "Shared", text),
            reg::kSuccess);
        EXPECT_EQ(GetString(*first, RegRoot::CurrentUser, kOptionKey, "Shared"), text);
        EXPECT_EQ(GetString(*second, RegRoot::CurrentUser, kOptionKey, "Shared"), text);
    }
}

TEST_F(RegistryStore, ThreadsShareOneRegistry) {
    InstallWine("", "system64.reg");
    auto registry = MakeRegistry();
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                if (t == 0) {
                    ReplaceFile(MakePaths().winePrefix + "/system.reg." + std::to_string(i),
                                ReadFile(SourceFile("system64.reg")));
                    std::filesystem::rename(MakePaths().winePrefix + "/system.reg." +
                                                std::to_string(i),
                                            MakePaths().winePrefix + "/system.reg");
                } else if (GetString(*registry, RegRoot::LocalMachine, "Software\\LimeWire",
                                     "InstallDir") != "C:\\Program Files\\LimeWire") {
                    ++failures;
                }
                if (t == 1 && SetString(*registry, RegRoot::CurrentUser, kOptionKey,
                                        "N" + std::to_string(i), "x") != reg::kSuccess)
                    ++failures;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(GetString(*registry, RegRoot::CurrentUser, kOptionKey, "N39"), "x");
}

// ---- One change, one write -------------------------------------------------------------------

// Counts the stores written (each ends in one rename).
class CountingOps : public FailingOps {
public:
    int renames = 0;
    int Rename(const std::string& from, const std::string& to) override {
        ++renames;
        return FailingOps::Rename(from, to);
    }
};

TEST_F(RegistryStore, SetValuesWritesAllValuesInOneChangeOrNone) {
    auto ops = std::make_shared<CountingOps>();
    auto registry = MakeRegistry(ops);
    auto key = registry->CreateKey(RegRoot::CurrentUser, kOptionKey);
    ASSERT_NE(key, nullptr);
    ops->renames = 0;
    ASSERT_EQ(key->SetValues({{"APP_NAME", reg::kSz, Sz("Emule")},
                              {"APP_PATH", reg::kSz, Sz("C:\\eMule\\emule.exe")}}),
              reg::kSuccess);
    EXPECT_EQ(ops->renames, 1);
    auto other = MakeRegistry();
    EXPECT_EQ(GetString(*other, RegRoot::CurrentUser, kOptionKey, "APP_NAME"), "Emule");
    EXPECT_EQ(GetString(*other, RegRoot::CurrentUser, kOptionKey, "APP_PATH"),
              "C:\\eMule\\emule.exe");

    // A write that fails stores neither value.
    ops->failStep = 4;
    EXPECT_EQ(key->SetValues({{"APP_NAME", reg::kSz, Sz("Shareaza")},
                              {"APP_PATH", reg::kSz, Sz("C:\\Shareaza\\shareaza.exe")}}),
              reg::kWriteFault);
    EXPECT_EQ(GetString(*other, RegRoot::CurrentUser, kOptionKey, "APP_NAME"), "Emule");
    EXPECT_EQ(GetString(*other, RegRoot::CurrentUser, kOptionKey, "APP_PATH"),
              "C:\\eMule\\emule.exe");
}

// ---- A lock held by another process ----------------------------------------------------------

// Another process holding the store's lock (a copy stopped in the middle of a save) until
// Release(), or for at most `seconds`.
class LockHolder {
public:
    LockHolder(const std::string& lockPath, int seconds) {
        std::filesystem::create_directories(DirectoryOf(lockPath));
        int ready[2];
        int release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0)
            throw std::runtime_error("pipe");
        m_pid = ::fork();
        if (m_pid < 0)
            throw std::runtime_error("fork");
        if (m_pid == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT, 0600);
            if (fd < 0 || ::flock(fd, LOCK_EX) != 0)
                ::_exit(1);
            [[maybe_unused]] auto wrote = ::write(ready[1], "L", 1);
            pollfd wait{release[0], POLLIN, 0};
            ::poll(&wait, 1, seconds * 1000);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        m_release = release[1];
        char byte = 0;
        const bool locked = ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        if (!locked)
            throw std::runtime_error("the lock could not be taken");
    }
    ~LockHolder() { Release(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    void Release() {
        if (m_pid <= 0)
            return;
        ::close(m_release);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    int m_release = -1;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST_F(RegistryStore, LockHeldElsewhereKeepsTheChangeUntilTheNextSave) {
    auto registry = MakeRegistry();
    ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "Old", "1"), reg::kSuccess);
    const std::string before = ReadFile(MakePaths().store);
    {
        LockHolder holder(MakePaths().lock, 6);
        ::testing::internal::CaptureStderr();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "A", "2"), reg::kSuccess);
        EXPECT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "B", "3"), reg::kSuccess);
        EXPECT_LT(SecondsSince(start), 3.0);
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("registry.reg is locked by another process"), std::string::npos);
        EXPECT_EQ(said.find('\n'), said.size() - 1) << said; // said once
        // This process sees its changes; the file is untouched until the lock is free.
        EXPECT_EQ(GetString(*registry, RegRoot::CurrentUser, kOptionKey, "A"), "2");
        EXPECT_EQ(GetString(*registry, RegRoot::CurrentUser, kOptionKey, "B"), "3");
        EXPECT_EQ(ReadFile(MakePaths().store), before);
    }
    ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "C", "4"), reg::kSuccess);
    auto other = MakeRegistry();
    for (const auto& [name, text] : {std::pair{"Old", "1"}, {"A", "2"}, {"B", "3"}, {"C", "4"}})
        EXPECT_EQ(GetString(*other, RegRoot::CurrentUser, kOptionKey, name), text) << name;
}

TEST_F(RegistryStore, ChangesPendingAtExitAreSavedOrReported) {
    {
        auto registry = MakeRegistry();
        LockHolder holder(MakePaths().lock, 6);
        ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "Saved", "1"),
                  reg::kSuccess);
        holder.Release();
    } // the exit writes it
    EXPECT_EQ(GetString(*MakeRegistry(), RegRoot::CurrentUser, kOptionKey, "Saved"), "1");

    LockHolder holder(MakePaths().lock, 6);
    auto registry = MakeRegistry();
    ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "Lost", "2"), reg::kSuccess);
    ::testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    registry.reset();
    EXPECT_LT(SecondsSince(start), 2.0);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("1 unsaved change(s) are lost"),
              std::string::npos);
}

TEST_F(RegistryStore, StartUpEntryWaitsBoundedlyForTheLockToo) {
    const std::string runKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    const std::string entry = MakePaths().autostartDir + "/Flowbright.desktop";
    auto registry = MakeRegistry();
    {
        LockHolder holder(MakePaths().lock, 6);
        ::testing::internal::CaptureStderr();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(SetString(*registry, RegRoot::CurrentUser, runKey, "Flowbright",
                            "\"/opt/fb/Flowbright.lnk\" -tray"),
                  reg::kSuccess);
        EXPECT_LT(SecondsSince(start), 3.0);
        ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(GetString(*registry, RegRoot::CurrentUser, runKey, "Flowbright"),
                  "\"/opt/fb/Flowbright.lnk\" -tray");
        EXPECT_FALSE(std::filesystem::exists(entry));
    }
    ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "A", "1"), reg::kSuccess);
    EXPECT_NE(ReadFile(entry).find("Exec=/opt/fb/Flowbright.lnk -tray"), std::string::npos);
}

// ---- Reading a large store -------------------------------------------------------------------

// The store is parsed once and reused (its cost is measured by the registry benchmark); what
// the reuse must never do is hide another copy's write.
TEST_F(RegistryStore, ReusedStoreStillSeesAnotherCopysWrite) {
    std::string text = "WINE REGISTRY Version 2\n";
    for (int i = 0; i < 100; ++i)
        text += "\n[Software\\\\Vendor\\\\Product" + std::to_string(i) +
                "] 1700000000\n\"InstallDir\"=\"C:\\\\Program Files\\\\Product " +
                std::to_string(i) + "\"\n";
    WriteFile(MakePaths().store, text);
    auto registry = MakeRegistry();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(
            GetString(*registry, RegRoot::CurrentUser, "Software\\Vendor\\Product7", "InstallDir"),
            "C:\\Program Files\\Product 7");
    ASSERT_EQ(SetString(*MakeRegistry(), RegRoot::CurrentUser, "Software\\Vendor\\Product7",
                        "InstallDir", "D:\\Moved"),
              reg::kSuccess);
    EXPECT_EQ(
        GetString(*registry, RegRoot::CurrentUser, "Software\\Vendor\\Product7", "InstallDir"),
        "D:\\Moved");
}

// ---- Files the user arranged -----------------------------------------------------------------

TEST_F(RegistryStore, DanglingLinkedStoreIsWrittenThroughAndStaysALink) {
    const std::string elsewhere = m_dir.File("dotfiles/registry.reg");
    std::filesystem::create_directories(m_dir.File("dotfiles"));
    std::filesystem::create_directories(DirectoryOf(MakePaths().store));
    std::filesystem::create_symlink("../../dotfiles/registry.reg", MakePaths().store);
    auto registry = MakeRegistry();
    ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "A", "1"), reg::kSuccess);
    EXPECT_TRUE(std::filesystem::is_symlink(MakePaths().store));
    EXPECT_NE(ReadFile(elsewhere).find("\"A\"=\"1\""), std::string::npos);

    // A link into a directory that is not there is not replaced by a file either.
    std::filesystem::remove(MakePaths().store);
    std::filesystem::remove(elsewhere);
    std::filesystem::create_symlink(m_dir.File("gone/registry.reg"), MakePaths().store);
    EXPECT_NE(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "B", "2"), reg::kSuccess);
    EXPECT_TRUE(std::filesystem::is_symlink(MakePaths().store));
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("gone")));
}

TEST_F(RegistryStore, ReadOnlyStoreIsNotRewritten) {
    auto registry = MakeRegistry();
    ASSERT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "A", "1"), reg::kSuccess);
    ASSERT_EQ(::chmod(MakePaths().store.c_str(), 0444), 0);
    const std::string before = ReadFile(MakePaths().store);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "A", "2"), reg::kAccessDenied);
    EXPECT_EQ(SetString(*registry, RegRoot::CurrentUser, kOptionKey, "B", "3"), reg::kAccessDenied);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("registry.reg is read-only"), std::string::npos);
    EXPECT_EQ(said.find('\n'), said.size() - 1) << said; // said once
    EXPECT_EQ(ReadFile(MakePaths().store), before);
    struct stat info {};
    ASSERT_EQ(::stat(MakePaths().store.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0444U);
}

// ---- Where the files are ---------------------------------------------------------------------

TEST(RegistryPaths, DefaultPathsFollowTheEnvironment) {
    struct Case {
        const char* config; // XDG_CONFIG_HOME; nullptr: not set
        const char* prefix; // WINEPREFIX; nullptr: not set
        std::string store;
        std::string winePrefix;
        std::string autostartDir;
    };
    const std::string home = "/home/someone";
    const Case cases[] = {
        {"/cfg/", "/games/prefix", "/cfg/flowbright/registry.reg", "/games/prefix",
         "/cfg/autostart"},
        {nullptr, nullptr, home + "/.config/flowbright/registry.reg", home + "/.wine",
         home + "/.config/autostart"},
        // Relative and empty settings are ignored, as the XDG rules say.
        {"relative/config", "", home + "/.config/flowbright/registry.reg", home + "/.wine",
         home + "/.config/autostart"},
    };
    for (const Case& c : cases) {
        EnvGuard config("XDG_CONFIG_HOME", c.config);
        EnvGuard homeVariable("HOME", home);
        EnvGuard prefix("WINEPREFIX", c.prefix);
        const auto paths = FileRegistry::DefaultPaths();
        EXPECT_EQ(paths.store, c.store);
        EXPECT_EQ(paths.lock, c.store + ".lock");
        EXPECT_EQ(paths.winePrefix, c.winePrefix);
        EXPECT_EQ(paths.autostartDir, c.autostartDir);
    }
    {
        EnvGuard config("XDG_CONFIG_HOME", nullptr);
        EnvGuard home("HOME", nullptr);
        const auto paths = FileRegistry::DefaultPaths();
        EXPECT_EQ(paths.store.front(), '/'); // from the password database
        EXPECT_NE(paths.store.find("/.config/flowbright/registry.reg"), std::string::npos);
    }
}
