// SPDX-License-Identifier: GPL-3.0-or-later
// Costs of the registry on files: our store and Wine's hives are parsed once per change of the
// file; a save formats and writes the whole store.

#include "platform/linux/registry/Registry.h"
#include "platform/linux/registry/RegistryText.h"

#include "support/TestSupport.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fb {

using namespace linux_impl;

namespace {

class BenchDir {
public:
    FileRegistry::Paths Paths() const {
        const std::string path = m_dir.Path().string();
        return {path + "/flowbright/registry.reg", path + "/flowbright/registry.reg.lock",
                path + "/wine", path + "/autostart"};
    }

private:
    fb::testing_support::TempDir m_dir{"registry-bench"};
};

// A hive the size of a well-used prefix: `keys` keys of five values each.
std::string LargeHive(int keys) {
    std::string text = "WINE REGISTRY Version 2\n#arch=win64\n";
    for (int i = 0; i < keys; ++i) {
        text += "\n[Software\\\\Vendor" + std::to_string(i % 97) + "\\\\Product" +
                std::to_string(i) + "] 1700000000\n#time=1da1b2c3d4e5f60\n";
        text += "\"InstallDir\"=\"C:\\\\Program Files\\\\Product " + std::to_string(i) + "\"\n";
        text += "\"Version\"=dword:00010002\n\"Flags\"=hex:01,02,03,04,05,06,07,08\n";
        text += "\"Caf\\x00e9\"=\"Na\\x00efve\"\n\"Path\"=str(2):\"%ProgramFiles%\\\\x\"\n";
    }
    return text;
}

void BM_RegistryQueryOwnValue(benchmark::State& state) {
    BenchDir dir;
    FileRegistry registry(dir.Paths());
    auto key = registry.CreateKey(RegRoot::CurrentUser, "SOFTWARE\\Flowbright");
    for (const char* name : {"CheckPeriodNum", "CheckPeriodCombo", "AccelerateN", "Network"}) {
        const std::uint32_t number = 7;
        key->SetValue(name, reg::kDword, reinterpret_cast<const std::uint8_t*>(&number), 4);
    }
    for (auto _ : state) {
        std::uint32_t number = 0;
        std::uint32_t size = 4;
        benchmark::DoNotOptimize(
            key->QueryValue("Network", nullptr, reinterpret_cast<std::uint8_t*>(&number), &size));
    }
}
BENCHMARK(BM_RegistryQueryOwnValue);

void BM_RegistrySetOwnValue(benchmark::State& state) {
    BenchDir dir;
    FileRegistry registry(dir.Paths());
    auto key = registry.CreateKey(RegRoot::CurrentUser, "SOFTWARE\\Flowbright");
    std::uint32_t number = 0;
    for (auto _ : state) {
        ++number; // a real change each time: lock, re-read, write, fsync, rename
        benchmark::DoNotOptimize(key->SetValue("Network", reg::kDword,
                                               reinterpret_cast<const std::uint8_t*>(&number), 4));
    }
}
BENCHMARK(BM_RegistrySetOwnValue)->Unit(benchmark::kMillisecond);

void BM_RegistryParseLargeHive(benchmark::State& state) {
    const std::string text = LargeHive(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        RegHive hive;
        benchmark::DoNotOptimize(ParseRegistryText(text, hive, RegParseMode::Lenient));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_RegistryParseLargeHive)->Arg(20000)->Unit(benchmark::kMillisecond);

// Our store grown to about 10 MB (another program's keys kept in it for years).
void WriteLargeStore(const std::string& path) {
    RegHive hive;
    for (int i = 0; hive.KeyCount() < 70000; ++i) {
        RegKeyNode& key = hive.CreateKey("Software\\Vendor" + std::to_string(i % 97) + "\\Product" +
                                             std::to_string(i),
                                         1700000000);
        const std::string dir = "C:\\Program Files\\Product " + std::to_string(i);
        std::vector<std::uint8_t> text(dir.begin(), dir.end());
        text.push_back(0);
        key.Set("InstallDir", reg::kSz, text);
        key.Set("Flags", reg::kBinary, {1, 2, 3, 4, 5, 6, 7, 8});
    }
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << FormatRegistryText(hive);
}

// The options read at start-up against a 10 MB store: one parse, then the parsed copy.
void BM_RegistryReadLargeStore(benchmark::State& state) {
    BenchDir dir;
    WriteLargeStore(dir.Paths().store);
    FileRegistry registry(dir.Paths());
    for (auto _ : state) {
        auto key = registry.OpenKey(RegRoot::CurrentUser, "Software\\Vendor3\\Product100", false);
        std::uint8_t buffer[256] = {};
        std::uint32_t size = sizeof buffer;
        benchmark::DoNotOptimize(key ? key->QueryValue("InstallDir", nullptr, buffer, &size) : -1);
    }
    state.counters["store_bytes"] =
        static_cast<double>(std::filesystem::file_size(dir.Paths().store));
}
BENCHMARK(BM_RegistryReadLargeStore);

// One save into a 10 MB store: lock, the parsed copy, format, write, fsync, rename.
void BM_RegistrySaveLargeStore(benchmark::State& state) {
    BenchDir dir;
    WriteLargeStore(dir.Paths().store);
    FileRegistry registry(dir.Paths());
    auto key = registry.CreateKey(RegRoot::CurrentUser, "SOFTWARE\\Flowbright");
    std::uint32_t number = 0;
    for (auto _ : state) {
        ++number;
        benchmark::DoNotOptimize(key->SetValue("Network", reg::kDword,
                                               reinterpret_cast<const std::uint8_t*>(&number), 4));
    }
}
BENCHMARK(BM_RegistrySaveLargeStore)->Unit(benchmark::kMillisecond);

// A catalogue probe against an unchanged system.reg: served from the parsed copy.
void BM_RegistryProbeMachineKey(benchmark::State& state) {
    BenchDir dir;
    const auto paths = dir.Paths();
    std::filesystem::create_directories(paths.winePrefix);
    std::ofstream(paths.winePrefix + "/system.reg") << LargeHive(20000);
    FileRegistry registry(paths);
    for (auto _ : state) {
        auto key = registry.OpenKey(RegRoot::LocalMachine, "Software\\Vendor3\\Product100", false);
        std::uint8_t buffer[256] = {};
        std::uint32_t size = sizeof buffer;
        benchmark::DoNotOptimize(key ? key->QueryValue("InstallDir", nullptr, buffer, &size) : -1);
    }
}
BENCHMARK(BM_RegistryProbeMachineKey);

} // namespace

} // namespace fb
