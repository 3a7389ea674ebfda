// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/HistogramCore.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

namespace fb {

namespace {

// One tick of the graph of the real control (383 x 78 client pixels) with a full history of 110
// points per series, at the largest range the main window uses.
void BM_HistogramTick(benchmark::State& state, HistogramDrawing drawing) {
    HistogramCore core(drawing);
    if (!core.BuildImage(383, 78)) {
        state.SkipWithError("no image");
        return;
    }
    core.SetRange(1, 1000);
    std::mt19937 random(7);
    std::uniform_int_distribution<std::uint32_t> values(0, 1100);
    for (int i = 0; i < HistogramCore::kHistoryLength; ++i) {
        core.AddValues(values(random), values(random));
        core.Tick();
    }
    for (auto _ : state) {
        core.AddValues(values(random), values(random));
        core.Tick();
        benchmark::DoNotOptimize(core.Image().constBits());
    }
}

BENCHMARK_CAPTURE(BM_HistogramTick, replay, HistogramDrawing::Replay);
BENCHMARK_CAPTURE(BM_HistogramTick, direct, HistogramDrawing::Direct);

} // namespace

} // namespace fb
