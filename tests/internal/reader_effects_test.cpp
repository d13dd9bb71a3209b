// reader_effects_test.cpp - note effects and bends, beat effects, mix-table
// changes and chord diagrams: the bytes each block consumes, its reading
// order, and release of what it built when it is cut off.
#include "test_heap.h"
#include "gp/reader.cpp"
#include "reader_checks.h"

#include <gtest/gtest.h>

namespace {

using ReaderChecks::OpenBytes;
using ReaderChecks::Position;

// Reads one block with create (stream -> record pointer), checks it took
// exactly `size` bytes, and hands the record to the test.
template <typename Record, typename Create>
Record *ReadBlock(Create create, const gp4::Bytes &bytes, long size) {
    ReaderChecks::Stream stream = OpenBytes(bytes);
    Record *record = create(stream.get());
    EXPECT_NE(record, nullptr);
    EXPECT_EQ(Position(stream), size);
    return record;
}

class EffectReading : public ReaderChecks::ReaderTest {};

// --- note effects and bends --------------------------------------------------

TEST_F(EffectReading, NoteEffectWithoutFlagsIsTwoBytes) {
    Talvoren::NoteEffect *effect =
        ReadBlock<Talvoren::NoteEffect>(Talvoren::CreateNoteEffectFromFile, {0x00, 0x00, 0x01, 0x10}, 2);
    ASSERT_NE(effect, nullptr);
    ReaderChecks::ExpectNoteEffect(effect, gp4::NoteEffects());
    Talvoren::DestroyNoteEffect(&effect);
    EXPECT_EQ(effect, nullptr);
}

TEST_F(EffectReading, FlagOnlyNoteEffectBitsBringNoData) {
    Talvoren::NoteEffect *effect =
        ReadBlock<Talvoren::NoteEffect>(Talvoren::CreateNoteEffectFromFile, {0x0A, 0x43, 0x01, 0x10}, 2);
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->flags1, 0x0A);
    EXPECT_EQ(effect->flags2, 0x43);
    EXPECT_EQ(effect->bend, nullptr);
    Talvoren::DestroyNoteEffect(&effect);
}

TEST_F(EffectReading, EveryNoteEffectInFileOrder) {
    gp4::Bytes bytes = {0x11, 0x3C};
    bytes.insert(bytes.end(), {0x06, 0x64, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00});  // bend header
    bytes.insert(bytes.end(), {0x0C, 0x00, 0x00, 0x00, 0xF8, 0xFF, 0xFF, 0xFF, 0x01});  // one point
    bytes.insert(bytes.end(), {0x03, 0x06, 0x01, 0x02});  // grace fret, dynamic, transition, duration
    bytes.insert(bytes.end(), {0x21, 0x22, 0x23});        // tremolo picking, slide, harmonic
    bytes.insert(bytes.end(), {0x07, 0x02});              // trill fret and period
    Talvoren::NoteEffect *effect = ReadBlock<Talvoren::NoteEffect>(
        Talvoren::CreateNoteEffectFromFile, bytes, static_cast<long>(bytes.size()));
    ASSERT_NE(effect, nullptr);
    ASSERT_NE(effect->bend, nullptr);
    EXPECT_EQ(effect->bend->bendType, 6);
    EXPECT_EQ(effect->bend->bendValue, 100);
    ASSERT_EQ(effect->bend->pointCount, 1u);
    EXPECT_EQ(+effect->bend->points[0].position, 12);
    EXPECT_EQ(+effect->bend->points[0].value, -8);
    EXPECT_EQ(effect->bend->points[0].vibrato, 1);
    EXPECT_EQ(effect->graceFret, 3);
    EXPECT_EQ(effect->graceDynamic, 6);
    EXPECT_EQ(effect->graceTransition, 1);
    EXPECT_EQ(effect->graceDuration, 2);
    EXPECT_EQ(effect->tremoloPicking, 0x21);
    EXPECT_EQ(effect->slide, 0x22);
    EXPECT_EQ(effect->harmonic, 0x23);
    EXPECT_EQ(effect->trillFret, 7);
    EXPECT_EQ(effect->trillPeriod, 2);
    Talvoren::DestroyNoteEffect(&effect);
}

TEST_F(EffectReading, BendWithoutPointsIsNineBytesWithAnEmptyArray) {
    gp4::Bend written;
    written.points.clear();
    gp4::Bytes bytes;
    gp4::WriteBend(bytes, written);
    bytes.push_back(0x44);
    Talvoren::Bend *bend = ReadBlock<Talvoren::Bend>(Talvoren::CreateBendFromFile, bytes, 9);
    ASSERT_NE(bend, nullptr);
    EXPECT_EQ(bend->pointCount, 0u);
    EXPECT_NE(bend->points, nullptr);
    Talvoren::DestroyBend(&bend);
    EXPECT_EQ(bend, nullptr);
}

TEST_F(EffectReading, BendCutOffInsideItsPointsFailsWithNothingLeft) {
    gp4::Bend written;  // three points
    gp4::Bytes bytes;
    gp4::WriteBend(bytes, written);
    ReaderChecks::Stream stream = OpenBytes(bytes, 9 + 9 * 2 + 4);
    EXPECT_EQ(Talvoren::CreateBendFromFile(stream.get()), nullptr);
    ReaderChecks::ExpectEveryPrefixFails(bytes, [](std::FILE *prefix) {
        Talvoren::Bend *bend = Talvoren::CreateBendFromFile(prefix);
        if (bend != nullptr) Talvoren::DestroyBend(&bend);
        return bend != nullptr;
    });
}

TEST_F(EffectReading, GraceNoteOrTrillCutAfterItsFirstByteFails) {
    gp4::NoteEffects grace;
    grace.flags1 = gp4::NoteEffectBits::Grace;
    gp4::NoteEffects trill;
    trill.flags2 = gp4::NoteEffectBits::Trill;
    for (const gp4::NoteEffects &written : {grace, trill}) {
        gp4::Bytes bytes;
        gp4::WriteNoteEffects(bytes, written);
        ReaderChecks::Stream stream = OpenBytes(bytes, 3);
        EXPECT_EQ(Talvoren::CreateNoteEffectFromFile(stream.get()), nullptr);
    }
}

TEST_F(EffectReading, EveryPrefixOfAFullNoteEffectFails) {
    gp4::NoteEffects written = gp4::FeatureRichSong().beats[0][0][0].notes[0].effects;
    gp4::Bytes bytes;
    gp4::WriteNoteEffects(bytes, written);
    ReaderChecks::ExpectEveryPrefixFails(bytes, [](std::FILE *stream) {
        Talvoren::NoteEffect *effect = Talvoren::CreateNoteEffectFromFile(stream);
        if (effect != nullptr) Talvoren::DestroyNoteEffect(&effect);
        return effect != nullptr;
    });
}

// --- beat effects -------------------------------------------------------------

TEST_F(EffectReading, BeatEffectWithoutFlagsIsTwoBytes) {
    Talvoren::BeatEffect *beatEffect =
        ReadBlock<Talvoren::BeatEffect>(Talvoren::CreateBeatEffectFromFile, {0x00, 0x00, 0x20, 0x04}, 2);
    ASSERT_NE(beatEffect, nullptr);
    ReaderChecks::ExpectBeatEffect(beatEffect, gp4::BeatEffects());
    Talvoren::DestroyBeatEffect(&beatEffect);
    EXPECT_EQ(beatEffect, nullptr);
    Talvoren::DestroyBeatEffect(&beatEffect);  // a null record is allowed
}

TEST_F(EffectReading, BeatEffectReadsTappingCurveStrokesAndPickInThisOrder) {
    gp4::Bytes bytes = {0x60, 0x06, 0x03};                              // flags, tapping
    bytes.insert(bytes.end(), {0x01, 0x32, 0, 0, 0, 0, 0, 0, 0});       // curve without points
    bytes.insert(bytes.end(), {0x04, 0x05, 0x02});                      // two strokes, pick
    Talvoren::BeatEffect *beatEffect = ReadBlock<Talvoren::BeatEffect>(
        Talvoren::CreateBeatEffectFromFile, bytes, static_cast<long>(bytes.size()));
    ASSERT_NE(beatEffect, nullptr);
    EXPECT_EQ(beatEffect->tappingType, 3);
    ASSERT_NE(beatEffect->tremoloBar, nullptr);
    EXPECT_EQ(beatEffect->tremoloBar->bendType, 1);
    EXPECT_EQ(beatEffect->tremoloBar->bendValue, 0x32);
    EXPECT_EQ(beatEffect->strokeSpeeds[0], 4);
    EXPECT_EQ(beatEffect->strokeSpeeds[1], 5);
    EXPECT_EQ(beatEffect->pickStroke, 2);
    Talvoren::DestroyBeatEffect(&beatEffect);
}

TEST_F(EffectReading, BeatEffectCutBeforeItsPickStrokeReleasesTheCurve) {
    gp4::BeatEffects written;
    written.flags1 = gp4::BeatEffectBits::Stroke;
    written.flags2 = gp4::BeatEffectBits::TremoloBar | gp4::BeatEffectBits::PickStroke;
    gp4::Bytes bytes;
    gp4::WriteBeatEffects(bytes, written);
    ReaderChecks::Stream stream = OpenBytes(bytes, bytes.size() - 1);
    EXPECT_EQ(Talvoren::CreateBeatEffectFromFile(stream.get()), nullptr);
    EXPECT_EQ(TestHeap::LiveBlocks(), liveBefore);
    ReaderChecks::ExpectEveryPrefixFails(bytes, [](std::FILE *prefix) {
        Talvoren::BeatEffect *beatEffect = Talvoren::CreateBeatEffectFromFile(prefix);
        if (beatEffect != nullptr) Talvoren::DestroyBeatEffect(&beatEffect);
        return beatEffect != nullptr;
    });
}

// --- mix-table changes ------------------------------------------------------

struct MixCase {
    const char *what;
    gp4::MixTable mix;
    long size;
};

TEST_F(EffectReading, MixTableTakesOneDurationPerChangedValue) {
    gp4::MixTable nothing;
    nothing.applyToAllTracks = 0x3F;
    gp4::MixTable instrumentOnly;
    instrumentOnly.instrument = 30;
    gp4::MixTable volumeAndTempo;
    volumeAndTempo.volume = 12;
    volumeAndTempo.volumeDuration = 3;
    volumeAndTempo.tempo = 140;
    volumeAndTempo.tempoDuration = 9;
    gp4::MixTable everything = {26, 10, 4, 1, 2, 3, 4, 0, 1, 2, 3, 4, 5, 6, 7, 0x15};
    gp4::MixTable zeroValues = {0, 0, 0, 0, 0, 0, 0, -2, 9, 8, 7, 6, 5, 4, 3, 0};
    const MixCase cases[] = {
        {"every value unchanged", nothing, 12},
        {"the instrument alone", instrumentOnly, 12},
        {"volume and tempo", volumeAndTempo, 14},
        {"every value", everything, 19},
        {"zero values still change", zeroValues, 19},
    };
    for (const MixCase &mixCase : cases) {
        SCOPED_TRACE(mixCase.what);
        gp4::Bytes bytes;
        gp4::WriteMixTable(bytes, mixCase.mix);
        ASSERT_EQ(static_cast<long>(bytes.size()), mixCase.size);
        ReaderChecks::ExpectEveryPrefixFails(bytes, [](std::FILE *stream) {
            Talvoren::MixTableEvent *read = Talvoren::CreateMixTableEventFromFile(stream);
            if (read != nullptr) Talvoren::DestroyMixTableEvent(&read);
            return read != nullptr;
        });
        bytes.push_back(0x99);
        Talvoren::MixTableEvent *mix =
            ReadBlock<Talvoren::MixTableEvent>(Talvoren::CreateMixTableEventFromFile, bytes, mixCase.size);
        ReaderChecks::ExpectMixTable(mix, mixCase.mix);
        Talvoren::DestroyMixTableEvent(&mix);
        EXPECT_EQ(mix, nullptr);
    }
}

TEST_F(EffectReading, VolumeDurationComesBeforeTempoDuration) {
    gp4::Bytes bytes = {0xFF, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x64, 0, 0, 0, 0x02, 0x05, 0x01};
    Talvoren::MixTableEvent *mix =
        ReadBlock<Talvoren::MixTableEvent>(Talvoren::CreateMixTableEventFromFile, bytes, 14);
    ASSERT_NE(mix, nullptr);
    EXPECT_EQ(mix->volume, 12);
    EXPECT_EQ(mix->tempo, 100);
    EXPECT_EQ(mix->volumeDuration, 2);
    EXPECT_EQ(mix->tempoDuration, 5);
    EXPECT_EQ(mix->applyToAllTracks, 1);
    Talvoren::DestroyMixTableEvent(&mix);
}

// --- chord diagrams ------------------------------------------------------------

TEST_F(EffectReading, ChordFormatOtherThanShortOrLongFails) {
    for (std::uint8_t format : {2, 0xFF}) {
        gp4::Bytes bytes = {format, 0x00, 0x00, 0x00, 0x00, 0x00};
        ReaderChecks::Stream stream = OpenBytes(bytes);
        EXPECT_EQ(Talvoren::CreateChordDiagramFromFile(stream.get()), nullptr);
    }
    gp4::Song song = gp4::MinimalSong();
    song.beats[0][0][0].flags |= gp4::BeatBits::Chord;
    song.beats[0][0][0].chord.format = 2;
    ReaderChecks::Stream stream = OpenBytes(gp4::WriteSong(song));
    Talvoren::FileStruct file = {};
    EXPECT_EQ(Talvoren::LoadFileStruct(&file, stream.get()), 0);
    Talvoren::FreeFileStruct(&file);
}

TEST_F(EffectReading, ShortChordWithBaseFretZeroEndsAfterIt) {
    gp4::ChordDiagram written;
    written.name = "Am";
    written.baseFret = 0;
    written.nameUnusedField = 0xFFFFFFFFu;
    gp4::Bytes bytes;
    gp4::WriteChordDiagram(bytes, written);
    ASSERT_EQ(bytes.size(), 1u + 4 + 3 + 4);
    bytes.insert(bytes.end(), {1, 0, 0, 0});
    Talvoren::ChordDiagram *chord = ReadBlock<Talvoren::ChordDiagram>(
        Talvoren::CreateChordDiagramFromFile, bytes, 12);
    ReaderChecks::ExpectChordDiagram(chord, written);
    Talvoren::DestroyChordDiagram(&chord);
    EXPECT_EQ(chord, nullptr);
}

TEST_F(EffectReading, ShortChordReadsSixFrets) {
    gp4::ChordDiagram written;
    written.name = "D";
    written.baseFret = 2;
    written.frets = {2, 3, 2, 0, -1, -1, 55};
    gp4::Bytes bytes;
    gp4::WriteChordDiagram(bytes, written);
    bytes.insert(bytes.end(), {7, 0, 0, 0});
    Talvoren::ChordDiagram *chord = ReadBlock<Talvoren::ChordDiagram>(
        Talvoren::CreateChordDiagramFromFile, bytes, 1 + 4 + 2 + 4 + 24);
    ReaderChecks::ExpectChordDiagram(chord, written);
    Talvoren::DestroyChordDiagram(&chord);
}

// The name field is 21 bytes whatever the name's length byte says.
TEST_F(EffectReading, LongChordNameFieldIsTwentyOneBytesWhateverTheName) {
    gp4::ChordDiagram shortName = gp4::FeatureRichSong().beats[0][0][3].chord;
    shortName.name = "Dsus4";
    shortName.nameFiller = 0x77;
    gp4::Bytes bytes;
    gp4::WriteChordDiagram(bytes, shortName);
    Talvoren::ChordDiagram *chord =
        ReadBlock<Talvoren::ChordDiagram>(Talvoren::CreateChordDiagramFromFile, bytes, 107);
    ReaderChecks::ExpectChordDiagram(chord, shortName);
    Talvoren::DestroyChordDiagram(&chord);

    // A 30-byte name runs 10 bytes past its field, over reserved2 to the
    // first byte of the frets; reading goes on from the field's start + 21,
    // so the record is still 107 bytes long.
    gp4::Bytes longName = {1};
    longName.insert(longName.end(), 16, 0);  // sharp to add
    gp4::WriteByte(longName, 30);
    gp4::WriteText(longName, "ABCDEFGHIJKLMNOPQRST");
    longName.insert(longName.end(), {0x0B, 0x0C, 0x0D, 0x0E, 0x0F});  // reserved2, fifth to eleventh
    gp4::WriteInt(longName, 2);  // baseFret
    for (std::uint32_t fret = 9; fret < 16; ++fret) gp4::WriteInt(longName, fret);
    longName.insert(longName.end(), 32, 0);  // barres to show fingering
    ASSERT_EQ(longName.size(), 107u);
    chord = ReadBlock<Talvoren::ChordDiagram>(Talvoren::CreateChordDiagramFromFile, longName, 107);
    ASSERT_NE(chord, nullptr);
    ReaderChecks::ExpectText(chord->name, std::string("ABCDEFGHIJKLMNOPQRST\x0B\x0C\x0D\x0E\x0F\x02\0\0\0\x09", 30));
    EXPECT_EQ(chord->reserved2[0], 0x0B);
    EXPECT_EQ(chord->reserved2[1], 0x0C);
    EXPECT_EQ(chord->fifth, 0x0D);
    EXPECT_EQ(chord->ninth, 0x0E);
    EXPECT_EQ(chord->eleventh, 0x0F);
    EXPECT_EQ(chord->baseFret, 2);
    EXPECT_EQ(chord->frets[0], 9);
    EXPECT_EQ(chord->frets[6], 15);
    Talvoren::DestroyChordDiagram(&chord);
}

TEST_F(EffectReading, EveryPrefixOfAChordFails) {
    gp4::Song song = gp4::FeatureRichSong();
    for (const gp4::ChordDiagram &written : {song.beats[0][0][0].chord, song.beats[0][0][3].chord}) {
        gp4::Bytes bytes;
        gp4::WriteChordDiagram(bytes, written);
        ReaderChecks::ExpectEveryPrefixFails(bytes, [](std::FILE *stream) {
            Talvoren::ChordDiagram *chord = Talvoren::CreateChordDiagramFromFile(stream);
            if (chord != nullptr) Talvoren::DestroyChordDiagram(&chord);
            return chord != nullptr;
        });
    }
}

}  // namespace
