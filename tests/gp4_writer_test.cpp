// gp4_writer_test.cpp - the test-side song writer against byte sequences and
// section sizes known from the file layout, independently of the reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "gp4_writer.h"

namespace {

using gp4::Bytes;

Bytes Of(std::initializer_list<int> values) {
    Bytes bytes;
    for (int value : values) bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
}

std::uint32_t IntAt(const Bytes &bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes.at(offset)) | static_cast<std::uint32_t>(bytes.at(offset + 1)) << 8 |
           static_cast<std::uint32_t>(bytes.at(offset + 2)) << 16 |
           static_cast<std::uint32_t>(bytes.at(offset + 3)) << 24;
}

TEST(Gp4WriterPrimitives, IntegersAreLittleEndianAndStringsCarryTheirLengths) {
    Bytes bytes;
    gp4::WriteInt(bytes, 0x11223344u);
    gp4::WriteInt(bytes, static_cast<std::uint32_t>(-2));
    EXPECT_EQ(bytes, Of({0x44, 0x33, 0x22, 0x11, 0xFE, 0xFF, 0xFF, 0xFF}));

    bytes.clear();
    gp4::WriteByteSizeString(bytes, "ab");
    gp4::WriteIntSizeString(bytes, "c");
    gp4::WriteIntByteSizeString(bytes, "de");
    gp4::WriteIntByteSizeString(bytes, "", 7);
    EXPECT_EQ(bytes, Of({2, 'a', 'b', 1, 0, 0, 0, 'c', 3, 0, 0, 0, 2, 'd', 'e', 7, 0, 0, 0, 0}));
}

TEST(Gp4WriterPrimitives, FixedStringsFillTheirFieldOrRunPastIt) {
    Bytes bytes;
    gp4::WriteFixedString(bytes, "ab", 4, 0xEE);
    EXPECT_EQ(bytes, Of({2, 'a', 'b', 0xEE, 0xEE}));

    bytes.clear();
    gp4::WriteFixedString(bytes, "abcdef", 4);
    EXPECT_EQ(bytes, Of({6, 'a', 'b', 'c', 'd', 'e', 'f'}));

    bytes.clear();
    gp4::WriteFixedString(bytes, "", 30);
    EXPECT_EQ(bytes.size(), 31u);
}

TEST(Gp4WriterBeats, PlainBeatsMatchTheirKnownBytes) {
    Bytes bytes;
    gp4::WriteBeat(bytes, gp4::QuarterNote(1, 5));
    EXPECT_EQ(bytes, Of({0x00, 0x00, 0x40, 0x20, 0x01, 0x05}));

    bytes.clear();
    gp4::WriteBeat(bytes, gp4::RestBeat(gp4::Duration::Quarter));
    EXPECT_EQ(bytes, Of({0x40, 0x02, 0x00, 0x00}));

    bytes.clear();
    gp4::WriteBeat(bytes, gp4::NoteBeat(gp4::Duration::Eighth, {}));
    EXPECT_EQ(bytes, Of({0x00, 0x01, 0x00}));
}

TEST(Gp4WriterBeats, NotesFollowTheStringBitsFromStringOneDown) {
    gp4::Beat beat = gp4::NoteBeat(gp4::Duration::Quarter, {{7, 9}, {1, 2}});
    EXPECT_EQ(beat.stringFlags, 0x41);
    Bytes bytes;
    gp4::WriteBeat(bytes, beat);
    EXPECT_EQ(bytes, Of({0x00, 0x00, 0x41, 0x20, 0x01, 0x02, 0x20, 0x01, 0x09}));

    // Bit 7 announces no note.
    beat = gp4::Beat();
    beat.stringFlags = 0x80;
    bytes.clear();
    gp4::WriteBeat(bytes, beat);
    EXPECT_EQ(bytes, Of({0x00, 0x00, 0x80}));
}

TEST(Gp4WriterBeats, OptionalBlocksComeInFileOrder) {
    gp4::Beat beat;
    beat.flags = gp4::BeatBits::Status | gp4::BeatBits::Tuplet | gp4::BeatBits::Text | gp4::BeatBits::MixTable;
    beat.status = 2;
    beat.duration = gp4::Duration::Eighth;
    beat.tuplet = 5;
    beat.text = "hi";
    beat.textUnusedField = 0x01020304u;
    Bytes bytes;
    gp4::WriteBeat(bytes, beat);
    Bytes expected = Of({0x74, 0x02, 0x01, 5, 0, 0, 0, 4, 3, 2, 1, 2, 'h', 'i'});
    gp4::WriteMixTable(expected, gp4::MixTable());
    expected.push_back(0x00);
    EXPECT_EQ(bytes, expected);
}

TEST(Gp4WriterNotes, TypeDynamicAndFretAreSplitAroundTheDuration) {
    gp4::Note note;
    note.flags = 0xB1;  // fingering, type and fret, dynamic, time-independent duration
    note.type = 2;
    note.timeIndependentDuration = -1;
    note.timeIndependentTuplet = 3;
    note.dynamic = 8;
    note.fret = 12;
    note.leftFingering = 1;
    note.rightFingering = -1;
    Bytes bytes;
    gp4::WriteNote(bytes, note);
    EXPECT_EQ(bytes, Of({0xB1, 2, 0xFF, 3, 8, 12, 1, 0xFF}));

    note.flags = 0x46;  // bits without data
    bytes.clear();
    gp4::WriteNote(bytes, note);
    EXPECT_EQ(bytes, Of({0x46}));
}

TEST(Gp4WriterNotes, BendsAreNinePlusNineBytesPerPoint) {
    gp4::Bend bend;
    bend.points.clear();
    Bytes bytes;
    gp4::WriteBend(bytes, bend);
    EXPECT_EQ(bytes.size(), 9u);

    bend.type = 6;
    bend.value = -25;
    bend.points = {{1, 2, 3}, {-1, 100, 0}};
    bytes.clear();
    gp4::WriteBend(bytes, bend);
    EXPECT_EQ(bytes, Of({6, 0xE7, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0xFF, 0xFF, 0xFF,
                         0xFF, 100, 0, 0, 0, 0}));

    bend.pointCountOverride = 3;
    bytes.clear();
    gp4::WriteBend(bytes, bend);
    EXPECT_EQ(IntAt(bytes, 5), 3u);
    EXPECT_EQ(bytes.size(), 27u);
}

TEST(Gp4WriterNotes, NoteEffectsWriteEachAnnouncedFieldOnce) {
    gp4::NoteEffects effects;
    Bytes bytes;
    gp4::WriteNoteEffects(bytes, effects);
    EXPECT_EQ(bytes, Of({0, 0}));

    effects.flags1 = 0x0A;
    effects.flags2 = 0x43;
    bytes.clear();
    gp4::WriteNoteEffects(bytes, effects);
    EXPECT_EQ(bytes, Of({0x0A, 0x43}));

    effects.flags1 = 0x11;
    effects.flags2 = 0x3C;
    effects.bend.points = {{0, 0, 0}};
    bytes.clear();
    gp4::WriteNoteEffects(bytes, effects);
    ASSERT_EQ(bytes.size(), 2u + 18u + 4u + 3u + 2u);
    EXPECT_EQ(bytes[2], effects.bend.type);  // bend first
    EXPECT_EQ(Bytes(bytes.begin() + 20, bytes.end()),
              Of({effects.graceFret, effects.graceDynamic, effects.graceTransition, effects.graceDuration,
                  effects.tremoloPicking, effects.slide, effects.harmonic, effects.trillFret,
                  effects.trillPeriod}));
}

TEST(Gp4WriterBeatBlocks, BeatEffectsAlternateBetweenTheFlagBytes) {
    gp4::BeatEffects effects;
    Bytes bytes;
    gp4::WriteBeatEffects(bytes, effects);
    EXPECT_EQ(bytes, Of({0, 0}));

    effects.flags1 = 0x60;
    effects.flags2 = 0x06;
    effects.tapping = 3;
    effects.tremoloBar.points = {};
    effects.tremoloBar.type = 9;
    effects.strokeSpeeds = {4, 5};
    effects.pickStroke = 2;
    bytes.clear();
    gp4::WriteBeatEffects(bytes, effects);
    EXPECT_EQ(bytes, Of({0x60, 0x06, 3, 9, 50, 0, 0, 0, 0, 0, 0, 0, 4, 5, 2}));
}

TEST(Gp4WriterBeatBlocks, MixTablesCarryDurationsOnlyForChangedValues) {
    gp4::MixTable mix;
    Bytes bytes;
    gp4::WriteMixTable(bytes, mix);
    EXPECT_EQ(bytes, Of({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}));

    mix.instrument = 30;
    bytes.clear();
    gp4::WriteMixTable(bytes, mix);
    EXPECT_EQ(bytes.size(), 12u);

    mix.volume = 10;
    mix.volumeDuration = 3;
    mix.tempo = 90;
    mix.tempoDuration = 4;
    mix.applyToAllTracks = 1;
    bytes.clear();
    gp4::WriteMixTable(bytes, mix);
    EXPECT_EQ(bytes, Of({30, 10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 90, 0, 0, 0, 3, 4, 1}));

    mix = gp4::MixTable{1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 14, 15, 16, 17, 0x3F};
    bytes.clear();
    gp4::WriteMixTable(bytes, mix);
    EXPECT_EQ(bytes, Of({1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 11, 12, 13, 14, 15, 16, 17, 0x3F}));
}

TEST(Gp4WriterBeatBlocks, ShortChordDiagramsWriteFretsOnlyWithABaseFret) {
    gp4::ChordDiagram chord;
    chord.name = "Am";
    chord.baseFret = 0;
    Bytes bytes;
    gp4::WriteChordDiagram(bytes, chord);
    EXPECT_EQ(bytes, Of({0, 3, 0, 0, 0, 2, 'A', 'm', 0, 0, 0, 0}));

    chord.baseFret = 5;
    bytes.clear();
    gp4::WriteChordDiagram(bytes, chord);
    ASSERT_EQ(bytes.size(), 12u + 24u);
    EXPECT_EQ(IntAt(bytes, 8), 5u);
    EXPECT_EQ(IntAt(bytes, 12 + 4 * 5), static_cast<std::uint32_t>(chord.frets[5]));

    chord.format = 2;
    bytes.clear();
    gp4::WriteChordDiagram(bytes, chord);
    EXPECT_EQ(bytes, Of({2}));
}

TEST(Gp4WriterBeatBlocks, LongChordDiagramsAre107BytesAtTheirOffsets) {
    gp4::ChordDiagram chord;
    chord.format = 1;
    chord.sharp = 1;
    chord.reserved1 = {0xA1, 0xA2, 0xA3};
    chord.root = 2;
    chord.bass = -3;
    chord.add = 1;
    chord.name = "Dsus4";
    chord.nameFiller = 0x2E;
    chord.reserved2 = {0xB1, 0xB2};
    chord.eleventh = 4;
    chord.baseFret = 7;
    chord.frets = {1, 2, 3, 4, 5, 6, 7};
    chord.barreCount = 2;
    chord.barreEnds = {1, 2, 3, 4, 5};
    chord.omissions = {9, 8, 7, 6, 5, 4, 3};
    chord.reserved3 = 0xC1;
    chord.fingerings = {-1, 0, 1, 2, 3, 4, 5};
    chord.showFingering = 1;
    Bytes bytes;
    gp4::WriteChordDiagram(bytes, chord);
    ASSERT_EQ(bytes.size(), 107u);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[1], 1);
    EXPECT_EQ(Bytes(bytes.begin() + 2, bytes.begin() + 5), Of({0xA1, 0xA2, 0xA3}));
    EXPECT_EQ(bytes[5], 2);
    EXPECT_EQ(IntAt(bytes, 8), static_cast<std::uint32_t>(-3));
    EXPECT_EQ(bytes[16], 1);
    EXPECT_EQ(bytes[17], 5);
    EXPECT_EQ(bytes[18], 'D');
    EXPECT_EQ(bytes[23], 0x2E);
    EXPECT_EQ(bytes[37], 0x2E);
    EXPECT_EQ(Bytes(bytes.begin() + 38, bytes.begin() + 40), Of({0xB1, 0xB2}));
    EXPECT_EQ(bytes[42], 4);
    EXPECT_EQ(IntAt(bytes, 43), 7u);
    EXPECT_EQ(IntAt(bytes, 47), 1u);
    EXPECT_EQ(IntAt(bytes, 71), 7u);
    EXPECT_EQ(bytes[75], 2);
    EXPECT_EQ(bytes[86], 1);
    EXPECT_EQ(bytes[90], 5);
    EXPECT_EQ(bytes[91], 9);
    EXPECT_EQ(bytes[97], 3);
    EXPECT_EQ(bytes[98], 0xC1);
    EXPECT_EQ(bytes[99], 0xFF);
    EXPECT_EQ(bytes[105], 5);
    EXPECT_EQ(bytes[106], 1);

    // A name longer than its field runs on; the length byte tells its length.
    chord.name = std::string(30, 'x');
    bytes.clear();
    gp4::WriteChordDiagram(bytes, chord);
    EXPECT_EQ(bytes.size(), 107u + 10u);
    EXPECT_EQ(bytes[17], 30);
}

TEST(Gp4WriterSections, MeasureHeadersWriteDataInBitOrder) {
    gp4::MeasureHeader measure;
    Bytes bytes;
    gp4::WriteMeasureHeader(bytes, measure);
    EXPECT_EQ(bytes, Of({0}));

    measure.flags = 0xFF;
    measure.numerator = 3;
    measure.denominator = 8;
    measure.repeatCount = 2;
    measure.altEnding = 5;
    measure.markerText = "A";
    measure.markerColor = 0x00332211u;
    measure.tonality = -2;
    measure.tonalityType = 1;
    bytes.clear();
    gp4::WriteMeasureHeader(bytes, measure);
    EXPECT_EQ(bytes, Of({0xFF, 3, 8, 2, 5, 2, 0, 0, 0, 1, 'A', 0x11, 0x22, 0x33, 0x00, 0xFE, 1}));

    measure.flags = gp4::MeasureBits::BeginRepeat | gp4::MeasureBits::DoubleBar;
    bytes.clear();
    gp4::WriteMeasureHeader(bytes, measure);
    EXPECT_EQ(bytes, Of({0x84}));
}

TEST(Gp4WriterSections, TracksAre98Bytes) {
    gp4::Track track;
    track.nameFiller = 0x77;
    Bytes bytes;
    gp4::WriteTrack(bytes, track);
    ASSERT_EQ(bytes.size(), 98u);
    EXPECT_EQ(bytes[1], track.name.size());
    EXPECT_EQ(bytes[41], 0x77);
    EXPECT_EQ(IntAt(bytes, 42), 6u);
    EXPECT_EQ(IntAt(bytes, 46), 64u);
    EXPECT_EQ(IntAt(bytes, 70), 0u);
    EXPECT_EQ(IntAt(bytes, 74), 1u);  // port
    EXPECT_EQ(IntAt(bytes, 82), 2u);  // effects channel
    EXPECT_EQ(IntAt(bytes, 86), 24u);
    EXPECT_EQ(IntAt(bytes, 94), track.colour);

    track.name = std::string(45, 'n');
    bytes.clear();
    gp4::WriteTrack(bytes, track);
    EXPECT_EQ(bytes.size(), 98u + 5u);
}

TEST(Gp4WriterSections, TheHeaderEndsWith785BytesOfPieceInformation) {
    gp4::Song song;
    song.tempo = 0x01020304u;
    song.key = -1;
    song.octave = 0x0A0B0C0D;
    song.channels[0][0].instrument = 0x11;
    song.channels[3][15].instrument = 0x22;
    song.channels[3][15].filler = {0x33, 0x44};
    song.measures = {gp4::MeasureHeader(), gp4::MeasureHeader()};
    song.trackCountOverride = 9;
    Bytes bytes;
    gp4::WriteSongHeader(bytes, song);

    std::size_t infoStrings = 0;
    for (const std::string *info : {&song.title, &song.subtitle, &song.interpret, &song.album, &song.author,
                                    &song.copyright, &song.tabAuthor, &song.instructions})
        infoStrings += 5 + info->size();
    std::size_t lyrics = 0;
    for (const gp4::LyricsLine &line : song.lyrics) lyrics += 8 + line.text.size();
    ASSERT_EQ(bytes.size(), 31 + infoStrings + 4 + 1 + 4 + lyrics + 785);

    std::size_t piece = bytes.size() - 785;
    EXPECT_EQ(IntAt(bytes, piece), 0x01020304u);
    EXPECT_EQ(bytes[piece + 4], 0xFF);
    EXPECT_EQ(IntAt(bytes, piece + 5), 0x0A0B0C0Du);
    EXPECT_EQ(IntAt(bytes, piece + 9), 0x11u);
    EXPECT_EQ(IntAt(bytes, piece + 9 + 756), 0x22u);
    EXPECT_EQ(bytes[piece + 9 + 756 + 10], 0x33);
    EXPECT_EQ(bytes[piece + 9 + 756 + 11], 0x44);
    EXPECT_EQ(IntAt(bytes, piece + 777), 2u);
    EXPECT_EQ(IntAt(bytes, piece + 781), 9u);
}

TEST(Gp4WriterSections, VersionFieldIs31BytesAndNoticeLinesFollowTheirCount) {
    gp4::Song song;
    song.versionFiller = 0x55;
    song.title = "";
    song.noticeLines = {"n1", "n2"};
    song.tripletFeel = 2;
    Bytes bytes;
    gp4::WriteSongHeader(bytes, song);
    EXPECT_EQ(bytes[0], 24);
    EXPECT_EQ(std::string(bytes.begin() + 1, bytes.begin() + 25), "FICHIER GUITAR PRO v4.06");
    EXPECT_EQ(bytes[25], 0x55);
    EXPECT_EQ(bytes[30], 0x55);
    EXPECT_EQ(Bytes(bytes.begin() + 31, bytes.begin() + 36), Of({1, 0, 0, 0, 0}));  // empty title

    std::size_t afterInfo = 31 + 5;
    for (const std::string *info : {&song.subtitle, &song.interpret, &song.album, &song.author, &song.copyright,
                                    &song.tabAuthor, &song.instructions})
        afterInfo += 5 + info->size();
    EXPECT_EQ(IntAt(bytes, afterInfo), 2u);
    EXPECT_EQ(Bytes(bytes.begin() + afterInfo + 4, bytes.begin() + afterInfo + 19),
              Of({3, 0, 0, 0, 2, 'n', '1', 3, 0, 0, 0, 2, 'n', '2', 2}));
}

TEST(Gp4WriterSongs, SongsWriteEveryPairInMeasureThenTrackOrder) {
    gp4::Song song = gp4::MinimalSong();
    Bytes header;
    gp4::WriteSongHeader(header, song);
    Bytes bytes = gp4::WriteSong(song);
    EXPECT_EQ(bytes.size(), header.size() + 3 + 98 + 4 + 6);

    // Two measures, two tracks, beats only in [1][0]; a lying beat count.
    song.measures.push_back(gp4::MeasureHeader());
    song.tracks.push_back(gp4::Track());
    song.beats = {{}, {{gp4::RestBeat(gp4::Duration::Half)}}};
    song.beatCountOverrides[{1, 1}] = 7;
    bytes = gp4::WriteSong(song);
    std::size_t pairs = header.size() + 3 + 1 + 2 * 98;
    ASSERT_EQ(bytes.size(), pairs + 4 + 4 + 4 + 4 + 4);
    EXPECT_EQ(IntAt(bytes, pairs), 0u);
    EXPECT_EQ(IntAt(bytes, pairs + 4), 0u);
    EXPECT_EQ(IntAt(bytes, pairs + 8), 1u);
    EXPECT_EQ(Bytes(bytes.begin() + pairs + 12, bytes.begin() + pairs + 16), Of({0x40, 0x02, 0xFF, 0x00}));
    EXPECT_EQ(IntAt(bytes, pairs + 16), 7u);
}

TEST(Gp4WriterSongs, FeatureRichSongUsesEveryMeasureFlagAndBothChordFormats) {
    gp4::Song song = gp4::FeatureRichSong();
    std::uint8_t measureFlags = 0;
    for (const gp4::MeasureHeader &measure : song.measures) measureFlags |= measure.flags;
    EXPECT_EQ(measureFlags, 0xFF);
    bool shortChord = false, longChord = false;
    std::uint8_t beatFlags = 0;
    for (const auto &measure : song.beats)
        for (const auto &track : measure)
            for (const gp4::Beat &beat : track) {
                beatFlags |= beat.flags;
                if (beat.flags & gp4::BeatBits::Chord) (beat.chord.format ? longChord : shortChord) = true;
            }
    EXPECT_EQ(beatFlags, 0x7F);
    EXPECT_TRUE(shortChord);
    EXPECT_TRUE(longChord);
    EXPECT_GE(song.tracks.size(), 3u);
    EXPECT_NE(gp4::WriteSong(song), gp4::WriteSong(gp4::FeatureRichSong(1)));
}

TEST(Gp4WriterFiles, TempFilesHoldTheBytesAndCanBeRemoved) {
    Bytes bytes = gp4::WriteSong(gp4::MinimalSong());
    std::string path = gp4::WriteTempFile(bytes, "dir/minimal.gp4");
    std::string other = gp4::WriteTempFile(Bytes(), "minimal.gp4");
    EXPECT_NE(path, other);
    std::ifstream file(path, std::ios::binary);
    Bytes read((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(read, bytes);
    gp4::RemoveTempFile(path);
    EXPECT_EQ(std::fopen(path.c_str(), "rb"), nullptr);
}

}  // namespace
