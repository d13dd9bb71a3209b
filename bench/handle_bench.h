// handle_bench.h - the song-handle benchmarks, and the writer of benchmark songs to files.
#ifndef ZELTO_BENCH_HANDLE_BENCH_H
#define ZELTO_BENCH_HANDLE_BENCH_H

#include <string>

namespace bench {

// Registers OpenAndWalk/NAME for every benchmark song.
void RegisterHandleBenchmarks();

// Writes the benchmark song of that name to path; 0 on success (the
// program's exit status).
int WriteSongFile(const std::string &name, const std::string &path);

}  // namespace bench

#endif  // ZELTO_BENCH_HANDLE_BENCH_H
