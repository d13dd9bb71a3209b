// performed_test.cpp - the performed rendering through the public interface:
// songs from the test-side writer rendered with ZELTO_CreatePerformedMidiBuffer,
// every buffer checked by the strict reader, and its notes (onset, key,
// length, velocity, channel) compared with what a guitarist would play.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "gp/perform.h"
#include "mid/midi.h"
#include "gp4_writer.h"
#include "smf_check.h"
#include "zelto.h"
#include "zelto_performed.h"

namespace {

// A sounded note: its note-on paired with the next note-off of its key.
struct PlayedNote {
    std::uint64_t onset = 0;
    std::uint64_t length = 0;
    std::uint32_t key = 0;
    std::uint32_t velocity = 0;
    std::uint32_t channel = 0;
};

struct Performed {
    int result = -1;
    bool hadBuffer = false;
    smf::Bytes bytes;
    smf::File file;
};

Performed RenderPerformed(const gp4::Song &song) {
    Performed performed;
    ZELTO_Unload();
    const std::string path = gp4::WriteTempFile(gp4::WriteSong(song), "performed");
    EXPECT_EQ(ZELTO_Load(path.c_str()), 1);
    gp4::RemoveTempFile(path);
    unsigned char *buffer = nullptr;
    std::uint32_t size = 0;
    performed.result = ZELTO_CreatePerformedMidiBuffer(&buffer, &size);
    performed.hadBuffer = buffer != nullptr;
    if (buffer != nullptr) performed.bytes.assign(buffer, buffer + size);
    ZELTO_DestroyMidiBuffer(buffer);
    ZELTO_Unload();
    if (performed.hadBuffer) {
        std::string error;
        EXPECT_TRUE(smf::Parse(performed.bytes, &performed.file, &error)) << error;
        for (const smf::Track &track : performed.file.tracks)
            EXPECT_EQ(smf::FindKeyStruckWhileSounding(track), "") << "a key struck while it sounds";
    }
    return performed;
}

// The notes of one chunk in onset order; a note-on left without its note-off fails.
std::vector<PlayedNote> NotesOf(const smf::Track &track) {
    std::vector<PlayedNote> notes;
    std::map<std::uint32_t, std::deque<std::size_t>> sounding;  // channel * 128 + key -> notes
    for (const smf::Event &event : track.events) {
        if (!event.IsChannel() || (event.Kind() != 0x80 && event.Kind() != 0x90)) continue;
        const std::uint32_t slot = event.Channel() * 128u + event.data[0];
        if (event.Kind() == 0x90 && event.data[1] != 0) {
            sounding[slot].push_back(notes.size());
            notes.push_back({event.tick, 0, event.data[0], event.data[1], event.Channel()});
        } else if (!sounding[slot].empty()) {
            PlayedNote &note = notes[sounding[slot].front()];
            note.length = event.tick - note.onset;
            sounding[slot].pop_front();
        }
    }
    for (const auto &slot : sounding) EXPECT_TRUE(slot.second.empty()) << "a note-on is never released";
    return notes;
}

std::vector<PlayedNote> RenderNotes(const gp4::Song &song, std::size_t chunk = 1) {
    const Performed performed = RenderPerformed(song);
    EXPECT_EQ(performed.result, 1);
    if (performed.file.tracks.size() <= chunk) {
        ADD_FAILURE() << "no chunk " << chunk;
        return {};
    }
    return NotesOf(performed.file.tracks[chunk]);
}

using gp4::WithNoteEffects;

gp4::Song SongOf(const std::vector<std::vector<gp4::Beat>> &measures) { return gp4::OneTrackSong(measures); }

gp4::Beat TiedQuarter(int string, int fret) {
    gp4::Beat beat = gp4::QuarterNote(string, fret);
    beat.notes[static_cast<std::size_t>(string - 1)].type = 2;
    return beat;
}

// ---------------------------------------------------------------------------
// Notes held, moved and shortened.

TEST(PerformedNotes, TieChainAcrossBarLineIsOneNoteOfTheSummedLength) {
    gp4::Beat half = gp4::NoteBeat(gp4::Duration::Half, {{1, 5}});
    const gp4::Song song = SongOf({{gp4::QuarterNote(2, 0), gp4::QuarterNote(2, 0), half},
                                   {TiedQuarter(1, 5), TiedQuarter(1, 5), gp4::QuarterNote(1, 7)}});
    const std::vector<PlayedNote> notes = RenderNotes(song);
    ASSERT_EQ(notes.size(), 4u);
    EXPECT_EQ(notes[2].onset, 960u);
    EXPECT_EQ(notes[2].key, 69u);
    EXPECT_EQ(notes[2].length, 960u + 960u);  // the half note and both tied quarters
    EXPECT_EQ(notes[3].onset, 2880u);
    EXPECT_EQ(notes[3].key, 71u);
}

TEST(PerformedNotes, TieWithNothingToContinueSoundsAsANote) {
    const std::vector<PlayedNote> notes = RenderNotes(SongOf({{gp4::RestBeat(0), TiedQuarter(1, 3)}}));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].onset, 480u);
    EXPECT_EQ(notes[0].key, 67u);
    EXPECT_EQ(notes[0].length, 480u);
}

TEST(PerformedNotes, TieNeverStrikesItContinuesTheStringsLastNote) {
    // A palm-muted note, a beat on another string, then the tie: one note to the tie's end.
    const gp4::Beat muted = WithNoteEffects(gp4::QuarterNote(1, 5), 1, 0, 0x02);
    std::vector<PlayedNote> notes =
        RenderNotes(SongOf({{muted, gp4::QuarterNote(2, 0), TiedQuarter(1, 5), gp4::QuarterNote(1, 7)}}));
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0].key, 69u);
    EXPECT_EQ(notes[0].length, 1440u);
    EXPECT_EQ(notes[1].key, 59u);
    EXPECT_EQ(notes[2].onset, 1440u);

    // A dead note tied straight on, and a tie in the next measure after a beat on another string.
    gp4::Beat dead = gp4::QuarterNote(1, 5);
    dead.notes[0].type = 3;
    notes = RenderNotes(SongOf({{dead, TiedQuarter(1, 5), gp4::QuarterNote(1, 2), gp4::QuarterNote(2, 0)},
                                {TiedQuarter(1, 2)}}));
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0].length, 960u);
    EXPECT_EQ(notes[1].onset, 960u);
    EXPECT_EQ(notes[1].length, 1440u);  // to the end of the tie in the next measure

    // A rest ends the string: the tie after it sounds.
    notes = RenderNotes(SongOf({{gp4::QuarterNote(1, 5), gp4::RestBeat(0), TiedQuarter(1, 5)}}));
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].length, 480u);
    EXPECT_EQ(notes[1].onset, 960u);
}

TEST(PerformedNotes, OneKeySoundsOnceAtATimeOnItsChannel) {
    // A unison of strings 1 (open, staccato, dynamic 8) and 2 (fret 5): one note-on,
    // the louder velocity and the longer length.
    gp4::Beat unison = WithNoteEffects(gp4::NoteBeat(gp4::Duration::Quarter, {{1, 0}, {2, 5}}), 1, 0, 0x01);
    unison.notes[0].flags |= gp4::NoteBits::Dynamic;
    unison.notes[0].dynamic = 8;
    std::vector<PlayedNote> notes = RenderNotes(SongOf({{unison}}));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].key, 64u);
    EXPECT_EQ(notes[0].velocity, 127u);
    EXPECT_EQ(notes[0].length, 480u);

    // A let-ring note ends where another string strikes its key.
    const gp4::Beat ringing = WithNoteEffects(gp4::QuarterNote(1, 0), 1, 0x08, 0);
    notes = RenderNotes(SongOf({{ringing, gp4::QuarterNote(2, 5), gp4::QuarterNote(2, 7)}}));
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0].length, 480u);
    EXPECT_EQ(notes[1].onset, 480u);
    EXPECT_EQ(notes[1].key, 64u);
}

TEST(PerformedNotes, DeadNoteOffTheNeckIsMutedOnTheOpenString) {
    gp4::Beat dead = gp4::QuarterNote(1, 255);
    dead.notes[0].type = 3;
    const std::vector<PlayedNote> notes = RenderNotes(SongOf({{dead}}));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].key, 64u);
    EXPECT_EQ(notes[0].length, 60u);
}

TEST(PerformedNotes, CapoMovesTheKeyAndPercussionIgnoresIt) {
    gp4::Song song = SongOf({{gp4::QuarterNote(1, 2)}});
    song.tracks[0].capo = 3;
    ASSERT_EQ(RenderNotes(song).size(), 1u);
    EXPECT_EQ(RenderNotes(song)[0].key, 64u + 3u + 2u);

    song.beats[0][0][0] = gp4::QuarterNote(1, 38);  // a snare drum
    song.tracks[0].flags = 0x01;                    // a drum track on channel 1
    const std::vector<PlayedNote> drums = RenderNotes(song);
    ASSERT_EQ(drums.size(), 1u);
    EXPECT_EQ(drums[0].key, 38u);
    EXPECT_EQ(drums[0].channel, 9u);

    song.tracks[0].flags = 0;
    song.tracks[0].channel = 10;  // the drum channel marks percussion as well
    song.tracks[0].effectsChannel = 10;
    const std::vector<PlayedNote> channelTen = RenderNotes(song);
    ASSERT_EQ(channelTen.size(), 1u);
    EXPECT_EQ(channelTen[0].key, 38u);
    EXPECT_EQ(channelTen[0].channel, 9u);
}

TEST(PerformedNotes, ArticulationsShortenAndColourTheNote) {
    gp4::Beat dead = gp4::QuarterNote(1, 5);
    dead.notes[0].type = 3;
    gp4::Beat ghost = gp4::QuarterNote(1, 5);
    ghost.notes[0].flags |= 0x04;
    gp4::Beat accent = gp4::QuarterNote(1, 5);
    accent.notes[0].flags |= 0x40;
    gp4::Beat heavy = gp4::QuarterNote(1, 5);
    heavy.notes[0].flags |= 0x02;
    const gp4::Song song = SongOf({{dead, WithNoteEffects(gp4::QuarterNote(1, 5), 1, 0, 0x01),
                                    WithNoteEffects(gp4::QuarterNote(1, 5), 1, 0, 0x02), gp4::QuarterNote(1, 5)},
                                   {ghost, accent, heavy, gp4::QuarterNote(1, 5)}});
    const std::vector<PlayedNote> notes = RenderNotes(song);
    ASSERT_EQ(notes.size(), 8u);
    EXPECT_EQ(notes[0].length, 60u);   // dead: a thirty-second
    EXPECT_EQ(notes[1].length, 240u);  // staccato: half
    EXPECT_EQ(notes[2].length, 360u);  // palm mute: three quarters
    EXPECT_EQ(notes[3].length, 480u);
    const std::uint32_t plain = 95;    // dynamic 6 is the writer's default
    EXPECT_EQ(notes[3].velocity, plain);
    EXPECT_EQ(notes[4].velocity, plain - 32);
    EXPECT_EQ(notes[5].velocity, plain + 16);
    EXPECT_EQ(notes[6].velocity, 127u);
}

TEST(PerformedNotes, LetRingOverlapsUntilTheStringPlaysAgain) {
    gp4::Beat ringing = WithNoteEffects(gp4::NoteBeat(gp4::Duration::Quarter, {{1, 0}, {2, 0}}), 1, 0x08, 0);
    ringing = WithNoteEffects(ringing, 2, 0x08, 0);
    const gp4::Song song = SongOf({{ringing, gp4::QuarterNote(3, 2), gp4::QuarterNote(1, 3)}});
    const std::vector<PlayedNote> notes = RenderNotes(song);
    ASSERT_EQ(notes.size(), 4u);
    EXPECT_EQ(notes[0].key, 64u);
    EXPECT_EQ(notes[0].length, 960u);  // over the next beat, until string 1 plays again
    EXPECT_EQ(notes[1].key, 59u);
    EXPECT_EQ(notes[1].length, 1920u);  // string 2 rings to the end of the song
    EXPECT_EQ(notes[2].length, 480u);
}

TEST(PerformedNotes, HammerOnIsSlurred) {
    const gp4::Song song =
        SongOf({{WithNoteEffects(gp4::QuarterNote(1, 5), 1, 0x02, 0x01), gp4::QuarterNote(1, 7), gp4::QuarterNote(1, 8)}});
    const std::vector<PlayedNote> notes = RenderNotes(song);
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0].length, 480u);  // no gap, staccato or not
    EXPECT_EQ(notes[1].velocity, 95u - 16u);
    EXPECT_EQ(notes[2].velocity, 95u);
}

// ---------------------------------------------------------------------------
// Where the beats lie.

TEST(PerformedTiming, OverfullMeasurePlaysEveryBeatAndTheNextStartsOnTime) {
    // Five quarters in a 4/4 measure, the fifth on string 2; then a measure of one quarter.
    const gp4::Song song = SongOf({{gp4::QuarterNote(1, 0), gp4::QuarterNote(1, 1), gp4::QuarterNote(1, 2),
                                    gp4::QuarterNote(1, 3), gp4::QuarterNote(2, 0)},
                                   {gp4::QuarterNote(1, 7), gp4::QuarterNote(1, 8)}});
    const std::vector<PlayedNote> notes = RenderNotes(song);
    ASSERT_EQ(notes.size(), 7u);
    EXPECT_EQ(notes[4].key, 59u);
    EXPECT_EQ(notes[4].onset, 1920u);
    EXPECT_EQ(notes[4].length, 480u);
    EXPECT_EQ(notes[5].key, 71u);
    EXPECT_EQ(notes[5].onset, 1920u);
    EXPECT_EQ(notes[6].onset, 2400u);
}

TEST(PerformedTiming, TripletFeelSwingsEighthsTwoToOneWhereTheyReallyLie) {
    gp4::Beat dotted = gp4::QuarterNote(1, 0);
    dotted.flags |= gp4::BeatBits::Dotted;
    const gp4::Beat eighth = gp4::NoteBeat(gp4::Duration::Eighth, {{1, 2}});
    gp4::Song song = SongOf({{eighth, eighth, dotted, eighth, gp4::QuarterNote(1, 3)}});
    song.tripletFeel = 1;
    const std::vector<PlayedNote> notes = RenderNotes(song);
    ASSERT_EQ(notes.size(), 5u);
    const std::uint64_t onsets[] = {0, 320, 480, 1280, 1440};
    const std::uint64_t lengths[] = {320, 160, 720, 160, 480};
    for (std::size_t index = 0; index < notes.size(); ++index) {
        EXPECT_EQ(notes[index].onset, onsets[index]) << "note " << index;
        EXPECT_EQ(notes[index].length, lengths[index]) << "note " << index;
    }
}

TEST(PerformedTiming, TupletOnsetsAreExactAndEndOnTheBeat) {
    gp4::Beat nonuplet = gp4::NoteBeat(gp4::Duration::Sixteenth, {{1, 0}});
    nonuplet.flags |= gp4::BeatBits::Tuplet;
    nonuplet.tuplet = 9;
    std::vector<gp4::Beat> beats(9, nonuplet);
    beats.push_back(gp4::NoteBeat(gp4::Duration::Half, {{1, 5}}));
    const std::vector<PlayedNote> notes = RenderNotes(SongOf({beats}));
    ASSERT_EQ(notes.size(), 10u);
    for (std::uint64_t index = 0; index < 9; ++index)
        EXPECT_EQ(notes[index].onset, (index * 960 + 4) / 9) << "note " << index;  // 106 2/3 each, rounded
    EXPECT_EQ(notes[8].onset + notes[8].length, 960u);
    EXPECT_EQ(notes[9].onset, 960u);
}

// ---------------------------------------------------------------------------
// Notes that ornaments add.

TEST(PerformedOrnaments, GraceNoteSoundsBeforeItsBeatWhateverItsTransition) {
    gp4::Beat graced = WithNoteEffects(gp4::QuarterNote(1, 7), 1, 0x10, 0);
    graced.notes[0].effects.graceFret = 5;
    graced.notes[0].effects.graceDuration = 3;  // a sixteenth
    graced.notes[0].effects.graceTransition = 0;
    graced.notes[0].effects.graceDynamic = 4;
    const std::vector<PlayedNote> before = RenderNotes(SongOf({{gp4::QuarterNote(2, 0), graced}}));
    ASSERT_EQ(before.size(), 3u);
    EXPECT_EQ(before[1].key, 69u);
    EXPECT_EQ(before[1].onset, 480u - 120u);
    EXPECT_EQ(before[1].length, 120u);
    EXPECT_EQ(before[1].velocity, 63u);
    EXPECT_EQ(before[2].onset, 480u);
    EXPECT_EQ(before[2].key, 71u);

    // A slide or bend into the note, or a hammer from the grace note: still before the beat.
    for (const std::uint8_t transition : {1, 2, 3}) {
        graced.notes[0].effects.graceTransition = transition;
        const std::vector<PlayedNote> notes = RenderNotes(SongOf({{gp4::QuarterNote(2, 0), graced}}));
        ASSERT_EQ(notes.size(), 3u);
        EXPECT_EQ(notes[1].onset, 480u - 120u);
        EXPECT_EQ(notes[1].key, 69u);
        EXPECT_EQ(notes[2].onset, 480u);
        EXPECT_EQ(notes[2].length, 480u);
        EXPECT_EQ(notes[2].velocity, transition == 3 ? 95u - 16u : 95u);
    }
}

TEST(PerformedOrnaments, TremoloPickingAndTrillRepeatAtTheirSpeed) {
    gp4::Beat picked = WithNoteEffects(gp4::QuarterNote(1, 5), 1, 0, 0x04);
    picked.notes[0].effects.tremoloPicking = 3;  // thirty-seconds
    gp4::Beat trilled = WithNoteEffects(gp4::QuarterNote(1, 5), 1, 0, 0x20);
    trilled.notes[0].effects.trillFret = 7;
    trilled.notes[0].effects.trillPeriod = 1;  // sixteenths
    const std::vector<PlayedNote> notes = RenderNotes(SongOf({{picked, trilled}}));
    ASSERT_EQ(notes.size(), 8u + 4u);
    for (std::size_t pick = 0; pick < 8; ++pick) {
        EXPECT_EQ(notes[pick].onset, pick * 60u);
        EXPECT_EQ(notes[pick].length, 60u);
        EXPECT_EQ(notes[pick].key, 69u);
    }
    const std::uint32_t trillKeys[] = {69, 71, 69, 71};
    for (std::size_t step = 0; step < 4; ++step) {
        EXPECT_EQ(notes[8 + step].onset, 480u + step * 120u);
        EXPECT_EQ(notes[8 + step].key, trillKeys[step]);
    }
}

TEST(PerformedOrnaments, HarmonicsSoundAtTheirNode) {
    gp4::Beat natural = WithNoteEffects(gp4::QuarterNote(1, 7), 1, 0, 0x10);
    natural.notes[0].effects.harmonic = 1;
    gp4::Beat artificial = WithNoteEffects(gp4::QuarterNote(1, 2), 1, 0, 0x10);
    artificial.notes[0].effects.harmonic = 22;  // twelve frets above the fretted note
    const std::vector<PlayedNote> notes = RenderNotes(SongOf({{natural, artificial}}));
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].key, 64u + 19u);
    EXPECT_EQ(notes[1].key, 64u + 2u + 12u);
}

// ---------------------------------------------------------------------------
// Playing order.

// The first note's fret of every measure played.
std::vector<std::uint32_t> PlayedMeasures(const gp4::Song &song) {
    std::vector<std::uint32_t> measures;
    for (const PlayedNote &note : RenderNotes(song)) measures.push_back(note.key - 64);
    return measures;
}

gp4::Song NumberedMeasures(std::size_t count) {
    std::vector<std::vector<gp4::Beat>> measures;
    for (std::size_t measure = 0; measure < count; ++measure)
        measures.push_back({gp4::NoteBeat(gp4::Duration::Whole, {{1, static_cast<int>(measure)}})});
    return SongOf(measures);
}

TEST(PerformedOrder, EachPassPlaysItsEnding) {
    // |: 0 1 [1. 2 :| [2. 3 | 4
    gp4::Song song = NumberedMeasures(5);
    song.measures[0].flags |= gp4::MeasureBits::BeginRepeat;
    song.measures[2].flags |= gp4::MeasureBits::AltEnding | gp4::MeasureBits::EndRepeat;
    song.measures[2].altEnding = 0x01;
    song.measures[2].repeatCount = 1;
    song.measures[3].flags |= gp4::MeasureBits::AltEnding;
    song.measures[3].altEnding = 0x02;
    EXPECT_EQ(PlayedMeasures(song), (std::vector<std::uint32_t>{0, 1, 2, 0, 1, 3, 4}));

    // Three passes, the first two through an ending of two measures: an
    // ending numbered 2 with none before it takes passes 1 and 2.
    // |: 0 [1.2. 1 2 :| [3. 3
    song.measures[2].flags = gp4::MeasureBits::EndRepeat;
    song.measures[2].repeatCount = 2;
    song.measures[1].flags |= gp4::MeasureBits::AltEnding;
    song.measures[1].altEnding = 2;
    song.measures[3].altEnding = 3;
    EXPECT_EQ(PlayedMeasures(song), (std::vector<std::uint32_t>{0, 1, 2, 0, 1, 2, 0, 3, 4}));
}

TEST(PerformedOrder, NonsenseEndingsPlayEveryMeasureOnce) {
    gp4::Song song = NumberedMeasures(4);
    song.measures[1].flags |= gp4::MeasureBits::AltEnding;  // outside any repeat
    song.measures[1].altEnding = 4;
    song.measures[3].flags |= gp4::MeasureBits::AltEnding;  // takes no pass
    song.measures[3].altEnding = 0;
    EXPECT_EQ(PlayedMeasures(song), (std::vector<std::uint32_t>{0, 1, 2, 3}));

    // Inside a repeat played twice: a number above the passes takes them all,
    // an ending numbered 0 plays once.
    song = NumberedMeasures(3);
    song.measures[0].flags |= gp4::MeasureBits::BeginRepeat;
    song.measures[1].flags |= gp4::MeasureBits::AltEnding | gp4::MeasureBits::EndRepeat;
    song.measures[1].altEnding = 5;
    song.measures[1].repeatCount = 1;
    EXPECT_EQ(PlayedMeasures(song), (std::vector<std::uint32_t>{0, 1, 0, 1, 2}));
    song.measures[1].altEnding = 0;
    EXPECT_EQ(PlayedMeasures(song), (std::vector<std::uint32_t>{0, 1, 0, 2}));
}

// Measures of one quarter note each, numbered by their fret.
gp4::Song NumberedQuarters(std::size_t count) {
    std::vector<std::vector<gp4::Beat>> measures;
    for (std::size_t measure = 0; measure < count; ++measure)
        measures.push_back({gp4::QuarterNote(1, static_cast<int>(measure))});
    return SongOf(measures);
}

// The onsets of the notes played, one a measure.
std::vector<std::uint64_t> MeasureOnsets(const gp4::Song &song) {
    std::vector<std::uint64_t> onsets;
    for (const PlayedNote &note : RenderNotes(song)) onsets.push_back(note.onset);
    return onsets;
}

TEST(PerformedOrder, EveryMeasurePlaysInTheSignatureInForceInFileOrder) {
    // 4/4 |: 0 [1. 1 (2/4) :| [2. 2 | 3: the second ending keeps 2/4 on its pass.
    gp4::Song song = NumberedQuarters(4);
    song.measures[0].flags |= gp4::MeasureBits::BeginRepeat;
    song.measures[1].flags |= gp4::MeasureBits::Numerator | gp4::MeasureBits::Denominator |
                              gp4::MeasureBits::AltEnding | gp4::MeasureBits::EndRepeat;
    song.measures[1].numerator = 2;
    song.measures[1].altEnding = 1;
    song.measures[1].repeatCount = 1;
    song.measures[2].flags |= gp4::MeasureBits::AltEnding;
    song.measures[2].altEnding = 2;
    EXPECT_EQ(MeasureOnsets(song), (std::vector<std::uint64_t>{0, 1920, 2880, 4800, 5760}));

    // 3/4 0 |: 1 2 (2/4) :| 3: the jump back plays measure 1 in 3/4 again.
    song = NumberedQuarters(4);
    song.measures[0].numerator = 3;
    song.measures[1].flags |= gp4::MeasureBits::BeginRepeat;
    song.measures[2].flags |= gp4::MeasureBits::Numerator | gp4::MeasureBits::EndRepeat;
    song.measures[2].numerator = 2;
    song.measures[2].repeatCount = 1;
    const Performed performed = RenderPerformed(song);
    ASSERT_EQ(performed.result, 1);
    EXPECT_EQ(MeasureOnsets(song), (std::vector<std::uint64_t>{0, 1440, 2880, 3840, 5280, 6240}));
    // The conductor says so at every change.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> numerators;
    for (const smf::Event *event : smf::MetaEvents(performed.file.tracks[0], 0x58))
        numerators.push_back({event->tick, event->metaData[0]});
    EXPECT_EQ(numerators, (std::vector<std::pair<std::uint64_t, std::uint32_t>>{
                              {0, 3}, {2880, 2}, {3840, 3}, {5280, 2}}));
}

TEST(PerformedOrder, RepeatsWithoutEndingsPlayAsInThePlainExport) {
    gp4::Song song = NumberedMeasures(5);
    song.measures[1].flags |= gp4::MeasureBits::BeginRepeat;
    song.measures[3].flags |= gp4::MeasureBits::EndRepeat;
    song.measures[3].repeatCount = 2;
    EXPECT_EQ(PlayedMeasures(song), (std::vector<std::uint32_t>{0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 4}));
}

// ---------------------------------------------------------------------------
// Channel settings, layout and bounds.

std::vector<std::pair<std::uint32_t, std::uint32_t>> Controllers(const smf::Track &track, std::uint64_t tick) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> controllers;
    for (const smf::Event &event : track.events)
        if (event.IsChannel() && event.Kind() == 0xB0 && event.Channel() == 0 && event.tick == tick)
            controllers.push_back({event.data[0], event.data[1]});
    return controllers;
}

TEST(PerformedSettings, ChannelTableAndMixTableControllers) {
    gp4::Song song = SongOf({{gp4::QuarterNote(1, 0), gp4::QuarterNote(1, 0)}});
    gp4::ChannelEntry &entry = song.channels[0][0];
    entry.volume = 13;
    entry.balance = 8;
    entry.chorus = 2;
    entry.reverb = 4;
    entry.phaser = 1;
    entry.tremolo = 3;
    gp4::Beat &second = song.beats[0][0][1];
    second.flags |= gp4::BeatBits::MixTable;
    second.mix.balance = 0;
    second.mix.reverb = 16;
    const Performed performed = RenderPerformed(song);
    ASSERT_EQ(performed.file.tracks.size(), 2u);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> atStart = {{7, 104}, {10, 64}, {93, 16},
                                                                          {91, 32}, {95, 8},  {92, 24}};
    EXPECT_EQ(Controllers(performed.file.tracks[1], 0), atStart);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> mixed = {{10, 0}, {91, 127}};
    EXPECT_EQ(Controllers(performed.file.tracks[1], 480), mixed);
}

TEST(PerformedLayout, SameConductorAndLayoutAsThePlainExportAndTheSameBytesEveryTime) {
    const gp4::Song song = gp4::FeatureRichSong(1);
    const Performed first = RenderPerformed(song);
    const Performed second = RenderPerformed(song);
    ASSERT_TRUE(first.hadBuffer);
    EXPECT_EQ(first.bytes, second.bytes);
    EXPECT_EQ(first.file.division, 480u);
    EXPECT_EQ(first.file.trackCount, song.tracks.size() + 1);
    const std::string path = gp4::WriteTempFile(gp4::WriteSong(song), "plain");
    ASSERT_EQ(ZELTO_Load(path.c_str()), 1);
    gp4::RemoveTempFile(path);
    unsigned char *buffer = nullptr;
    std::uint32_t size = 0;
    ASSERT_EQ(ZELTO_CreateMidiBuffer(&buffer, &size), 1);
    smf::File plain;
    std::string error;
    ASSERT_TRUE(smf::Parse(buffer, size, &plain, &error)) << error;
    ZELTO_DestroyMidiBuffer(buffer);
    ZELTO_Unload();
    // The feature-rich song's endings change its order, so only the conductor's opening is compared.
    EXPECT_EQ(smf::FirstMetaText(first.file.tracks[0], 0x03), smf::FirstMetaText(plain.tracks[0], 0x03));
    EXPECT_EQ(smf::Tempos(first.file.tracks[0])[0].microsecondsPerQuarter,
              smf::Tempos(plain.tracks[0])[0].microsecondsPerQuarter);
    for (std::size_t chunk = 1; chunk < plain.tracks.size(); ++chunk)
        EXPECT_EQ(smf::FirstMetaText(first.file.tracks[chunk], 0x03), smf::FirstMetaText(plain.tracks[chunk], 0x03));
}

// The song's bytes as a conversion could change them: the measures' and tracks' records.
std::string WorkingFields(const Talvoren::FileStruct &file) {
    std::string fields(reinterpret_cast<const char *>(file.body.measures),
                       file.headers.pieceInfo.measureCount * sizeof(Talvoren::Measure));
    fields.append(reinterpret_cast<const char *>(file.body.tracks),
                  file.headers.pieceInfo.trackCount * sizeof(Talvoren::Track));
    return fields;
}

smf::Bytes RenderDirectly(Talvoren::FileStruct *file) {
    Talvoren::MidiFileStruct midi;
    smf::Bytes bytes;
    if (!Talvoren::InitMidiFileStruct(&midi, file->headers.pieceInfo.trackCount + 1, 480)) return bytes;
    if (Talvoren::ToPerformedMidi(file, &midi, 30)) {
        Talvoren::Byte *buffer = nullptr;
        const std::uint32_t size = Talvoren::CreateMidiBuffer(&midi, &buffer);
        const auto *first = reinterpret_cast<const std::uint8_t *>(buffer);
        if (buffer != nullptr) bytes.assign(first, first + size);
        Talvoren::DestroyMidiBuffer(buffer);
    }
    Talvoren::FreeMidiFileStruct(&midi);
    return bytes;
}

TEST(PerformedLayout, OneSongRendersOnTwoThreadsAtOnceAndIsNotWritten) {
    const gp4::Bytes bytes = gp4::WriteSong(gp4::FeatureRichSong(0));
    std::FILE *stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), stream), bytes.size());
    std::rewind(stream);
    Talvoren::FileStruct file = {};
    ASSERT_EQ(Talvoren::LoadFileStruct(&file, stream), 1);
    std::fclose(stream);
    const std::string before = WorkingFields(file);
    smf::Bytes first;
    smf::Bytes second;
    std::thread other([&file, &second] {
        for (int round = 0; round < 20; ++round) second = RenderDirectly(&file);
    });
    for (int round = 0; round < 20; ++round) first = RenderDirectly(&file);
    other.join();
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(first, second);
    EXPECT_EQ(WorkingFields(file), before);
    Talvoren::FreeFileStruct(&file);
}

TEST(PerformedLimits, WithoutASongNothingIsWritten) {
    ZELTO_Unload();
    unsigned char sentinel = 0;
    unsigned char *buffer = &sentinel;
    std::uint32_t size = 7;
    EXPECT_EQ(ZELTO_CreatePerformedMidiBuffer(&buffer, &size), 0);
    EXPECT_EQ(buffer, &sentinel);
    EXPECT_EQ(size, 7u);
}

TEST(PerformedLimits, TremoloStacksAreBoundedAndWellFormed) {
    // Seven strings of whole notes, each picked at the fastest speed, over a
    // section repeated 255 times: well formed and every note released.
    gp4::Beat stack = gp4::NoteBeat(gp4::Duration::Whole, {{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}});
    for (int string = 1; string <= 6; ++string) {
        stack = WithNoteEffects(stack, string, 0x08, 0x04 | 0x20);
        stack.notes[static_cast<std::size_t>(string - 1)].effects.tremoloPicking = 3;
        stack.notes[static_cast<std::size_t>(string - 1)].effects.trillPeriod = 3;
    }
    gp4::Song song = SongOf({{stack}, {stack}});
    song.measures[1].flags |= gp4::MeasureBits::EndRepeat;
    song.measures[1].repeatCount = 255;
    const Performed bounded = RenderPerformed(song);
    EXPECT_EQ(bounded.result, 1);
    ASSERT_TRUE(bounded.hadBuffer);
    EXPECT_EQ(NotesOf(bounded.file.tracks[1]).size(), 2u * 256u * 6u * 32u);  // tremolo picking wins over the trill

    // Long enough to pass the event limit: refused whole, with a null buffer.
    song.measures.assign(300, gp4::MeasureHeader());
    song.measures[0] = gp4::TimeSignature(4, 4);
    song.measures[299].flags = gp4::MeasureBits::EndRepeat;
    song.measures[299].repeatCount = 255;
    song.beats.assign(300, {{stack}});
    const Performed refused = RenderPerformed(song);
    EXPECT_EQ(refused.result, 1);
    EXPECT_FALSE(refused.hadBuffer);
}

}  // namespace
