// bench_main.cpp - the benchmark program: registers the per-song benchmarks
// next to the statically registered ones and runs what the command line asks.
// `zelto_bench --write-song NAME PATH` writes one benchmark song to a file instead.
#include <benchmark/benchmark.h>

#include <cstring>

#include "batch_bench.h"
#include "handle_bench.h"
#include "song_bench.h"

int main(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], "--write-song") == 0) return bench::WriteSongFile(argv[2], argv[3]);
    bench::RegisterSongBenchmarks();
    bench::RegisterHandleBenchmarks();
    bench::RegisterBatchBenchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
