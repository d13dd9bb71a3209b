// bench_support.cpp - composes, stores and measures the benchmark songs.
#include "bench_support.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>

#include "bench_songs.h"
#include "smf_check.h"
#include "zelto.h"

namespace bench {

namespace {

struct SongMaker {
    std::string name;
    std::function<gp4::Bytes()> compose;
};

const std::vector<SongMaker> &SongMakers() {
    static const std::vector<SongMaker> makers = {
        {"typical", [] { return TypicalSong(200); }},
        {"typical_x4", [] { return TypicalSong(800); }},
        {"big", [] { return BigSong(); }},
        {"sparse", [] { return SparseSong(16); }},
        {"sparse_long", [] { return SparseSong(32); }},
        {"tempo_mix", [] { return TempoChangeSong(); }},
        {"collection", [] { return CollectionSong(); }},
        {"effects", [] { return EffectSong(96, 0x7F4A7C15u); }},
        {"small", [] { return SmallSong(); }},
    };
    return makers;
}

[[noreturn]] void GiveUp(const std::string &name, const char *why) {
    std::fprintf(stderr, "benchmark song %s: %s\n", name.c_str(), why);
    std::abort();
}

// Loads the file through the interface and counts the events of its export.
void MeasureExport(PreparedSong &song) {
    ZELTO_Init();
    if (!ZELTO_Load(song.path.c_str())) GiveUp(song.name, "does not load");
    unsigned char *buffer = nullptr;
    std::uint32_t size = 0;
    if (!ZELTO_CreateMidiBuffer(&buffer, &size) || buffer == nullptr) GiveUp(song.name, "does not export");
    smf::File parsed;
    std::string error;
    if (!smf::Parse(buffer, size, &parsed, &error)) GiveUp(song.name, error.c_str());
    song.midiEvents = 0;
    for (const smf::Track &track : parsed.tracks) song.midiEvents += track.events.size();
    song.midiBytes = size;
    ZELTO_DestroyMidiBuffer(buffer);
    ZELTO_Unload();
}

}  // namespace

const std::vector<std::string> &SongNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const SongMaker &maker : SongMakers()) list.push_back(maker.name);
        return list;
    }();
    return names;
}

const PreparedSong &GetSong(const std::string &name) {
    static std::map<std::string, std::unique_ptr<PreparedSong>> prepared;
    auto found = prepared.find(name);
    if (found != prepared.end()) return *found->second;
    for (const SongMaker &maker : SongMakers()) {
        if (maker.name != name) continue;
        auto song = std::make_unique<PreparedSong>();
        song->name = name;
        song->bytes = maker.compose();
        song->path = gp4::WriteTempFile(song->bytes, name + ".gp4");
        MeasureExport(*song);
        return *(prepared[name] = std::move(song));
    }
    GiveUp(name, "no such song");
}

}  // namespace bench
