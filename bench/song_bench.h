// song_bench.h - registration of the per-song benchmarks (load, export, both).
#ifndef ZELTO_BENCH_SONG_BENCH_H
#define ZELTO_BENCH_SONG_BENCH_H

namespace bench {

// Registers Load/NAME, LoadStream/NAME, Export/NAME, ToMidi/NAME,
// PerformedExport/NAME, ToPerformedMidi/NAME and LoadAndExport/NAME for
// every benchmark song.
void RegisterSongBenchmarks();

}  // namespace bench

#endif  // ZELTO_BENCH_SONG_BENCH_H
