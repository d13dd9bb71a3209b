// batch_bench.cpp - a batch of real-world-like songs with effects, each
// converted both ways per iteration: the plain conversion and the performed
// rendering over the same loaded songs, as a host converting a folder does.
#include "batch_bench.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_songs.h"
#include "gp/convert.h"
#include "gp/perform.h"
#include "gp/song.h"
#include "mid/midi.h"

namespace bench {

namespace {

using Conversion = int (*)(Talvoren::FileStruct *file, Talvoren::MidiFileStruct *midi, std::uint32_t pulses);

// The batch's songs, loaded once per run and kept.
struct LoadedBatch {
    std::vector<Talvoren::FileStruct> files;
    std::uint64_t fileBytes = 0;
};

const LoadedBatch &GetBatch() {
    static const LoadedBatch batch = [] {
        LoadedBatch loaded;
        for (gp4::Bytes &bytes : EffectSongBatch()) {
            std::FILE *stream = fmemopen(bytes.data(), bytes.size(), "rb");
            Talvoren::FileStruct file;
            if (stream == nullptr || Talvoren::LoadFileStruct(&file, stream) != 1) {
                std::fprintf(stderr, "batch song does not load\n");
                std::abort();
            }
            std::fclose(stream);
            loaded.files.push_back(file);
            loaded.fileBytes += bytes.size();
        }
        return loaded;
    }();
    return batch;
}

void ConvertBatch(benchmark::State &state, Conversion convert) {
    const LoadedBatch &batch = GetBatch();
    for (auto _ : state) {
        for (const Talvoren::FileStruct &loaded : batch.files) {
            Talvoren::FileStruct file = loaded;  // the conversions only read the song
            Talvoren::MidiFileStruct midi;
            if (!Talvoren::InitMidiFileStruct(&midi, file.headers.pieceInfo.trackCount + 1, 480) ||
                !convert(&file, &midi, 30)) {
                state.SkipWithError("a batch song did not convert");
                Talvoren::FreeMidiFileStruct(&midi);
                return;
            }
            benchmark::DoNotOptimize(midi.tracks[0].header.length);
            Talvoren::FreeMidiFileStruct(&midi);
        }
    }
    state.counters["songs"] = static_cast<double>(batch.files.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(batch.fileBytes));
}

}  // namespace

void RegisterBatchBenchmarks() {
    benchmark::RegisterBenchmark("ToMidi/effects_batch", [](benchmark::State &state) {
        ConvertBatch(state, Talvoren::ToMidi);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ToPerformedMidi/effects_batch", [](benchmark::State &state) {
        ConvertBatch(state, Talvoren::ToPerformedMidi);
    })->Unit(benchmark::kMillisecond);
}

}  // namespace bench
