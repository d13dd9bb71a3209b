// batch_bench.h - the benchmarks over a batch of songs with effects.
#ifndef ZELTO_BENCH_BATCH_BENCH_H
#define ZELTO_BENCH_BATCH_BENCH_H

namespace bench {

// ToMidi/effects_batch and ToPerformedMidi/effects_batch.
void RegisterBatchBenchmarks();

}  // namespace bench

#endif  // ZELTO_BENCH_BATCH_BENCH_H
