// handle_bench.cpp - a song handle opened and walked whole, as an analysis
// host does: every track's beats and notes fetched into two reused arrays and
// every note's fret visited; and the song files written out for the Python
// package's measurement (bench/python_walk.py).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "bench_support.h"
#include "handle_bench.h"
#include "zelto_song.h"

namespace bench {
namespace {

// Sums every note's fret of the song, one track at a time; false when a
// track cannot be read.
bool WalkEveryNote(ZELTO_Song *song, std::vector<ZELTO_SongBeat> &beats, std::vector<ZELTO_SongNote> &notes,
                   std::uint64_t *fretSum, std::uint64_t *noteTotal) {
    ZELTO_SongInfo info{};
    if (!ZELTO_SongGetInfo(song, &info)) return false;
    for (std::uint32_t track = 0; track < info.trackCount; ++track) {
        std::uint32_t beatCount = 0, noteCount = 0;
        while (!ZELTO_SongGetBeats(song, track, 0, info.measureCount, beats.data(),
                                   static_cast<std::uint32_t>(beats.size()), &beatCount, notes.data(),
                                   static_cast<std::uint32_t>(notes.size()), &noteCount, nullptr)) {
            if (beatCount <= beats.size() && noteCount <= notes.size()) return false;
            beats.resize(beatCount > beats.size() ? beatCount : beats.size());
            notes.resize(noteCount > notes.size() ? noteCount : notes.size());
        }
        for (std::uint32_t note = 0; note < noteCount; ++note) *fretSum += notes[note].fret;
        *noteTotal += noteCount;
    }
    return true;
}

void OpenAndWalk(benchmark::State &state, const std::string &name) {
    const PreparedSong &song = GetSong(name);
    std::vector<ZELTO_SongBeat> beats(64);
    std::vector<ZELTO_SongNote> notes(256);
    std::uint64_t notesWalked = 0;
    for (auto _ : state) {
        ZELTO_Song *handle = nullptr;
        std::uint64_t fretSum = 0;
        if (ZELTO_SongOpen(song.path.c_str(), &handle) != ZELTO_SONG_OK ||
            !WalkEveryNote(handle, beats, notes, &fretSum, &notesWalked)) {
            state.SkipWithError("the song did not open and walk");
            ZELTO_SongClose(handle);
            break;
        }
        benchmark::DoNotOptimize(fretSum);
        ZELTO_SongClose(handle);
    }
    state.counters["notes"] = benchmark::Counter(static_cast<double>(notesWalked), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * song.bytes.size()));
}

}  // namespace

void RegisterHandleBenchmarks() {
    for (const std::string &name : SongNames())
        benchmark::RegisterBenchmark(("OpenAndWalk/" + name).c_str(), OpenAndWalk, name)->Unit(benchmark::kMillisecond);
}

int WriteSongFile(const std::string &name, const std::string &path) {
    const PreparedSong &song = GetSong(name);
    std::FILE *out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        std::perror(path.c_str());
        return 1;
    }
    const bool written = std::fwrite(song.bytes.data(), 1, song.bytes.size(), out) == song.bytes.size();
    if (std::fclose(out) != 0 || !written) {
        std::perror(path.c_str());
        return 1;
    }
    return 0;
}

}  // namespace bench
