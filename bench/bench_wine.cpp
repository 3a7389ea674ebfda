// SPDX-License-Identifier: GPL-3.0-or-later
// Costs of the start-up fill of the Run P2P group: the eighteen probes, and the existence check
// of a Windows path whose folders must be searched without regard to letter case.
#include "p2p/FindP2PDlg.h"
#include "platform/linux/shell/WineFileSystem.h"
#include "platform/linux/shell/WinePaths.h"

#include "fakes/FakeRegistry.h"
#include "support/TestSupport.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

namespace fb {

namespace fs = std::filesystem;

namespace {

// A Wine prefix whose "Program Files" holds `entries` folders, removed at the end.
class BenchPrefix {
public:
    explicit BenchPrefix(int entries) {
        const fs::path& root = m_dir.Path();
        fs::create_directories(root / "dosdevices");
        fs::create_directory_symlink("../drive_c", root / "dosdevices" / "c:");
        const fs::path programs = root / "drive_c" / "Program Files";
        for (int i = 0; i < entries; ++i)
            fs::create_directories(programs / ("Vendor " + std::to_string(i)));
        fb::testing_support::WriteFile(programs / "eMule" / "eMule.exe", "MZ");
    }
    std::string Path() const { return m_dir.Path().string(); }

private:
    fb::testing_support::TempDir m_dir{"winebench"};
};

// The same lookup spelt as on disk and in other letter cases, which the lookup must fold.
void BM_WineExists(benchmark::State& state, const char* windowsPath) {
    BenchPrefix prefix(static_cast<int>(state.range(0)));
    linux_impl::FileSystem files{linux_impl::WinePaths(prefix.Path())};
    for (auto _ : state)
        benchmark::DoNotOptimize(files.Exists(windowsPath));
}
BENCHMARK_CAPTURE(BM_WineExists, ExactCase, "C:\\Program Files\\eMule\\eMule.exe")
    ->Arg(10)
    ->Arg(1000);
BENCHMARK_CAPTURE(BM_WineExists, OtherCase, "c:\\PROGRAM FILES\\EMULE\\EMULE.EXE")
    ->Arg(10)
    ->Arg(1000);

void BM_EighteenProbes(benchmark::State& state) {
    fakes::FakeRegistry registry;
    registry.SetString(RegRoot::CurrentUser, "Software\\eMule", "Install Path",
                       "C:\\Program Files\\eMule");
    registry.SetString(RegRoot::LocalMachine,
                       "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\WinMX MP3_is1",
                       "InstallLocation", "C:\\Program Files\\WinMX MP3\\");
    for (auto _ : state) {
        CFindP2PDlg find(registry);
        int found = 0;
        for (const auto& client : CFindP2PDlg::Clients())
            found += (find.*client.probe)();
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_EighteenProbes);

} // namespace

} // namespace fb
