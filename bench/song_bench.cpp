// song_bench.cpp - loading, exporting (MIDI both ways, and MusicXML), and both, of every benchmark song:
// through the public interface as a host calls it, and through the reader and
// the conversion directly on an in-memory stream.
#include "song_bench.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "bench_support.h"
#include "gp/convert.h"
#include "gp/perform.h"
#include "gp/song.h"
#include "mid/midi.h"
#include "heap.h"
#include "xml/musicxml.h"
#include "zelto.h"
#include "zelto_performed.h"

namespace bench {

namespace {

void CountEvents(benchmark::State &state, const PreparedSong &song) {
    state.counters["midi_events"] = static_cast<double>(song.midiEvents);
    state.counters["events"] =
        benchmark::Counter(static_cast<double>(song.midiEvents), benchmark::Counter::kIsIterationInvariantRate);
}

void CountFileBytes(benchmark::State &state, const PreparedSong &song) {
    state.counters["file_bytes"] = static_cast<double>(song.bytes.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(song.bytes.size()));
}

// LoadFileStruct from a memory stream over the song's bytes.
bool LoadFromBytes(gp4::Bytes &bytes, Talvoren::FileStruct *file) {
    std::FILE *stream = fmemopen(bytes.data(), bytes.size(), "rb");
    if (stream == nullptr) return false;
    const int loaded = Talvoren::LoadFileStruct(file, stream);
    std::fclose(stream);
    return loaded == 1;
}

// ZELTO_Load from the file (in the page cache), then ZELTO_Unload.
void LoadThroughInterface(benchmark::State &state, const std::string &name) {
    const PreparedSong &song = GetSong(name);
    ZELTO_Init();
    for (auto _ : state) {
        if (!ZELTO_Load(song.path.c_str())) {
            state.SkipWithError("the song did not load");
            break;
        }
        ZELTO_Unload();
    }
    CountFileBytes(state, song);
}

// LoadFileStruct from a memory stream, then FreeFileStruct: the reader alone.
void LoadFromMemory(benchmark::State &state, const std::string &name) {
    const PreparedSong &song = GetSong(name);
    gp4::Bytes bytes = song.bytes;
    for (auto _ : state) {
        Talvoren::FileStruct file;
        if (!LoadFromBytes(bytes, &file)) {
            state.SkipWithError("the song did not load");
            break;
        }
        Talvoren::FreeFileStruct(&file);
    }
    CountFileBytes(state, song);
}

// The song's model, read from a copy of its bytes; false, with the benchmark
// skipped, when it does not load.
bool LoadSong(benchmark::State &state, const PreparedSong &song, Talvoren::FileStruct *file) {
    gp4::Bytes bytes = song.bytes;
    if (LoadFromBytes(bytes, file)) return true;
    state.SkipWithError("the song did not load");
    return false;
}

using BufferExport = int (*)(unsigned char **buffer, std::uint32_t *size);
using Conversion = int (*)(Talvoren::FileStruct *file, Talvoren::MidiFileStruct *midi, std::uint32_t pulses);

// An export entry point and ZELTO_DestroyMidiBuffer on the loaded song.
void ExportWith(benchmark::State &state, const std::string &name, BufferExport createBuffer) {
    const PreparedSong &song = GetSong(name);
    ZELTO_Init();
    if (!ZELTO_Load(song.path.c_str())) {
        state.SkipWithError("the song did not load");
        return;
    }
    for (auto _ : state) {
        unsigned char *buffer = nullptr;
        std::uint32_t size = 0;
        if (!createBuffer(&buffer, &size) || buffer == nullptr) {
            state.SkipWithError("the song did not export");
            break;
        }
        benchmark::DoNotOptimize(buffer[size - 1]);
        ZELTO_DestroyMidiBuffer(buffer);
    }
    ZELTO_Unload();
    CountEvents(state, song);
}

// A conversion alone: a fresh model, the conversion, and its release.
void ConvertWith(benchmark::State &state, const std::string &name, Conversion convert) {
    const PreparedSong &song = GetSong(name);
    Talvoren::FileStruct file;
    if (!LoadSong(state, song, &file)) return;
    const std::uint32_t chunkCount = file.headers.pieceInfo.trackCount + 1;
    for (auto _ : state) {
        Talvoren::MidiFileStruct midi;
        if (!Talvoren::InitMidiFileStruct(&midi, chunkCount, 480) || !convert(&file, &midi, 30)) {
            state.SkipWithError("the song did not convert");
            Talvoren::FreeMidiFileStruct(&midi);
            break;
        }
        benchmark::DoNotOptimize(midi.tracks[0].header.length);
        Talvoren::FreeMidiFileStruct(&midi);
    }
    Talvoren::FreeFileStruct(&file);
    CountEvents(state, song);
}

// What a host converting a collection does per song: load, export, give the
// buffer back, unload.
void LoadAndExport(benchmark::State &state, const std::string &name) {
    const PreparedSong &song = GetSong(name);
    ZELTO_Init();
    for (auto _ : state) {
        unsigned char *buffer = nullptr;
        std::uint32_t size = 0;
        if (!ZELTO_Load(song.path.c_str())) {
            state.SkipWithError("the song did not load");
            break;
        }
        if (!ZELTO_CreateMidiBuffer(&buffer, &size) || buffer == nullptr) {
            state.SkipWithError("the song did not export");
            ZELTO_Unload();
            break;
        }
        benchmark::DoNotOptimize(buffer[size - 1]);
        ZELTO_DestroyMidiBuffer(buffer);
        ZELTO_Unload();
    }
    CountFileBytes(state, song);
    CountEvents(state, song);
}

void ExportThroughInterface(benchmark::State &state, const std::string &name) {
    ExportWith(state, name, ZELTO_CreateMidiBuffer);
}

void ExportPerformed(benchmark::State &state, const std::string &name) {
    ExportWith(state, name, ZELTO_CreatePerformedMidiBuffer);
}

void ConvertDirectly(benchmark::State &state, const std::string &name) { ConvertWith(state, name, Talvoren::ToMidi); }

void ConvertPerformed(benchmark::State &state, const std::string &name) {
    ConvertWith(state, name, Talvoren::ToPerformedMidi);
}

// The MusicXML export of the loaded song, and its release.
void ExportMusicXml(benchmark::State &state, const std::string &name) {
    Talvoren::FileStruct file;
    if (!LoadSong(state, GetSong(name), &file)) return;
    std::uint64_t written = 0;
    for (auto _ : state) {
        Talvoren::XmlText text = {};
        if (Talvoren::ToMusicXml(&file, &text) != Talvoren::MusicXmlOutcome::Written) {
            state.SkipWithError("the song did not export");
            break;
        }
        written = text.size;
        benchmark::DoNotOptimize(text.bytes[text.size - 1]);
        Talvoren::MemFree(text.bytes);
    }
    Talvoren::FreeFileStruct(&file);
    state.counters["xml_bytes"] = static_cast<double>(written);
}

void Register(const char *family, void (*run)(benchmark::State &, const std::string &)) {
    for (const std::string &name : SongNames()) {
        benchmark::RegisterBenchmark((std::string(family) + "/" + name).c_str(), run, name)
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

void RegisterSongBenchmarks() {
    Register("Load", LoadThroughInterface);
    Register("LoadStream", LoadFromMemory);
    Register("Export", ExportThroughInterface);
    Register("ToMidi", ConvertDirectly);
    Register("PerformedExport", ExportPerformed);
    Register("ToPerformedMidi", ConvertPerformed);
    Register("LoadAndExport", LoadAndExport);
    Register("ToMusicXml", ExportMusicXml);
}

}  // namespace bench
