// SPDX-License-Identifier: GPL-3.0-or-later
// The interface table on the real kernel, in a network namespace of the benchmark's own holding 1
// or 1000 links: reading the whole table at start (what the links add before the window shows)
// and the refresh of the selected adapter, which must not grow with the number of links.

#include "net/AdapterList.h"
#include "platform/linux/network/NetlinkInterfaceTable.h"
#include "tests/test_netlink_namespace.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <unistd.h>

namespace fb {

namespace {

using fb::testing::NetnsScope;
using fb::testing::RunProgram;
using fb::testing::TestNetns;
using linux_impl::NetlinkInterfaceTable;

// A namespace with `links` links that are up, the table and adapter list made inside it, and a
// sysfs that shows the namespace's own links (as /sys does on a machine that has them), mounted in
// a mount namespace of the benchmark's own. The namespace and its links go away with the object.
struct Bed {
    std::unique_ptr<TestNetns> ns;
    std::string sysfs;
    std::unique_ptr<NetlinkInterfaceTable> table;
    std::unique_ptr<CAdapterList> list;
    std::string error;

    Bed() = default;
    Bed(const Bed&) = delete;
    Bed& operator=(const Bed&) = delete;
    ~Bed() {
        if (!sysfs.empty()) {
            umount2(sysfs.c_str(), MNT_DETACH);
            rmdir(sysfs.c_str());
        }
    }

    NetlinkInterfaceTable::Options Options() const {
        NetlinkInterfaceTable::Options options;
        if (!sysfs.empty()) {
            options.sysClassNet = sysfs + "/class/net";
        }
        return options;
    }
};

// Mounts a sysfs of the calling thread's network namespace; the mount is private to this process.
std::string MountSysfs() {
    static const bool own = unshare(CLONE_NEWNS) == 0 &&
                            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    char dir[] = "/tmp/fb-bench-sysfs-XXXXXX";
    if (!own || mkdtemp(dir) == nullptr) {
        return {};
    }
    if (mount("sysfs", dir, "sysfs", MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) {
        rmdir(dir);
        return {};
    }
    return dir;
}

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
        // Pairs of virtual Ethernet links, up, as containers have them; an odd one out is an
        // ifb link.
        for (int i = 0; i + 1 < links; i += 2) {
            out << "link add fbb" << i << " type veth peer name fbb" << i + 1 << "\n";
        }
        if (links % 2 != 0) {
            out << "link add fbb" << links - 1 << " type ifb\n";
        }
        for (int i = 0; i < links; ++i) {
            out << "link set fbb" << i << " up\n";
        }
    }
    NetnsScope in(*bed->ns);
    const int status = RunProgram({"ip", "-batch", batch});
    std::remove(batch);
    if (!in.Entered() || status != 0) {
        bed->error = "cannot create " + std::to_string(links) + " links (ip -batch)";
        return bed;
    }
    bed->sysfs = MountSysfs();
    if (bed->sysfs.empty()) {
        bed->error = "cannot mount a sysfs of the namespace";
        return bed;
    }
    bed->table = std::make_unique<NetlinkInterfaceTable>(bed->Options());
    bed->list = std::make_unique<CAdapterList>(*bed->table);
    if (bed->list->LoadInterfaceTable() != CAdapterList::LoadResult::Loaded ||
        bed->list->Entries().empty()) {
        bed->error = "the interface table lists none of the links";
    }
    return bed;
}

// The bed with `links` links, made once for the whole run; null (the state skipped) when it
// cannot be made.
Bed* BedFor(benchmark::State& state) {
    if (geteuid() != 0) {
        state.SkipWithError("needs root to make a network namespace with its own links");
        return nullptr;
    }
    const int links = static_cast<int>(state.range(0));
    static std::map<int, std::unique_ptr<Bed>> beds;
    auto& bed = beds[links];
    if (!bed) {
        bed = MakeBed(links);
    }
    if (!bed->error.empty()) {
        state.SkipWithError(bed->error.c_str());
        return nullptr;
    }
    state.counters["links"] = links;
    return bed.get();
}

// What the links cost at start: the table made and read, and the adapter list built from it.
void BM_LoadInterfaceTable(benchmark::State& state) {
    Bed* bed = BedFor(state);
    if (bed == nullptr) {
        return;
    }
    NetnsScope in(*bed->ns);
    for (auto _ : state) {
        NetlinkInterfaceTable table(bed->Options());
        CAdapterList list(table);
        benchmark::DoNotOptimize(list.LoadInterfaceTable());
    }
}

void BM_ReadSelectedRow(benchmark::State& state) {
    Bed* bed = BedFor(state);
    if (bed == nullptr) {
        return;
    }
    std::uint32_t total = 0;
    for (auto _ : state) {
        const IfCounters counters = bed->list->ReadSelectedRow(0);
        total += counters.inOctets;
        benchmark::DoNotOptimize(total);
    }
}

BENCHMARK(BM_LoadInterfaceTable)->Arg(1)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSelectedRow)->Arg(1)->Arg(1000)->Unit(benchmark::kMicrosecond);

} // namespace

} // namespace fb
