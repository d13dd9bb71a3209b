// reader_body_test.cpp - measure headers, markers, tracks, beats, notes and
// measure-track pairs, each read on its own from the bytes of its record.
#include "test_heap.h"
#include "gp/reader.cpp"
#include "reader_checks.h"

#include <gtest/gtest.h>

namespace {

using ReaderChecks::OpenBytes;
using ReaderChecks::Position;

// --- measure headers ---------------------------------------------------------

class MeasureReading : public ReaderChecks::ReaderTest {
protected:
    void TearDown() override {
        Talvoren::FreeMeasure(&measure);
        ReaderTest::TearDown();
    }
    Talvoren::Measure measure = {};
};

TEST_F(MeasureReading, FlagByteZeroIsOneByteLong) {
    ReaderChecks::Stream stream = OpenBytes({0x00, 0x7F, 0x7F});
    ASSERT_EQ(Talvoren::LoadMeasure(&measure, stream.get()), 1);
    EXPECT_EQ(Position(stream), 1);
    ReaderChecks::ExpectMeasure(measure, gp4::MeasureHeader());
}

TEST_F(MeasureReading, EveryFlagReadsItsDataInOrder) {
    gp4::Bytes bytes = {0xFF, 6, 8, 2, 3};
    gp4::WriteInt(bytes, 0xFFFFFFFFu);  // the marker text's unused field, any value
    gp4::WriteByteSizeString(bytes, "Outro");
    bytes.insert(bytes.end(), {0x78, 0x56, 0x34, 0x12, 0xFE, 0x01});
    ReaderChecks::Stream stream = OpenBytes(bytes);
    ASSERT_EQ(Talvoren::LoadMeasure(&measure, stream.get()), 1);
    EXPECT_EQ(Position(stream), static_cast<long>(bytes.size()));
    EXPECT_EQ(measure.flags, 0xFF);
    EXPECT_EQ(measure.keyNumerator, 6);
    EXPECT_EQ(measure.keyDenominator, 8);
    EXPECT_EQ(measure.repeatCount, 2);
    EXPECT_EQ(measure.altEndingCount, 3);
    ASSERT_NE(measure.marker, nullptr);
    ReaderChecks::ExpectText(measure.marker->text, "Outro");
    EXPECT_EQ(measure.marker->color, 0x12345678u);
    EXPECT_EQ(measure.tonality, -2);
    EXPECT_EQ(measure.tonalityType, 1);
}

TEST_F(MeasureReading, EachFlagAloneReadsOnlyItsData) {
    using namespace gp4::MeasureBits;
    for (std::uint8_t flags : {Numerator, Denominator, BeginRepeat, EndRepeat, AltEnding, Marker,
                               Tonality, DoubleBar}) {
        SCOPED_TRACE("flags " + std::to_string(flags));
        gp4::MeasureHeader written;
        written.flags = flags;
        written.numerator = 7;
        written.denominator = 16;
        written.repeatCount = 4;
        written.altEnding = 9;
        written.tonality = -3;
        written.tonalityType = 5;
        gp4::Bytes bytes;
        gp4::WriteMeasureHeader(bytes, written);
        std::size_t recordSize = bytes.size();
        bytes.push_back(0x55);
        ReaderChecks::Stream stream = OpenBytes(bytes);
        ASSERT_EQ(Talvoren::LoadMeasure(&measure, stream.get()), 1);
        EXPECT_EQ(Position(stream), static_cast<long>(recordSize));
        ReaderChecks::ExpectMeasure(measure, written);
        Talvoren::FreeMeasure(&measure);
    }
}

TEST_F(MeasureReading, EveryPrefixFailsAndReleasesTheMarker) {
    gp4::MeasureHeader written = gp4::FeatureRichSong().measures[3];  // every flag bit
    gp4::Bytes bytes;
    gp4::WriteMeasureHeader(bytes, written);
    ReaderChecks::ExpectEveryPrefixFails(bytes, [&](std::FILE *stream) {
        int loaded = Talvoren::LoadMeasure(&measure, stream);
        if (!loaded) {
            EXPECT_EQ(measure.marker, nullptr);
        }
        Talvoren::FreeMeasure(&measure);
        return loaded == 1;
    });
}

// --- tracks -----------------------------------------------------------------

class TrackReading : public ReaderChecks::ReaderTest {
protected:
    void TearDown() override {
        Talvoren::FreeTrack(&track);
        ReaderTest::TearDown();
    }
    Talvoren::Track track = {};
};

TEST_F(TrackReading, ShortNameLeavesFillerAndTheCountFollowsTheField) {
    gp4::Track written;
    written.name = "Lead";
    written.nameFiller = 0x5A;
    written.stringCount = 4;
    written.tunings = {43, 38, 33, 28, -1, 99, 77};  // all seven are read whatever the count
    written.port = 0;
    written.channel = 0;
    written.frets = 0;
    gp4::Bytes bytes;
    gp4::WriteTrack(bytes, written);
    ASSERT_EQ(bytes.size(), 98u);
    bytes.push_back(0x66);
    ReaderChecks::Stream stream = OpenBytes(bytes);
    ASSERT_EQ(Talvoren::LoadTrack(&track, stream.get()), 1);
    EXPECT_EQ(Position(stream), 98);
    ReaderChecks::ExpectTrack(track, written);
    EXPECT_EQ(track.tunings[6], 77);
}

// A name longer than its field runs into the bytes after it; reading still
// goes on at the byte right after the 41-byte field.
TEST_F(TrackReading, LongNameRunsOnAndReadingGoesOnAfterTheField) {
    gp4::Bytes bytes = {0x03, 44};
    gp4::WriteText(bytes, std::string(40, 'n'));
    gp4::WriteInt(bytes, 5);  // the name's last four bytes and the string count
    for (std::int32_t tuning = 60; tuning < 67; ++tuning) gp4::WriteInt(bytes, static_cast<std::uint32_t>(tuning));
    for (std::uint32_t value = 1; value <= 6; ++value) gp4::WriteInt(bytes, value);
    ReaderChecks::Stream stream = OpenBytes(bytes);
    ASSERT_EQ(Talvoren::LoadTrack(&track, stream.get()), 1);
    ReaderChecks::ExpectText(track.name, std::string(40, 'n') + std::string("\x05\0\0\0", 4));
    EXPECT_EQ(track.flags, 3);
    EXPECT_EQ(track.stringCount, 5u);
    EXPECT_EQ(track.tunings[0], 60);
    EXPECT_EQ(track.tunings[6], 66);
    EXPECT_EQ(track.midiPort, 1u);
    EXPECT_EQ(track.midiChannel, 2u);
    EXPECT_EQ(track.effectsMidiChannel, 3u);
    EXPECT_EQ(track.fretCount, 4u);
    EXPECT_EQ(track.capoHeight, 5u);
    EXPECT_EQ(track.color, 6u);
    EXPECT_EQ(Position(stream), 98);
}

TEST_F(TrackReading, EveryPrefixFails) {
    gp4::Bytes bytes;
    gp4::WriteTrack(bytes, gp4::FeatureRichSong().tracks[2]);
    ReaderChecks::ExpectEveryPrefixFails(bytes, [&](std::FILE *stream) {
        int loaded = Talvoren::LoadTrack(&track, stream);
        if (!loaded) {
            EXPECT_EQ(track.name, nullptr);
        }
        Talvoren::FreeTrack(&track);
        return loaded == 1;
    });
}

// --- beats and notes --------------------------------------------------------

class BeatReading : public ReaderChecks::ReaderTest {
protected:
    void TearDown() override {
        Talvoren::FreeBeat(&beat);
        ReaderTest::TearDown();
    }
    // Reads one beat from the bytes and checks that it took exactly `size` of them.
    void Read(const gp4::Bytes &bytes, long size) {
        ReaderChecks::Stream stream = OpenBytes(bytes);
        ASSERT_EQ(Talvoren::LoadBeat(&beat, stream.get()), 1);
        EXPECT_EQ(Position(stream), size);
    }
    Talvoren::Beat beat = {};
};

TEST_F(BeatReading, OneQuarterNoteOnStringOne) {
    Read({0x00, 0x00, 0x40, 0x20, 0x01, 0x05, 0xEE}, 6);
    EXPECT_EQ(beat.flags, 0);
    EXPECT_EQ(beat.duration, 0);
    EXPECT_EQ(beat.stringFlags, 0x40);
    EXPECT_EQ(beat.notes[0].flags, 0x20);
    EXPECT_EQ(beat.notes[0].noteType, 1);
    EXPECT_EQ(beat.notes[0].fret, 5);
    for (int slot = 1; slot < 7; ++slot) ReaderChecks::ExpectEmptyNote(beat.notes[slot]);
}

TEST_F(BeatReading, QuarterRestWithoutNotes) {
    Read({0x40, 0x02, 0x00, 0x00, 0xEE}, 4);
    EXPECT_EQ(beat.flags, 0x40);
    EXPECT_EQ(beat.status, 2);
    EXPECT_EQ(beat.duration, 0);
    EXPECT_EQ(beat.stringFlags, 0);
}

TEST_F(BeatReading, ShortestBeatIsThreeBytes) {
    Read({0x00, 0xFE, 0x00, 0xEE}, 3);
    EXPECT_EQ(beat.duration, -2);
}

TEST_F(BeatReading, StringFlagBitSevenReadsNoNote) {
    Read({0x00, 0x01, 0x80, 0x20, 0x01, 0x05}, 3);
    EXPECT_EQ(beat.stringFlags, 0x80);
    for (const Talvoren::Note &note : beat.notes) ReaderChecks::ExpectEmptyNote(note);
}

TEST_F(BeatReading, FirstAndSeventhStringFillSlotsZeroAndSix) {
    Read({0x00, 0x00, 0x41, 0x20, 0x01, 0x03, 0x20, 0x02, 0x07}, 9);
    EXPECT_EQ(beat.notes[0].fret, 3);
    EXPECT_EQ(beat.notes[0].noteType, 1);
    EXPECT_EQ(beat.notes[6].fret, 7);
    EXPECT_EQ(beat.notes[6].noteType, 2);
    for (int slot = 1; slot < 6; ++slot) ReaderChecks::ExpectEmptyNote(beat.notes[slot]);
}

TEST_F(BeatReading, RestStillReadsTheNotesItAnnounces) {
    Read({0x40, 0x02, 0x00, 0x02, 0x20, 0x01, 0x09}, 7);
    EXPECT_EQ(beat.status, 2);
    EXPECT_EQ(beat.notes[5].fret, 9);
}

TEST_F(BeatReading, StatusAndTupletComeAroundTheDuration) {
    Read({0x61, 0x00, 0x01, 0x05, 0x00, 0x00, 0x00, 0x00}, 8);
    EXPECT_EQ(beat.flags, 0x61);
    EXPECT_EQ(beat.status, 0);
    EXPECT_EQ(beat.duration, 1);
    EXPECT_EQ(beat.tuplet, 5);
}

TEST_F(BeatReading, EveryPrefixOfTheRichestBeatsFails) {
    gp4::Song song = gp4::FeatureRichSong();
    for (const gp4::Beat &written : {song.beats[0][0][0], song.beats[0][0][3], song.beats[2][1][0]}) {
        gp4::Bytes bytes;
        gp4::WriteBeat(bytes, written);
        ReaderChecks::ExpectEveryPrefixFails(bytes, [&](std::FILE *stream) {
            int loaded = Talvoren::LoadBeat(&beat, stream);
            Talvoren::FreeBeat(&beat);
            return loaded == 1;
        });
    }
}

TEST_F(BeatReading, FreeingAZeroedOrFreedBeatIsHarmless) {
    Talvoren::FreeBeat(&beat);
    gp4::Bytes bytes;
    gp4::WriteBeat(bytes, gp4::FeatureRichSong().beats[0][0][0]);
    Read(bytes, static_cast<long>(bytes.size()));
    Talvoren::FreeBeat(&beat);
    EXPECT_EQ(beat.chordDiagram, nullptr);
    EXPECT_EQ(beat.text, nullptr);
    EXPECT_EQ(beat.beatEffect, nullptr);
    EXPECT_EQ(beat.mixTableEvent, nullptr);
    EXPECT_EQ(beat.notes[0].effect, nullptr);
    Talvoren::FreeBeat(&beat);
}

class NoteReading : public ReaderChecks::ReaderTest {
protected:
    void TearDown() override {
        Talvoren::FreeNote(&note);
        ReaderTest::TearDown();
    }
    void Read(const gp4::Bytes &bytes, long size) {
        ReaderChecks::Stream stream = OpenBytes(bytes);
        ASSERT_EQ(Talvoren::LoadNote(&note, stream.get()), 1);
        EXPECT_EQ(Position(stream), size);
    }
    Talvoren::Note note = {};
};

TEST_F(NoteReading, FlagsZeroIsOneByte) {
    Read({0x00, 0x20, 0x01}, 1);
    ReaderChecks::ExpectEmptyNote(note);
}

TEST_F(NoteReading, FlagOnlyBitsAreKeptAndBringNoData) {
    Read({0x46, 0x20, 0x01}, 1);
    EXPECT_EQ(note.flags, 0x46);
    EXPECT_EQ(note.noteType, 0);
}

TEST_F(NoteReading, TypeThenDynamicThenFret) {
    Read({0x30, 0x01, 0x08, 0x05}, 4);
    EXPECT_EQ(note.noteType, 1);
    EXPECT_EQ(note.dynamic, 8);
    EXPECT_EQ(note.fret, 5);
}

TEST_F(NoteReading, EveryFieldInFileOrder) {
    // flags, type, own duration and tuplet, dynamic, fret, two fingers, effects
    gp4::Bytes bytes = {0xB9, 0x03, 0xFF, 0x03, 0x07, 0x0C, 0x02, 0xFE, 0x00, 0x00};
    Read(bytes, 10);
    EXPECT_EQ(note.noteType, 3);
    EXPECT_EQ(note.timeIndependentDuration, -1);
    EXPECT_EQ(note.timeIndependentTuplet, 3);
    EXPECT_EQ(note.dynamic, 7);
    EXPECT_EQ(note.fret, 12);
    EXPECT_EQ(note.leftFingering, 2);
    EXPECT_EQ(note.rightFingering, -2);
    ASSERT_NE(note.effect, nullptr);
    EXPECT_EQ(note.effect->flags1, 0);
}

TEST_F(NoteReading, EveryPrefixFails) {
    gp4::Note written = gp4::FeatureRichSong().beats[0][0][0].notes[0];  // every note field
    gp4::Bytes bytes;
    gp4::WriteNote(bytes, written);
    ReaderChecks::ExpectEveryPrefixFails(bytes, [&](std::FILE *stream) {
        int loaded = Talvoren::LoadNote(&note, stream);
        if (!loaded) {
            EXPECT_EQ(note.effect, nullptr);
        }
        Talvoren::FreeNote(&note);
        return loaded == 1;
    });
}

// --- measure-track pairs and the body ---------------------------------------

class RowReading : public ReaderChecks::ReaderTest {
protected:
    void TearDown() override {
        Talvoren::FreeMeasureRow(row, 3);
        Talvoren::MemFree(buffer.beats);
        ReaderTest::TearDown();
    }
    // Reads one row of trackCount pairs from the bytes.
    int ReadRow(const gp4::Bytes &bytes, std::uint32_t trackCount) {
        ReaderChecks::Stream stream = OpenBytes(bytes);
        return Talvoren::LoadMeasureRow(row, trackCount, &buffer, stream.get());
    }
    static void WritePair(gp4::Bytes &bytes, const std::vector<gp4::Beat> &beats) {
        gp4::WriteInt(bytes, static_cast<std::uint32_t>(beats.size()));
        for (const gp4::Beat &beat : beats) gp4::WriteBeat(bytes, beat);
    }
    Talvoren::MeasureTrackPair row[3] = {};
    Talvoren::RowBuffer buffer = {nullptr, 0, 0};
};

TEST_F(RowReading, NoBeatsLoads) {
    ASSERT_EQ(ReadRow({0, 0, 0, 0}, 1), 1);
    EXPECT_EQ(row[0].beatCount, 0u);
    EXPECT_EQ(row[0].owners, 0u);
    EXPECT_NE(row[0].beats, nullptr);
}

// The pairs' beats follow one another in the row's block, in track order,
// and a pair of no beats takes no room in it.
TEST_F(RowReading, PairsShareOneBlockInTrackOrder) {
    gp4::Bytes bytes;
    WritePair(bytes, {gp4::QuarterNote(1, 1), gp4::QuarterNote(2, 2)});
    WritePair(bytes, {});
    WritePair(bytes, {gp4::QuarterNote(3, 3), gp4::QuarterNote(4, 4), gp4::QuarterNote(5, 5)});
    ASSERT_EQ(ReadRow(bytes, 3), 1);
    EXPECT_EQ(row[1].beats, row[0].beats + 2);
    EXPECT_EQ(row[2].beats, row[0].beats + 2);
    const std::uint32_t counts[] = {2, 0, 3};
    for (std::uint32_t track = 0; track < 3; ++track) EXPECT_EQ(row[track].beatCount, counts[track]);
    for (std::uint32_t beat = 0; beat < 3; ++beat) {
        EXPECT_EQ(row[2].beats[beat].stringFlags, 0x40u >> (beat + 2));
        EXPECT_EQ(row[2].beats[beat].notes[beat + 2].fret, beat + 3);
    }
}

// The buffer that takes one row's beats is cleared for the next: a beat of
// the next row holds nothing but what its own bytes say.
TEST_F(RowReading, NextRowStartsFromClearedBeats) {
    gp4::Beat full = gp4::NoteBeat(gp4::Duration::Eighth, {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}});
    full.flags |= gp4::BeatBits::Tuplet | gp4::BeatBits::Dotted;
    gp4::Bytes first;
    WritePair(first, {full, full, full});
    ASSERT_EQ(ReadRow(first, 1), 1);
    Talvoren::FreeMeasureRow(row, 1);

    gp4::Bytes second;
    WritePair(second, {gp4::QuarterNote(4, 9), gp4::QuarterNote(4, 9)});
    ASSERT_EQ(ReadRow(second, 1), 1);
    for (std::uint32_t beat = 0; beat < 2; ++beat) {
        const Talvoren::Beat &read = row[0].beats[beat];
        EXPECT_EQ(read.flags, 0);
        EXPECT_EQ(read.tuplet, 0);
        for (std::uint32_t slot = 0; slot < 7; ++slot) {
            if (slot == 3) continue;
            EXPECT_EQ(read.notes[slot].flags, 0) << "beat " << beat << " slot " << slot;
            EXPECT_EQ(read.notes[slot].fret, 0) << "beat " << beat << " slot " << slot;
        }
        EXPECT_EQ(read.notes[3].fret, 9);
    }
}

// A pair's owner bits name the beats that own a block of their own, one bit
// a beat for the first 31 and one for all later beats; the release visits
// only those, and nothing is left behind.
TEST_F(RowReading, OwnerBitsNameTheOwningBeats) {
    gp4::Beat withEffect = gp4::QuarterNote(2, 5);
    withEffect.notes[1].flags |= gp4::NoteBits::Effects;
    withEffect.notes[1].effects.flags2 = gp4::NoteEffectBits::Slide;
    gp4::Beat withText = gp4::QuarterNote(1, 1);
    withText.flags |= gp4::BeatBits::Text;
    withText.text = "here";
    gp4::Beat withChord = gp4::QuarterNote(1, 1);
    withChord.flags |= gp4::BeatBits::Chord;
    gp4::Beat plain = gp4::QuarterNote(3, 3);
    std::vector<gp4::Beat> longPair(40, plain);
    longPair[30] = withText;
    longPair[31] = withEffect;
    longPair[39] = withChord;

    gp4::Bytes bytes;
    WritePair(bytes, {plain, withEffect, plain, withText, plain});
    WritePair(bytes, {plain, plain});
    WritePair(bytes, longPair);
    ASSERT_EQ(ReadRow(bytes, 3), 1);
    EXPECT_EQ(row[0].owners, 0x0Au);
    EXPECT_EQ(row[1].owners, 0u);
    EXPECT_EQ(row[2].owners, 0xC0000000u);
    ASSERT_NE(row[0].beats[1].notes[1].effect, nullptr);
    ASSERT_NE(row[0].beats[3].text, nullptr);
    ASSERT_NE(row[2].beats[31].notes[1].effect, nullptr);
    ASSERT_NE(row[2].beats[39].chordDiagram, nullptr);
}

TEST_F(RowReading, FailureKeepsTheCountsAndReleasesTheBeats) {
    gp4::Bytes bytes;
    WritePair(bytes, {gp4::FeatureRichSong().beats[0][0][0]});
    gp4::WriteInt(bytes, 3);
    gp4::WriteBeat(bytes, gp4::FeatureRichSong().beats[0][0][0]);
    EXPECT_EQ(ReadRow(bytes, 2), 0);
    EXPECT_EQ(row[0].beatCount, 1u);
    EXPECT_EQ(row[1].beatCount, 3u);
    EXPECT_EQ(row[0].beats, nullptr);
    EXPECT_EQ(row[1].beats, nullptr);
    EXPECT_EQ(row[0].owners, 0u);
}

TEST_F(RowReading, EveryPrefixFails) {
    gp4::Bytes bytes;
    const gp4::Song song = gp4::FeatureRichSong();
    WritePair(bytes, song.beats[0][0]);
    WritePair(bytes, {gp4::QuarterNote(1, 1)});
    ReaderChecks::ExpectEveryPrefixFails(bytes, [&](std::FILE *stream) {
        const int loaded = Talvoren::LoadMeasureRow(row, 2, &buffer, stream);
        Talvoren::FreeMeasureRow(row, 2);
        Talvoren::MemFree(buffer.beats);
        buffer = {nullptr, 0, 0};
        return loaded == 1;
    });
}

class BodyReading : public ReaderChecks::ReaderTest {};

// A measure header or track that fails leaves the body's arrays for the
// caller to free with the same counts.
TEST_F(BodyReading, FailedTrackLeavesArraysForTheCallersFree) {
    gp4::Song song = gp4::FeatureRichSong();
    gp4::Bytes body;
    for (const gp4::MeasureHeader &measure : song.measures) gp4::WriteMeasureHeader(body, measure);
    gp4::WriteTrack(body, song.tracks[0]);
    ReaderChecks::Stream stream = OpenBytes(body, body.size() - 10);
    Talvoren::BodyStruct loaded = {};
    EXPECT_EQ(Talvoren::LoadBodyStruct(&loaded, stream.get(), 4, 1), 0);
    EXPECT_NE(loaded.measures, nullptr);
    EXPECT_NE(loaded.tracks, nullptr);
    EXPECT_EQ(loaded.measureTrackPairs, nullptr);
    ASSERT_NE(loaded.measures[0].marker, nullptr);
    Talvoren::FreeBodyStruct(&loaded, 4, 1);
    EXPECT_EQ(loaded.measures, nullptr);
    EXPECT_EQ(loaded.tracks, nullptr);
    Talvoren::FreeBodyStruct(&loaded, 4, 1);
}

// A pair that fails empties the whole body at once.
TEST_F(BodyReading, FailedPairEmptiesTheBody) {
    gp4::Song song = gp4::FeatureRichSong();
    gp4::Bytes bytes = gp4::WriteSong(song);
    gp4::Bytes header;
    gp4::WriteSongHeader(header, song);
    gp4::Bytes body(bytes.begin() + static_cast<long>(header.size()), bytes.end());
    ReaderChecks::Stream stream = OpenBytes(body, body.size() - 1);
    Talvoren::BodyStruct loaded = {};
    EXPECT_EQ(Talvoren::LoadBodyStruct(&loaded, stream.get(), 4, 3), 0);
    EXPECT_EQ(loaded.measures, nullptr);
    EXPECT_EQ(loaded.tracks, nullptr);
    EXPECT_EQ(loaded.measureTrackPairs, nullptr);
}

}  // namespace
