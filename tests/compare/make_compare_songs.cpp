// make_compare_songs.cpp - writes small songs, one rule of the performed
// rendering each, with the test-side writer, and beside each song its
// performed rendering (NAME.gp4, NAME.zelto.mid) into a folder, for
// compare_performed.py to set against another program's rendering.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "effect_songs.h"
#include "gp/perform.h"
#include "gp/song.h"
#include "gp4_writer.h"
#include "mid/midi.h"

namespace {

gp4::Song SongOf(const std::vector<std::vector<gp4::Beat>> &measures) { return gp4::OneTrackSong(measures); }

gp4::Beat Effect(gp4::Beat beat, int string, std::uint8_t flags1, std::uint8_t flags2) {
    return gp4::WithNoteEffects(beat, string, flags1, flags2);
}

gp4::Beat Quarter(int fret) { return gp4::QuarterNote(1, fret); }

gp4::Beat Tied(int fret) {
    gp4::Beat beat = Quarter(fret);
    beat.notes[0].type = 2;
    return beat;
}

std::vector<std::pair<std::string, gp4::Song>> Songs() {
    std::vector<std::pair<std::string, gp4::Song>> songs;
    songs.push_back({"tie", SongOf({{Quarter(0), Quarter(2), gp4::NoteBeat(gp4::Duration::Half, {{1, 5}})},
                                    {Tied(5), Tied(5), Quarter(7), Quarter(8)}})});

    gp4::Song endings = SongOf({{Quarter(0), Quarter(0), Quarter(0), Quarter(0)},
                                {Quarter(1), Quarter(1), Quarter(1), Quarter(1)},
                                {Quarter(2), Quarter(2), Quarter(2), Quarter(2)},
                                {Quarter(3), Quarter(3), Quarter(3), Quarter(3)}});
    endings.measures[0].flags |= gp4::MeasureBits::BeginRepeat;
    endings.measures[1].flags |= gp4::MeasureBits::AltEnding | gp4::MeasureBits::EndRepeat;
    endings.measures[1].altEnding = 1;
    endings.measures[1].repeatCount = 1;
    endings.measures[2].flags |= gp4::MeasureBits::AltEnding;
    endings.measures[2].altEnding = 2;
    songs.push_back({"endings", endings});
    gp4::Song threeEndings = endings;
    threeEndings.measures[1].repeatCount = 2;
    threeEndings.measures[1].altEnding = 3;  // passes 1 and 2 as bits, ending 3 as a number
    threeEndings.measures[2].altEnding = 4;
    songs.push_back({"endings_bits", threeEndings});

    gp4::Song capo = SongOf({{Quarter(0), Quarter(2), Quarter(4), Quarter(5)}});
    capo.tracks[0].capo = 2;
    songs.push_back({"capo", capo});

    gp4::Beat dead = Quarter(5);
    dead.notes[0].type = 3;
    songs.push_back({"shortened", SongOf({{dead, Effect(Quarter(5), 1, 0, 0x01), Effect(Quarter(5), 1, 0, 0x02),
                                           Quarter(5)}})});

    gp4::Beat ringing = Effect(gp4::NoteBeat(gp4::Duration::Quarter, {{1, 0}, {2, 0}}), 1, 0x08, 0);
    ringing = Effect(ringing, 2, 0x08, 0);
    songs.push_back({"let_ring", SongOf({{ringing, gp4::QuarterNote(3, 2), Quarter(3), gp4::QuarterNote(3, 4)}})});

    gp4::Beat ghost = Quarter(5);
    ghost.notes[0].flags |= 0x04;
    gp4::Beat accent = Quarter(5);
    accent.notes[0].flags |= 0x40;
    gp4::Beat heavy = Quarter(5);
    heavy.notes[0].flags |= 0x02;
    songs.push_back({"accents", SongOf({{Quarter(5), ghost, accent, heavy}})});

    gp4::Beat graced = Effect(Quarter(7), 1, 0x10, 0);
    graced.notes[0].effects.graceFret = 5;
    graced.notes[0].effects.graceDuration = 2;
    graced.notes[0].effects.graceTransition = 0;
    gp4::Beat slidGrace = graced;
    slidGrace.notes[0].effects.graceTransition = 1;
    songs.push_back({"grace", SongOf({{Quarter(0), graced, Quarter(0), slidGrace}})});

    std::vector<gp4::Beat> picked;
    for (std::uint8_t speed = 1; speed <= 3; ++speed) {
        gp4::Beat beat = Effect(Quarter(5), 1, 0, 0x04);
        beat.notes[0].effects.tremoloPicking = speed;
        picked.push_back(beat);
    }
    picked.push_back(Quarter(0));
    songs.push_back({"tremolo", SongOf({picked})});

    std::vector<gp4::Beat> trills;
    for (std::uint8_t period = 1; period <= 3; ++period) {
        gp4::Beat beat = Effect(Quarter(5), 1, 0, 0x20);
        beat.notes[0].effects.trillFret = 7;
        beat.notes[0].effects.trillPeriod = period;
        trills.push_back(beat);
    }
    trills.push_back(Quarter(0));
    songs.push_back({"trill", SongOf({trills})});

    std::vector<gp4::Beat> harmonics;
    const std::pair<int, std::uint8_t> kinds[] = {{12, 1}, {7, 1}, {5, 1}, {2, 22}};
    for (const auto &kind : kinds) {
        gp4::Beat beat = Effect(Quarter(kind.first), 1, 0, 0x10);
        beat.notes[0].effects.harmonic = kind.second;
        harmonics.push_back(beat);
    }
    songs.push_back({"harmonics", SongOf({harmonics})});

    gp4::Song drums = SongOf({{gp4::NoteBeat(gp4::Duration::Quarter, {{1, 36}, {2, 42}}), Quarter(38),
                               gp4::NoteBeat(gp4::Duration::Quarter, {{1, 36}, {2, 42}}), Quarter(38)}});
    drums.tracks[0].flags = 0x01;
    drums.tracks[0].channel = 10;
    drums.tracks[0].effectsChannel = 10;
    songs.push_back({"drums", drums});

    songs.push_back({"hammer", SongOf({{Effect(Quarter(5), 1, 0x02, 0), Quarter(7), Effect(Quarter(7), 1, 0x02, 0),
                                        Quarter(5)}})});
    AddEffectSongs(&songs);
    return songs;
}

bool WritePerformed(const std::string &songPath, const std::string &midiPath) {
    std::FILE *stream = std::fopen(songPath.c_str(), "rb");
    if (stream == nullptr) return false;
    Talvoren::FileStruct file = {};
    const bool loaded = Talvoren::LoadFileStruct(&file, stream) == 1;
    std::fclose(stream);
    if (!loaded) return false;
    Talvoren::MidiFileStruct midi;
    bool written = false;
    if (Talvoren::InitMidiFileStruct(&midi, file.headers.pieceInfo.trackCount + 1, 480)) {
        if (Talvoren::ToPerformedMidi(&file, &midi, 30)) {
            std::FILE *out = std::fopen(midiPath.c_str(), "wb");
            if (out != nullptr) {
                written = Talvoren::SaveMidiFileStruct(&midi, out) == 1;
                written = std::fclose(out) == 0 && written;
            }
        }
        Talvoren::FreeMidiFileStruct(&midi);
    }
    Talvoren::FreeFileStruct(&file);
    return written;
}

}  // namespace

int main(int argumentCount, char **arguments) {
    if (argumentCount != 2) {
        std::fprintf(stderr, "usage: make_compare_songs FOLDER\n");
        return 2;
    }
    const std::string folder = arguments[1];
    for (const auto &song : Songs()) {
        const std::string songPath = folder + "/" + song.first + ".gp4";
        const gp4::Bytes bytes = gp4::WriteSong(song.second);
        std::FILE *out = std::fopen(songPath.c_str(), "wb");
        if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || std::fclose(out) != 0) {
            std::fprintf(stderr, "make_compare_songs: cannot write %s\n", songPath.c_str());
            return 1;
        }
        if (!WritePerformed(songPath, folder + "/" + song.first + ".zelto.mid")) {
            std::fprintf(stderr, "make_compare_songs: cannot render %s\n", songPath.c_str());
            return 1;
        }
    }
    return 0;
}
