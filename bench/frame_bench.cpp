// Argument matching runs on every call into the binding: positional-only
// calls, keyword calls, and a wide signature called by keyword.

#include <benchmark/benchmark.h>

#include <array>
#include <string_view>

#include "../py/src/frame/signature.hpp"

namespace {

using vz::py::CallableKind;
using vz::py::Signature;

const Signature& view_signature() {
    static const Signature sig =
        *Signature::parse("view($self, spec=None, settings=None, curves=None, tops=None, flatten_default=None, "
                          "phie_cutoff=None, flags=None, serve=None, save=None, *, template=None)\n--\n\n",
                          CallableKind::Method, "Well");
    return sig;
}

const Signature& percentile_signature() {
    static const Signature sig = *Signature::parse("percentile($self, p)\n--\n\n", CallableKind::Method, "Stats");
    return sig;
}

void BM_BindPositional(benchmark::State& state) {
    const Signature& sig = percentile_signature();
    std::array<std::ptrdiff_t, Signature::kMaxParams> slots{};
    for (auto _ : state) {
        auto r = sig.bind(1, {}, std::span(slots.data(), sig.params().size()));
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(slots);
    }
}
BENCHMARK(BM_BindPositional);

void BM_BindKeywords(benchmark::State& state) {
    const Signature& sig = view_signature();
    const std::array<std::string_view, 4> kw = {"template", "tops", "save", "curves"};
    std::array<std::ptrdiff_t, Signature::kMaxParams> slots{};
    for (auto _ : state) {
        auto r = sig.bind(1, kw, std::span(slots.data(), sig.params().size()));
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(slots);
    }
}
BENCHMARK(BM_BindKeywords);

}  // namespace

BENCHMARK_MAIN();
