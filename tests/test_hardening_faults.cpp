// SPDX-License-Identifier: GPL-3.0-or-later
// Injected faults in every file the program writes: the registry store (the stored client
// choice), the settings file and the start-up entry. Whatever fails (a write, a flush, the
// rename, a full disk, a read-only directory, a crash between the temporary file and the
// rename), the old contents survive whole, nothing is reported as stored, and the next write
// works once the fault is gone.
//
// Faults reach the real system calls: a syscall filter installed in a forked child makes one
// kind of call fail (or kills the child at it), and a small memory file system or a read-only
// mount in a mount namespace of the child's own gives a real full disk or read-only directory.

#include "support/RegistryPaths.h"
#include "support/TestSupport.h"

#include "p2p/FindP2PDlg.h"
#include "platform/linux/files/IniProfile.h"
#include "platform/linux/registry/Registry.h"
#include "platform/linux/registry/RegistryText.h"
#include "settings/Settings.h"

#include "fakes/FakeProcessInfo.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>

#include <memory>

using namespace fb;
using namespace fb::testing_support;
namespace fs = std::filesystem;
using fb::linux_impl::FileRegistry;

namespace {

const std::string kOptionKey = "SOFTWARE\\Flowbright";
const std::string kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Where one copy of the program keeps its files below `root`.
struct Files {
    explicit Files(const std::string& root) {
        paths = RegistryPathsBelow(root);
        ini = root + "/bin/flowbright.ini";
        fs::create_directories(root + "/bin");
    }
    FileRegistry::Paths paths;
    std::string ini;
};

// One file of the program, written and read the way the program does it.
class Store {
public:
    virtual ~Store() = default;
    virtual std::string File() const = 0;
    // True when the value reads back as written.
    virtual bool Write(const std::string& value) = 0;
    virtual std::string Read() = 0;
    std::string Directory() const { return fs::path(File()).parent_path().string(); }
};

// The stored client choice in the registry store ("APP_PATH"), through the catalogue class.
class ChoiceStore : public Store {
public:
    explicit ChoiceStore(Files files)
        : m_files(std::move(files)) {}
    std::string File() const override { return m_files.paths.store; }
    bool Write(const std::string& value) override {
        FileRegistry registry(m_files.paths);
        CFindP2PDlg(registry).WriteChoice("Emule", value);
        return Read() == value;
    }
    std::string Read() override {
        FileRegistry registry(m_files.paths);
        return CFindP2PDlg(registry).ReadAppPath();
    }

private:
    Files m_files;
};

// A key of the settings file.
class SettingsStore : public Store {
public:
    explicit SettingsStore(Files files)
        : m_files(std::move(files)) {}
    std::string File() const override { return m_files.ini; }
    bool Write(const std::string& value) override {
        return m_profile.WriteString("log", "logfile", value, m_files.ini);
    }
    std::string Read() override {
        return m_profile.GetString("log", "logfile", "<none>", 1000, m_files.ini);
    }

private:
    Files m_files;
    linux_impl::IniProfile m_profile;
};

// The start-up entry: the "Run" value, kept as an autostart file.
class StartupStore : public Store {
public:
    explicit StartupStore(Files files)
        : m_files(std::move(files)) {}
    std::string File() const override { return m_files.paths.autostartDir + "/Flowbright.desktop"; }
    bool Write(const std::string& value) override {
        FileRegistry registry(m_files.paths);
        auto key = registry.CreateKey(RegRoot::CurrentUser, kRunKey);
        return key != nullptr &&
               key->SetValue("Flowbright", reg::kSz,
                             reinterpret_cast<const std::uint8_t*>(value.c_str()),
                             static_cast<std::uint32_t>(value.size() + 1)) == reg::kSuccess;
    }
    std::string Read() override {
        FileRegistry registry(m_files.paths);
        auto key = registry.OpenKey(RegRoot::CurrentUser, kRunKey, false);
        std::vector<std::uint8_t> buffer(4096);
        auto size = static_cast<std::uint32_t>(buffer.size());
        if (!key || key->QueryValue("Flowbright", nullptr, buffer.data(), &size) != reg::kSuccess)
            return "<none>";
        return std::string(reinterpret_cast<const char*>(buffer.data()));
    }

private:
    Files m_files;
};

enum class Kind { Choice, Settings, Startup };

std::unique_ptr<Store> MakeStore(Kind kind, const std::string& root) {
    switch (kind) {
    case Kind::Choice:
        return std::make_unique<ChoiceStore>(Files(root));
    case Kind::Settings:
        return std::make_unique<SettingsStore>(Files(root));
    case Kind::Startup:
        return std::make_unique<StartupStore>(Files(root));
    }
    return nullptr;
}

// Test names, in the order of Kind.
constexpr const char* kKindNames[] = {"RegistryStore", "SettingsFile", "StartupEntry"};
std::string KindName(Kind kind) {
    return kKindNames[static_cast<std::size_t>(kind)];
}

// Values that look like the program's and differ in length, so that a torn file would show.
std::string OldValue(Kind kind) {
    return kind == Kind::Startup ? "\"/opt/old/flowbright\" -tray"
                                 : "C:\\Program Files\\eMule\\eMule.exe";
}
std::string NewValue(Kind kind) {
    return kind == Kind::Startup
               ? "\"/home/someone/new place/" + std::string(300, 'n') + "/flowbright\" -tray"
               : "C:\\Program Files (x86)\\" + std::string(600, 'N') + "\\client.exe";
}

// Temporary files of a write that was stopped: what a crash leaves beside the file.
std::vector<std::string> Temporaries(const std::string& dir, const std::string& file) {
    std::vector<std::string> found;
    const std::string name = fs::path(file).filename().string();
    for (const auto& entry : Entries(dir)) {
        if (entry != name && entry.find(name) != std::string::npos &&
            entry.find("tmp") != std::string::npos)
            found.push_back(entry);
    }
    return found;
}

// ---- System calls that fail -------------------------------------------------------------------

enum class Fault { WriteFails, DiskFullOnWrite, FlushFails, RenameFails, CrashBeforeRename };

// Test names, in the order of Fault.
constexpr const char* kFaultNames[] = {"WriteFails", "DiskFullOnWrite", "FlushFails", "RenameFails",
                                       "CrashBeforeRename"};
std::string FaultName(Fault fault) {
    return kFaultNames[static_cast<std::size_t>(fault)];
}

SyscallFault FaultFor(Fault fault, int reportFd) {
    SyscallFault filter;
    filter.sparedFd = reportFd;
    switch (fault) {
    case Fault::WriteFails:
        filter = {WriteCalls(), EIO, reportFd, true};
        break;
    case Fault::DiskFullOnWrite:
        filter = {WriteCalls(), ENOSPC, reportFd, true};
        break;
    case Fault::FlushFails:
        filter = {SyncCalls(), EIO, reportFd, false};
        break;
    case Fault::RenameFails:
        filter = {RenameCalls(), EIO, -1, false};
        break;
    case Fault::CrashBeforeRename:
        filter = {RenameCalls(), 0, -1, false}; // the temporary file is complete and flushed
        break;
    }
    return filter;
}

class InjectedFault : public ::testing::TestWithParam<std::tuple<Kind, Fault>> {};

TEST_P(InjectedFault, OldContentsSurviveWholeAndTheProgramGoesOn) {
    if (!SyscallFiltersAvailable())
        GTEST_SKIP() << "no syscall filter for this architecture";
    const auto [kind, fault] = GetParam();
    TempDir dir;
    auto store = MakeStore(kind, dir.Path());
    ASSERT_TRUE(store->Write(OldValue(kind)));
    const std::string before = ReadFile(store->File());
    ASSERT_FALSE(before.empty());
    const auto entriesBefore = Entries(store->Directory());

    const ChildResult child = RunInChild([&](Findings& findings, int reportFd) {
        if (!FilterSyscalls(FaultFor(fault, reportFd)))
            return kChildSkipped;
        findings.Check(!store->Write(NewValue(kind)), "the failed write reads back as stored");
        findings.Check(ReadFile(store->File()) == before, "the file changed");
        findings.Equal(store->Read(), OldValue(kind), "value after the failed write");
        return 0;
    });
    if (child.exited && child.exitCode == kChildSkipped)
        GTEST_SKIP() << "syscall filters are not available here";
    if (fault == Fault::CrashBeforeRename) {
        EXPECT_EQ(child.signal, SIGSYS) << "the write never reached the rename";
    } else {
        EXPECT_TRUE(child.exited) << "killed by signal " << child.signal;
        EXPECT_EQ(child.findings, "");
    }

    // Seen from outside: byte for byte the old file, the old value, no temporary left over
    // by a write that could clean up after itself.
    EXPECT_EQ(ReadFile(store->File()), before);
    EXPECT_EQ(store->Read(), OldValue(kind));
    if (fault != Fault::CrashBeforeRename) {
        EXPECT_EQ(Entries(store->Directory()), entriesBefore);
    }

    // The program goes on: the next write works, and the registry store clears what a crashed
    // write left behind.
    EXPECT_TRUE(store->Write(NewValue(kind)));
    EXPECT_EQ(store->Read(), NewValue(kind));
    if (kind != Kind::Settings) {
        EXPECT_EQ(Temporaries(store->Directory(), store->File()), std::vector<std::string>{});
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryFile, InjectedFault,
    ::testing::Combine(::testing::Values(Kind::Choice, Kind::Settings, Kind::Startup),
                       ::testing::Values(Fault::WriteFails, Fault::DiskFullOnWrite,
                                         Fault::FlushFails, Fault::RenameFails,
                                         Fault::CrashBeforeRename)),
    [](const auto& info) {
        return KindName(std::get<0>(info.param)) + "_" + FaultName(std::get<1>(info.param));
    });

// A crashed settings write leaves its temporary file beside the settings file; it must never be
// taken for the settings file, and later runs read and write normally.
TEST(InjectedFaultSettings, TemporaryOfACrashedWriteDoesNotDisturbLaterRuns) {
    if (!SyscallFiltersAvailable())
        GTEST_SKIP() << "no syscall filter for this architecture";
    TempDir dir;
    Files files(dir.Path());
    WriteFile(files.ini, "; by hand\n[main]\nalwaysontop=1\n");
    fakes::FakeProcessInfo process;
    process.moduleFileName = dir.File("bin/flowbright");
    linux_impl::IniProfile profile;
    const ChildResult child = RunInChild([&](Findings&, int) {
        if (!FilterSyscalls({RenameCalls(), 0, -1, false}))
            return kChildSkipped;
        CSettings settings(profile, process); // saves as it goes, and dies at the first rename
        return 0;
    });
    if (child.exited && child.exitCode == kChildSkipped)
        GTEST_SKIP() << "syscall filters are not available here";
    EXPECT_EQ(child.signal, SIGSYS);
    EXPECT_EQ(ReadFile(files.ini), "; by hand\n[main]\nalwaysontop=1\n");
    {
        CSettings settings(profile, process);
        EXPECT_EQ(settings.Loaded().alwaysOnTop, 1);
    }
    const std::string saved = ReadFile(files.ini);
    EXPECT_EQ(saved.rfind("; by hand\n[main]\nalwaysontop=1\n", 0), 0U);
    EXPECT_NE(saved.find("logfile="), std::string::npos);
    CSettings again(profile, process);
    EXPECT_EQ(again.Loaded().mbDelete, 1);
}

// ---- A real full disk and a real read-only directory -------------------------------------------

// In the child: a mount namespace of its own, so that what it mounts disappears with it.
bool EnterOwnMountNamespace() {
    if (::unshare(CLONE_NEWNS) != 0)
        return false;
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// Fills the file system holding `dir`: blocks, or inodes with `inodes`. Returns the files made.
std::vector<std::string> Fill(const std::string& dir, bool inodes) {
    std::vector<std::string> made;
    const std::string chunk(4096, 'f');
    for (int i = 0; i < 100000; ++i) {
        const std::string name = dir + "/filler-" + std::to_string(i);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0)
            break;
        made.push_back(name);
        bool full = false;
        while (!inodes) {
            if (::write(fd, chunk.data(), chunk.size()) <= 0) {
                full = true;
                break;
            }
        }
        ::close(fd);
        if (full)
            break;
    }
    return made;
}

class RealFilesystem : public ::testing::TestWithParam<Kind> {};

TEST_P(RealFilesystem, FullDiskKeepsTheOldFile) {
    const Kind kind = GetParam();
    TempDir dir;
    const std::string mountPoint = dir.File("mnt");
    fs::create_directories(mountPoint);
    for (const bool inodes : {false, true}) {
        const ChildResult child = RunInChild([&](Findings& findings, int) {
            const std::string options =
                inodes ? "size=1m,nr_inodes=64,mode=0700" : "size=128k,mode=0700";
            if (!EnterOwnMountNamespace() || ::mount("tmpfs", mountPoint.c_str(), "tmpfs",
                                                     MS_NOSUID | MS_NODEV, options.c_str()) != 0)
                return kChildSkipped;
            auto store = MakeStore(kind, mountPoint);
            findings.Check(store->Write(OldValue(kind)), "the first write failed");
            const std::string before = ReadFile(store->File());
            const auto entries = Entries(store->Directory());
            const auto filler = Fill(mountPoint, inodes);
            findings.Check(!store->Write(NewValue(kind)), "a write on a full disk reads back");
            findings.Check(ReadFile(store->File()) == before, "the file changed on a full disk");
            findings.Equal(store->Read(), OldValue(kind), "value on a full disk");
            findings.Check(Entries(store->Directory()) == entries, "a temporary was left");
            for (const auto& name : filler)
                ::unlink(name.c_str());
            findings.Check(store->Write(NewValue(kind)), "no write once space is back");
            findings.Equal(store->Read(), NewValue(kind), "value once space is back");
            return 0;
        });
        if (child.exited && child.exitCode == kChildSkipped)
            GTEST_SKIP() << "mounting a small file system needs root (CAP_SYS_ADMIN)";
        EXPECT_TRUE(child.exited) << "killed by signal " << child.signal;
        EXPECT_EQ(child.findings, "") << (inodes ? "out of inodes" : "out of blocks");
    }
}

TEST_P(RealFilesystem, ReadOnlyDirectoryKeepsTheOldFile) {
    const Kind kind = GetParam();
    TempDir dir;
    const std::string root = dir.File("root");
    auto store = MakeStore(kind, root);
    ASSERT_TRUE(store->Write(OldValue(kind)));
    const std::string before = ReadFile(store->File());
    const bool root_user = ::geteuid() == 0;

    const ChildResult child = RunInChild([&](Findings& findings, int) {
        if (root_user) {
            // Permission bits do not stop root: a read-only mount does.
            if (!EnterOwnMountNamespace() ||
                ::mount(root.c_str(), root.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
                ::mount(nullptr, root.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                        nullptr) != 0)
                return kChildSkipped;
        } else {
            for (const auto& sub : {"/config/flowbright", "/config/autostart", "/config", "/bin"})
                if (fs::exists(root + sub))
                    fs::permissions(root + sub, fs::perms::owner_read | fs::perms::owner_exec);
        }
        findings.Check(!store->Write(NewValue(kind)), "a write into a read-only place reads back");
        findings.Check(ReadFile(store->File()) == before, "the file changed");
        findings.Equal(store->Read(), OldValue(kind), "value in a read-only place");
        if (root_user) {
            findings.Check(::mount(nullptr, root.c_str(), nullptr, MS_REMOUNT | MS_BIND, nullptr) ==
                               0,
                           "cannot make the place writable again");
        } else {
            for (const auto& sub : {"/config", "/config/flowbright", "/config/autostart", "/bin"})
                if (fs::exists(root + sub))
                    fs::permissions(root + sub, fs::perms::owner_all);
        }
        findings.Check(store->Write(NewValue(kind)), "no write once the place is writable");
        return 0;
    });
    if (child.exited && child.exitCode == kChildSkipped)
        GTEST_SKIP() << "a read-only mount needs root (CAP_SYS_ADMIN)";
    EXPECT_TRUE(child.exited) << "killed by signal " << child.signal;
    EXPECT_EQ(child.findings, "");
    EXPECT_EQ(store->Read(), NewValue(kind));
}

INSTANTIATE_TEST_SUITE_P(EveryFile, RealFilesystem,
                         ::testing::Values(Kind::Choice, Kind::Settings, Kind::Startup),
                         [](const auto& info) { return KindName(info.param); });

// The settings object on a read-only disk: it loads what is there, its save at the end fails
// silently, and the file stays byte for byte.
TEST(RealFilesystemSettings, ReadOnlySettingsFileLoadsAndIsLeftAlone) {
    TempDir dir;
    const std::string root = dir.File("root");
    Files files(root);
    const std::string text = "[log]\r\nmbdelete=1000\r\nlogtype=3\r\n; mine\r\n";
    WriteFile(files.ini, text);
    fakes::FakeProcessInfo process;
    process.moduleFileName = root + "/bin/flowbright";
    linux_impl::IniProfile profile;
    const ChildResult child = RunInChild([&](Findings& findings, int) {
        if (!EnterOwnMountNamespace() ||
            ::mount(root.c_str(), root.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
            ::mount(nullptr, root.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            return kChildSkipped;
        {
            CSettings settings(profile, process);
            findings.Equal(settings.Loaded().mbDelete, 1, "mbdelete");
            findings.Equal(settings.Loaded().logType, 3, "logtype");
        }
        findings.Check(ReadFile(files.ini) == text, "a read-only settings file changed");
        return 0;
    });
    if (child.exited && child.exitCode == kChildSkipped)
        GTEST_SKIP() << "a read-only mount needs root (CAP_SYS_ADMIN)";
    EXPECT_TRUE(child.exited) << "killed by signal " << child.signal;
    EXPECT_EQ(child.findings, "");
}

} // namespace
