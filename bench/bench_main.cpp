// bench_main.cpp - the benchmark program: registers the per-song benchmarks
// next to the statically registered ones and runs what the command line asks.
#include <benchmark/benchmark.h>

#include "song_bench.h"

int main(int argc, char **argv) {
    bench::RegisterSongBenchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
