// append_bench.cpp - the cost of appending events to track chunks: a run of
// note-ons and note-offs into one chunk, and the same run spread over sixteen
// chunks in turn, as the conversion spreads a song over its tracks.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "mid/midi.h"

namespace {

// Appends eventCount note events, each to the next of chunkCount chunks, a
// sixteenth apart on every chunk; the model is set up and released inside.
void AppendEvents(benchmark::State &state, std::uint32_t chunkCount) {
    const auto eventCount = static_cast<std::uint32_t>(state.range(0));
    for (auto _ : state) {
        Talvoren::MidiFileStruct midi;
        if (!Talvoren::InitMidiFileStruct(&midi, chunkCount, 480)) {
            state.SkipWithError("the model could not be set up");
            break;
        }
        for (std::uint32_t event = 0; event < eventCount; ++event) {
            Talvoren::MidiTrackChunk *chunk = &midi.tracks[event % chunkCount];
            const auto key = static_cast<std::uint8_t>(40 + event % 40);
            if ((event / chunkCount) % 2 == 0) {
                Talvoren::AddEventNoteOn(chunk, 0, key, 95);
            } else {
                chunk->pendingDelta += 120;
                Talvoren::AddEventNoteOff(chunk, 0, key, 80);
            }
        }
        benchmark::DoNotOptimize(midi.tracks[0].header.length);
        Talvoren::FreeMidiFileStruct(&midi);
    }
    state.SetComplexityN(state.range(0));
    state.counters["events"] =
        benchmark::Counter(static_cast<double>(eventCount), benchmark::Counter::kIsIterationInvariantRate);
}

void AppendToOneChunk(benchmark::State &state) { AppendEvents(state, 1); }
void AppendToSixteenChunks(benchmark::State &state) { AppendEvents(state, 16); }

// 62,500 to 1,000,000 events: a cost that grows faster than the count shows
// up as a rising time per event and as the fitted complexity.
BENCHMARK(AppendToOneChunk)
    ->Arg(62500)
    ->Arg(250000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();
BENCHMARK(AppendToSixteenChunks)
    ->Arg(62500)
    ->Arg(250000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

}  // namespace
