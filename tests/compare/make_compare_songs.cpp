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
    // A section played three times: ending 2 on its close takes passes 1 and 2, ending 3 after it pass 3.
    gp4::Song threeEndings = endings;
    threeEndings.measures[1].repeatCount = 2;
    threeEndings.measures[1].altEnding = 2;
    threeEndings.measures[2].altEnding = 3;
    songs.push_back({"endings_two_three", threeEndings});

    // Endings 1, 2 and 3, each closing its pass.
    std::vector<std::vector<gp4::Beat>> numbered;
    for (int measure = 0; measure < 5; ++measure)
        numbered.push_back({Quarter(measure), Quarter(measure), Quarter(measure), Quarter(measure)});
    gp4::Song eachPass = SongOf(numbered);
    eachPass.measures[0].flags |= gp4::MeasureBits::BeginRepeat;
    for (std::size_t measure = 1; measure <= 3; ++measure) {
        eachPass.measures[measure].flags |= gp4::MeasureBits::AltEnding;
        eachPass.measures[measure].altEnding = static_cast<std::uint8_t>(measure);
    }
    for (std::size_t measure = 1; measure <= 2; ++measure) {
        eachPass.measures[measure].flags |= gp4::MeasureBits::EndRepeat;
        eachPass.measures[measure].repeatCount = 1;
    }
    songs.push_back({"endings_each_pass", eachPass});

    // Time signatures inside repeats: a 2/4 first ending and a second ending
    // that stores none; a jump back to a 3/4 measure from a 2/4 one.
    gp4::Song signedEnding = endings;
    signedEnding.measures[1].flags |= gp4::MeasureBits::Numerator | gp4::MeasureBits::Denominator;
    signedEnding.measures[1].numerator = 2;
    signedEnding.beats[1][0] = {Quarter(1), Quarter(1)};
    signedEnding.beats[2][0] = {Quarter(2), Quarter(2)};
    signedEnding.measures[3].flags |= gp4::MeasureBits::Numerator;
    songs.push_back({"signature_ending", signedEnding});
    gp4::Song signedJump = SongOf({{Quarter(0), Quarter(0), Quarter(0)},
                                   {Quarter(1), Quarter(1), Quarter(1)},
                                   {Quarter(2), Quarter(2)},
                                   {Quarter(3), Quarter(3), Quarter(3)}});
    signedJump.measures[0].numerator = 3;
    signedJump.measures[1].flags |= gp4::MeasureBits::BeginRepeat;
    signedJump.measures[2].flags |= gp4::MeasureBits::Numerator | gp4::MeasureBits::EndRepeat;
    signedJump.measures[2].numerator = 2;
    signedJump.measures[2].repeatCount = 1;
    songs.push_back({"signature_jump", signedJump});

    // A tie after a palm-muted note with a beat on another string between.
    songs.push_back({"tie_after_mute", SongOf({{Effect(Quarter(5), 1, 0, 0x02), gp4::QuarterNote(2, 0), Tied(5),
                                                Quarter(7)}})});

    // Five quarters in a 4/4 measure, the fifth on another string.
    songs.push_back({"overfull", SongOf({{Quarter(0), Quarter(1), Quarter(2), Quarter(3), gp4::QuarterNote(2, 0)},
                                         {Quarter(7), Quarter(8), Quarter(7), Quarter(8)}})});

    // Triplet feel: eighths on and off the beat, one after a dotted quarter.
    gp4::Beat dottedQuarter = Quarter(0);
    dottedQuarter.flags |= gp4::BeatBits::Dotted;
    const gp4::Beat eighth = gp4::NoteBeat(gp4::Duration::Eighth, {{1, 2}});
    gp4::Song swing = SongOf({{eighth, eighth, dottedQuarter, eighth, Quarter(3)}});
    swing.tripletFeel = 1;
    songs.push_back({"swing", swing});

    // Nine nonuplet sixteenths, then a half note.
    gp4::Beat nonuplet = gp4::NoteBeat(gp4::Duration::Sixteenth, {{1, 0}});
    nonuplet.flags |= gp4::BeatBits::Tuplet;
    nonuplet.tuplet = 9;
    std::vector<gp4::Beat> nonuplets(9, nonuplet);
    for (std::size_t index = 0; index < nonuplets.size(); ++index)
        nonuplets[index].notes[0].fret = static_cast<std::uint8_t>(index);
    nonuplets.push_back(gp4::NoteBeat(gp4::Duration::Half, {{1, 12}}));
    songs.push_back({"nonuplets", SongOf({nonuplets})});

    // A unison of two strings, then a let-ring note whose key another string strikes.
    songs.push_back({"unison", SongOf({{gp4::NoteBeat(gp4::Duration::Quarter, {{1, 0}, {2, 5}}),
                                        Effect(Quarter(0), 1, 0x08, 0), gp4::QuarterNote(2, 5), Quarter(3)}})});

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
