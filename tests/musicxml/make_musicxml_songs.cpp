// make_musicxml_songs.cpp - writes the songs the MusicXML tests export, with
// the test-side writer, and beside each NAME.performed.mid, the performed
// rendering of the song by the C library's global song, whose notes the
// notation staff must agree with.
//
// Usage: make_musicxml_songs OUTDIR
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "gp4_writer.h"
#include "zelto.h"
#include "zelto_performed.h"

namespace {

using gp4::Beat;
using gp4::NoteBeat;
using gp4::QuarterNote;
using gp4::Song;
namespace Duration = gp4::Duration;

bool Save(const std::string &path, const void *bytes, std::size_t size) {
    std::FILE *out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    const bool written = std::fwrite(bytes, 1, size, out) == size;
    return std::fclose(out) == 0 && written;
}

bool SaveSong(const std::string &folder, const std::string &name, const Song &song) {
    const std::string path = folder + "/" + name + ".gp4";
    const gp4::Bytes bytes = gp4::WriteSong(song);
    if (!Save(path, bytes.data(), bytes.size())) return false;
    ZELTO_Init();
    if (!ZELTO_Load(path.c_str())) return false;
    unsigned char *buffer = nullptr;
    std::uint32_t size = 0;
    const bool saved = ZELTO_CreatePerformedMidiBuffer(&buffer, &size) && buffer != nullptr &&
                       Save(folder + "/" + name + ".performed.mid", buffer, size);
    ZELTO_DestroyMidiBuffer(buffer);
    ZELTO_Unload();
    return saved;
}

Beat Tuplet(Beat beat, int count) {
    beat.flags |= gp4::BeatBits::Tuplet;
    beat.tuplet = count;
    return beat;
}

Beat Dotted(Beat beat) {
    beat.flags |= gp4::BeatBits::Dotted;
    return beat;
}

Beat NoteFlags(Beat beat, int string, std::uint8_t flags) {
    beat.notes[string - 1].flags |= flags;
    return beat;
}

Beat Typed(Beat beat, int string, std::uint8_t type) {
    beat.notes[string - 1].type = type;
    return beat;
}

// Plain notes in every value, dot and tuplet, in a flat key with accidentals:
// no repeats, ties or effects, so that the notation's pitches and onsets are
// the performed rendering's notes one for one.
Song PlainSong() {
    Song song = gp4::OneTrackSong({
        {QuarterNote(1, 0), QuarterNote(1, 1), QuarterNote(1, 2), QuarterNote(1, 1)},
        {Tuplet(NoteBeat(Duration::Eighth, {{2, 1}}), 3), Tuplet(NoteBeat(Duration::Eighth, {{2, 2}}), 3),
         Tuplet(NoteBeat(Duration::Eighth, {{2, 3}}), 3), Dotted(NoteBeat(Duration::Quarter, {{3, 0}})),
         NoteBeat(Duration::Eighth, {{3, 1}}), NoteBeat(Duration::Quarter, {{1, 0}, {2, 1}, {3, 0}})},
        std::vector<Beat>(5, Tuplet(NoteBeat(Duration::Sixteenth, {{1, 3}}), 5)),
    });
    song.key = -3;
    std::vector<Beat> nonuplets(9, Tuplet(NoteBeat(Duration::Sixteenth, {{4, 2}}), 9));
    nonuplets.push_back(NoteBeat(Duration::Half, {{6, 3}}));
    song.beats[2][0].push_back(NoteBeat(Duration::Quarter, {{1, 5}}));
    song.beats[2][0].push_back(NoteBeat(Duration::Half, {{1, 7}}));
    song.measures.push_back({});
    song.beats.push_back({nonuplets});
    // Three quarters in a 3/4 measure, then a measure holding less than its length.
    song.measures.push_back(gp4::TimeSignature(3, 4));
    song.beats.push_back({{QuarterNote(2, 5), QuarterNote(2, 6), QuarterNote(2, 8)}});
    song.measures.push_back({});
    song.beats.push_back({{QuarterNote(3, 4)}});
    return song;
}

// A repeat of three passes whose closing measure carries ending 2 and whose
// next measure carries ending 3; then endings 1, 2 and 3 one by one.
Song EndingsSong() {
    Song song = gp4::OneTrackSong({});
    for (int measure = 0; measure < 23; ++measure) {
        song.measures.push_back({});
        song.beats.push_back({{NoteBeat(Duration::Whole, {{1, measure % 12}})}});
    }
    song.measures[0] = gp4::TimeSignature(4, 4);
    song.measures[2].flags |= gp4::MeasureBits::BeginRepeat;
    song.measures[17].flags |= gp4::MeasureBits::EndRepeat | gp4::MeasureBits::AltEnding;
    song.measures[17].repeatCount = 2;
    song.measures[17].altEnding = 2;
    song.measures[18].flags |= gp4::MeasureBits::AltEnding;
    song.measures[18].altEnding = 3;
    song.measures[19].flags |= gp4::MeasureBits::BeginRepeat;
    song.measures[20].flags |= gp4::MeasureBits::EndRepeat | gp4::MeasureBits::AltEnding;
    song.measures[20].repeatCount = 2;
    song.measures[20].altEnding = 1;
    song.measures[21].flags |= gp4::MeasureBits::EndRepeat | gp4::MeasureBits::AltEnding;
    song.measures[21].repeatCount = 2;
    song.measures[21].altEnding = 2;
    song.measures[22].flags |= gp4::MeasureBits::AltEnding | gp4::MeasureBits::DoubleBar;
    song.measures[22].altEnding = 3;
    return song;
}

// Every note and beat effect, one beat each, with a tie across the bar line.
Song EffectsSong() {
    using gp4::WithBeatEffects;
    using gp4::WithNoteEffects;
    namespace Bits = gp4::NoteEffectBits;
    Beat grace = WithNoteEffects(QuarterNote(2, 5), 2, Bits::Grace, 0);
    Beat trill = WithNoteEffects(QuarterNote(2, 5), 2, 0, Bits::Trill);
    trill.notes[1].effects.trillFret = 7;
    Beat artificial = WithNoteEffects(QuarterNote(3, 5), 3, 0, Bits::Harmonic);
    artificial.notes[2].effects.harmonic = 15;
    Beat down = WithBeatEffects(NoteBeat(Duration::Quarter, {{1, 0}, {2, 1}, {3, 0}}), gp4::BeatEffectBits::Stroke, 0);
    down.effects.strokeSpeeds = {3, 0};
    Beat up = WithBeatEffects(NoteBeat(Duration::Quarter, {{1, 0}, {2, 1}, {3, 0}}), gp4::BeatEffectBits::Stroke, 0);
    up.effects.strokeSpeeds = {0, 3};
    Song song = gp4::OneTrackSong({
        {Typed(QuarterNote(1, 3), 1, 3), NoteFlags(QuarterNote(1, 3), 1, 0x04), NoteFlags(QuarterNote(1, 3), 1, 0x40),
         NoteFlags(QuarterNote(1, 3), 1, 0x02)},
        {WithNoteEffects(QuarterNote(1, 3), 1, 0, 0x01), WithNoteEffects(QuarterNote(1, 3), 1, 0, 0x02),
         WithNoteEffects(QuarterNote(1, 3), 1, 0x08, 0), WithNoteEffects(QuarterNote(1, 3), 1, 0, 0x40)},
        {WithNoteEffects(QuarterNote(2, 5), 2, 0x02, 0), QuarterNote(2, 7), gp4::WithSlide(QuarterNote(2, 7), 2, 1),
         QuarterNote(2, 9)},
        {gp4::WithBend(QuarterNote(3, 7), 3, {{0, 0, 0}, {6, 100, 0}, {12, 100, 0}}),
         gp4::WithBend(QuarterNote(3, 7), 3, {{0, 50, 0}, {12, 0, 0}}), grace, trill},
        {WithNoteEffects(QuarterNote(3, 5), 3, 0, Bits::TremoloPicking), WithNoteEffects(QuarterNote(3, 12), 3, 0, Bits::Harmonic),
         artificial, WithBeatEffects(QuarterNote(4, 2), 0x10, 0)},
        {down, up, NoteBeat(Duration::Half, {{5, 3}})},
        {Typed(NoteBeat(Duration::Half, {{5, 3}}), 5, 2), gp4::RestBeat(Duration::Half)},
    });
    song.beats[0][0][0].flags |= gp4::BeatBits::Text;
    song.beats[0][0][0].text = "Intro riff";
    song.beats[1][0][0].notes[0].flags |= gp4::NoteBits::Dynamic;
    song.beats[1][0][0].notes[0].dynamic = 3;
    song.beats[2][0][0].flags |= gp4::BeatBits::MixTable;
    song.beats[2][0][0].mix.tempo = 90;
    song.measures[1].flags |= gp4::MeasureBits::Marker;
    song.measures[1].markerText = "Verse & <chorus>";
    song.tripletFeel = 1;
    song.tracks[0].capo = 2;
    song.lyricsTrack = 1;
    song.lyrics[0].text = "Hel-lo dear\nwor-ld";
    return song;
}

// A drum track and a bass track beside a guitar.
Song BandSong() {
    Song song = gp4::OneTrackSong({
        {QuarterNote(1, 0), QuarterNote(1, 2), QuarterNote(1, 3), QuarterNote(1, 5)},
        {NoteBeat(Duration::Whole, {{1, 0}, {2, 0}})},
    });
    gp4::Track drums;
    drums.name = "Drums";
    drums.flags = 0x01;
    drums.channel = 10;
    drums.effectsChannel = 10;
    gp4::Track bass;
    bass.name = "Bass";
    bass.stringCount = 4;
    bass.tunings = {43, 38, 33, 28, 0, 0, 0};
    bass.channel = 3;
    bass.effectsChannel = 4;
    song.tracks.push_back(drums);
    song.tracks.push_back(bass);
    song.beats[0].push_back({NoteBeat(Duration::Quarter, {{1, 42}, {6, 36}}), NoteBeat(Duration::Quarter, {{1, 42}, {3, 38}}),
                             NoteBeat(Duration::Quarter, {{1, 42}, {6, 36}}), NoteBeat(Duration::Quarter, {{2, 49}, {3, 38}})});
    song.beats[0].push_back({NoteBeat(Duration::Half, {{4, 0}}), NoteBeat(Duration::Half, {{3, 2}})});
    song.beats[1].push_back({gp4::RestBeat(Duration::Whole)});
    song.beats[1].push_back({NoteBeat(Duration::Whole, {{4, 3}})});
    return song;
}

// A 4/4 measure holding five quarters, then one that holds its length.
Song OverfullSong() {
    return gp4::OneTrackSong({std::vector<Beat>(5, QuarterNote(1, 3)), {NoteBeat(Duration::Whole, {{1, 5}})}});
}

// Tunings at the ends of their 32-bit field and a capo past any neck: the
// keys they make are no MIDI keys, and the score must still be written.
Song HostileTuningSong() {
    Song song = gp4::OneTrackSong({{QuarterNote(1, 255), QuarterNote(6, 3), QuarterNote(2, 1), QuarterNote(1, 0)}});
    song.tracks[0].tunings[0] = INT32_MIN;
    song.tracks[0].tunings[5] = INT32_MAX;
    song.tracks[0].capo = 0xFFFFFFFFu;
    return song;
}

}  // namespace

int main(int argumentCount, char **arguments) {
    if (argumentCount != 2) {
        std::fprintf(stderr, "usage: make_musicxml_songs OUTDIR\n");
        return 2;
    }
    const std::string folder = arguments[1];
    const bool saved = SaveSong(folder, "minimal", gp4::MinimalSong()) &&
                       SaveSong(folder, "rich", gp4::FeatureRichSong(0)) &&
                       SaveSong(folder, "second", gp4::FeatureRichSong(1)) && SaveSong(folder, "plain", PlainSong()) &&
                       SaveSong(folder, "endings", EndingsSong()) && SaveSong(folder, "effects", EffectsSong()) &&
                       SaveSong(folder, "band", BandSong()) && SaveSong(folder, "overfull", OverfullSong()) &&
                       SaveSong(folder, "hostile", HostileTuningSong());
    if (!saved) std::fprintf(stderr, "make_musicxml_songs: a song could not be written to %s\n", folder.c_str());
    return saved ? 0 : 1;
}
