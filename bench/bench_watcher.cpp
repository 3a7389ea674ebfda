// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/LocalAddresses.h"
#include "net/Watcher.h"

#include "fakes/FakeAddressTable.h"
#include "fakes/FakePacketSocket.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <atomic>

namespace fb {

namespace {

// Switching accelerate mode on and off: open, start the watcher thread, wake it from its
// receive and join it. Bounds how long the button takes to answer.
void BM_WatcherOnOff(benchmark::State& state) {
    fakes::FakeAddressTable table;
    table.addresses = {htonl(INADDR_LOOPBACK), htonl(0xC0A80105u)};
    CLocalAddresses addresses;
    addresses.LoadLocalAddresses(table);
    fakes::FakePacketSocketFactory sockets;
    std::atomic<std::int32_t> flag{0};
    CRawWatcher watcher(sockets, flag);
    for (auto _ : state) {
        flag = 1;
        watcher.OpenWatcherSocket(addresses);
        watcher.StartWatcher();
        flag = 0;
        watcher.StopWatcher();
    }
}
BENCHMARK(BM_WatcherOnOff);

void BM_LoadLocalAddresses(benchmark::State& state) {
    fakes::FakeAddressTable table;
    for (std::uint32_t i = 0; i < 100; ++i)
        table.addresses.push_back(htonl(0xC0A80000u + i));
    CLocalAddresses addresses;
    for (auto _ : state)
        benchmark::DoNotOptimize(addresses.LoadLocalAddresses(table));
}
BENCHMARK(BM_LoadLocalAddresses);

} // namespace

} // namespace fb
