// make_demo.cpp - writes examples/demo.gp4, the project's demo song: a short
// piece for melody and bass, composed with the test-side song writer.
//
// Usage: make_demo OUT.gp4
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gp4_writer.h"

namespace {

using gp4::Beat;
using gp4::Duration::Eighth;
using gp4::Duration::Half;
using gp4::Duration::Quarter;
using gp4::Duration::Whole;

// Strings of the two instruments, first string first.
constexpr int kHighE = 1, kB = 2, kG = 3;          // melody: a guitar in standard tuning
constexpr int kBassD = 2, kBassA = 3, kBassE = 4;  // bass: a four-string bass, G D A E

// Colours as the file stores them: red, green, blue and a zero byte, read
// as one little-endian value.
constexpr std::uint32_t Colour(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return red | (green << 8) | (static_cast<std::uint32_t>(blue) << 16);
}

Beat Note(std::int8_t duration, int string, int fret) { return gp4::NoteBeat(duration, {{string, fret}}); }

Beat Dotted(Beat beat) {
    beat.flags |= gp4::BeatBits::Dotted;
    return beat;
}

Beat Triplet(Beat beat) {
    beat.flags |= gp4::BeatBits::Tuplet;
    beat.tuplet = 3;
    return beat;
}

// Notes play at the default loudness; this gives a beat's notes a dynamic of
// their own (1 softest to 8 loudest).
Beat Loud(Beat beat, std::uint8_t dynamic) {
    for (gp4::Note &note : beat.notes) {
        note.flags |= gp4::NoteBits::Dynamic;
        note.dynamic = dynamic;
    }
    return beat;
}

gp4::Song DemoSong() {
    gp4::Song song;
    song.version = "FICHIER GUITAR PRO v4.06";
    song.title = "Zelto Demo";
    song.subtitle = "A little piece for melody and bass";
    song.interpret = "The zelto project";
    song.album = "Examples";
    song.author = "zelto developers";
    song.copyright = "Free to use, copy and change";
    song.tabAuthor = "examples/make_demo.cpp";
    song.instructions = "Play the first part twice, then a little faster.";
    song.noticeLines = {"Written by examples/make_demo.cpp.",
                        "Try: zelto info examples/demo.gp4"};
    song.tripletFeel = 0;
    song.lyricsTrack = 1;
    song.lyrics[0].text = "Here is a song, a little song,\nplayed twice and then moved along";
    song.tempo = 100;
    song.key = 0;
    song.octave = 0;

    // Channel table: the melody on channel 1 (effects on 2), a nylon-string
    // guitar; the bass on channel 3 (effects on 4), a finger-played bass.
    for (auto &port : song.channels)
        for (gp4::ChannelEntry &entry : port) {
            entry.instrument = 0;
            entry.volume = 13;
            entry.balance = 8;
        }
    song.channels[0][0].instrument = 24;
    song.channels[0][1].instrument = 24;
    song.channels[0][2].instrument = 33;
    song.channels[0][3].instrument = 33;
    song.channels[0][2].volume = 14;
    song.channels[0][3].volume = 14;

    gp4::Track melody;
    melody.name = "Melody";
    melody.stringCount = 6;
    melody.tunings = {64, 59, 55, 50, 45, 40, 0};
    melody.port = 1;
    melody.channel = 1;
    melody.effectsChannel = 2;
    melody.frets = 24;
    melody.capo = 0;
    melody.colour = Colour(0xFF, 0x00, 0x00);

    gp4::Track bass;
    bass.name = "Bass";
    bass.stringCount = 4;
    bass.tunings = {43, 38, 33, 28, 0, 0, 0};
    bass.port = 1;
    bass.channel = 3;
    bass.effectsChannel = 4;
    bass.frets = 20;
    bass.capo = 0;
    bass.colour = Colour(0x00, 0x40, 0xFF);
    song.tracks = {melody, bass};

    // Measure 1 opens the repeat and carries the first marker and the time
    // signature; measure 3 closes the repeat, so measures 1 to 3 play twice.
    gp4::MeasureHeader intro = gp4::TimeSignature(4, 4);
    intro.flags |= gp4::MeasureBits::BeginRepeat | gp4::MeasureBits::Marker;
    intro.markerText = "Intro";
    intro.markerColor = Colour(0xFF, 0x00, 0x00);
    gp4::MeasureHeader plain;
    gp4::MeasureHeader closing;
    closing.flags = gp4::MeasureBits::EndRepeat;
    closing.repeatCount = 1;
    gp4::MeasureHeader theme;
    theme.flags = gp4::MeasureBits::Marker | gp4::MeasureBits::DoubleBar;
    theme.markerText = "Theme";
    theme.markerColor = Colour(0x00, 0xA0, 0x00);
    gp4::MeasureHeader ending;
    ending.flags = gp4::MeasureBits::Marker;
    ending.markerText = "End";
    ending.markerColor = Colour(0x00, 0x00, 0xFF);
    song.measures = {intro, plain, closing, theme, plain, ending};

    // The second part starts faster: a mix-table change on its first beat.
    Beat faster = Loud(Note(Quarter, kHighE, 8), 7);
    faster.flags |= gp4::BeatBits::MixTable;
    faster.mix.tempo = 120;

    // A C major chord to end on: G3, C4, E4.
    Beat finalChord = gp4::NoteBeat(Whole, {{kHighE, 0}, {kB, 1}, {kG, 0}});

    song.beats = {
        // 1: E4 dotted quarter, D4 eighth, C4 half | bass C2, G1.
        {{Dotted(Note(Quarter, kHighE, 0)), Note(Eighth, kB, 3), Note(Half, kB, 1)},
         {Note(Half, kBassA, 3), Note(Half, kBassE, 3)}},
        // 2: a triplet E4 F4 G4, A4 quarter, G4 half | bass F2, C2.
        {{Triplet(Note(Eighth, kHighE, 0)), Triplet(Note(Eighth, kHighE, 1)),
          Triplet(Note(Eighth, kHighE, 3)), Loud(Note(Quarter, kHighE, 5), 7), Note(Half, kHighE, 3)},
         {Note(Half, kBassD, 3), Note(Half, kBassA, 3)}},
        // 3: F4, E4, D4 and a quarter rest | bass G1 half, half rest.
        {{Note(Quarter, kHighE, 1), Note(Quarter, kHighE, 0), Note(Quarter, kB, 3), gp4::RestBeat(Quarter)},
         {Note(Half, kBassE, 3), gp4::RestBeat(Half)}},
        // 4: C5 quarter (faster from here), B4 and A4 eighths, G4 dotted quarter, E4 eighth | A1, E2.
        {{faster, Note(Eighth, kHighE, 7), Note(Eighth, kHighE, 5), Dotted(Note(Quarter, kHighE, 3)),
          Note(Eighth, kHighE, 0)},
         {Note(Half, kBassA, 0), Note(Half, kBassA, 7)}},
        // 5: D4, F4, A4, G4 | D2, G1.
        {{Note(Quarter, kB, 3), Note(Quarter, kHighE, 1), Note(Quarter, kHighE, 5), Note(Quarter, kHighE, 3)},
         {Note(Half, kBassD, 0), Note(Half, kBassE, 3)}},
        // 6: the chord | C2 whole.
        {{finalChord}, {Note(Whole, kBassA, 3)}},
    };
    return song;
}

}  // namespace

int main(int argumentCount, char **arguments) {
    if (argumentCount != 2 || std::strcmp(arguments[1], "--help") == 0) {
        std::fprintf(stderr, "usage: make_demo OUT.gp4\n");
        return 2;
    }
    gp4::Bytes bytes = gp4::WriteSong(DemoSong());
    std::FILE *out = std::fopen(arguments[1], "wb");
    if (out == nullptr) {
        std::perror(arguments[1]);
        return 1;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (std::fclose(out) != 0 || !written) {
        std::perror(arguments[1]);
        return 1;
    }
    return 0;
}
