// SPDX-License-Identifier: GPL-3.0-or-later
// The libFuzzer entry of one fuzz target; FB_FUZZ_CHECK names its check (see FuzzChecks.h).
// A violated property aborts, so that libFuzzer keeps the input as a finding.

#include "fuzz/FuzzChecks.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string problem =
        fb::fuzz::FB_FUZZ_CHECK(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!problem.empty()) {
        std::fprintf(stderr, "property violated: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
