// SPDX-License-Identifier: GPL-3.0-or-later
// The refresh of the selected adapter, on the real interface table, in a network namespace of
// the benchmark's own holding 1 or 1000 links: the cost must not grow with the number of links.

#include "net/AdapterList.h"
#include "platform/linux/network/NetlinkInterfaceTable.h"
#include "tests/test_netlink_namespace.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>

namespace fb {

namespace {

using fb::testing::NetnsScope;
using fb::testing::RunProgram;
using fb::testing::TestNetns;
using linux_impl::NetlinkInterfaceTable;

// A namespace with `links` ifb links, and the table and adapter list made inside it. The
// namespace and its links go away with the object.
struct Bed {
    std::unique_ptr<TestNetns> ns;
    std::unique_ptr<NetlinkInterfaceTable> table;
    std::unique_ptr<CAdapterList> list;
    std::string error;
};

std::unique_ptr<Bed> MakeBed(int links) {
    auto bed = std::make_unique<Bed>();
    bed->ns = TestNetns::Create();
    if (!bed->ns) {
        bed->error = "cannot make a network namespace";
        return bed;
    }
    char batch[] = "/tmp/fb-bench-links-XXXXXX";
    const int fd = mkstemp(batch);
    if (fd < 0) {
        bed->error = "cannot write the link batch";
        return bed;
    }
    close(fd);
    {
        std::ofstream out(batch);
        for (int i = 0; i < links; ++i) {
            out << "link add fbb" << i << " type ifb\n";
        }
    }
    NetnsScope in(*bed->ns);
    const int status = RunProgram({"ip", "-batch", batch});
    std::remove(batch);
    if (!in.Entered() || status != 0) {
        bed->error = "cannot create " + std::to_string(links) + " ifb links (ip -batch)";
        return bed;
    }
    bed->table = std::make_unique<NetlinkInterfaceTable>();
    bed->list = std::make_unique<CAdapterList>(*bed->table);
    if (bed->list->LoadInterfaceTable() != CAdapterList::LoadResult::Loaded ||
        bed->list->Entries().empty()) {
        bed->error = "the interface table lists none of the links";
    }
    return bed;
}

void BM_ReadSelectedRow(benchmark::State& state) {
    if (geteuid() != 0) {
        state.SkipWithError("needs root to make a network namespace with its own links");
        return;
    }
    const int links = static_cast<int>(state.range(0));
    // Kept for the whole run so that repeated calls do not build the links again.
    static std::map<int, std::unique_ptr<Bed>> beds;
    auto& bed = beds[links];
    if (!bed) {
        bed = MakeBed(links);
    }
    if (!bed->error.empty()) {
        state.SkipWithError(bed->error.c_str());
        return;
    }
    std::uint32_t total = 0;
    for (auto _ : state) {
        const IfCounters counters = bed->list->ReadSelectedRow(0);
        total += counters.inOctets;
        benchmark::DoNotOptimize(total);
    }
    state.counters["links"] = links;
}

BENCHMARK(BM_ReadSelectedRow)->Arg(1)->Arg(1000)->Unit(benchmark::kMicrosecond);

} // namespace

} // namespace fb
