// reader_checks.h - helpers of the song reader's internal tests: streams over
// test bytes, and a field-by-field comparison of what the reader loaded with
// the description the test-side writer composed the file from.
//
// Include after test_heap.h and gp/reader.cpp (it uses the test heap and the
// library's records).
#ifndef ZELTO_TESTS_INTERNAL_READER_CHECKS_H
#define ZELTO_TESTS_INTERNAL_READER_CHECKS_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "gp/song.h"
#include "gp4_writer.h"

namespace ReaderChecks {

struct StreamCloser {
    void operator()(std::FILE *stream) const {
        if (stream != nullptr) std::fclose(stream);
    }
};
using Stream = std::unique_ptr<std::FILE, StreamCloser>;

// A seekable stream holding the first `length` bytes (all by default),
// positioned at its start.
inline Stream OpenBytes(const gp4::Bytes &bytes, std::size_t length = SIZE_MAX) {
    std::FILE *stream = std::tmpfile();
    if (stream == nullptr) {
        ADD_FAILURE() << "tmpfile failed";
        return Stream();
    }
    std::size_t written = std::min(length, bytes.size());
    if (written != 0 && std::fwrite(bytes.data(), 1, written, stream) != written)
        ADD_FAILURE() << "writing the test bytes failed";
    std::rewind(stream);
    return Stream(stream);
}

inline long Position(const Stream &stream) { return std::ftell(stream.get()); }

// A test that must leave the heap as it found it.
class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        liveBefore = TestHeap::LiveBlocks();
        TestHeap::Reset();
    }
    void TearDown() override { EXPECT_EQ(TestHeap::LiveBlocks(), liveBefore) << "blocks leaked"; }
    std::size_t liveBefore = 0;
};

// Runs readSection (stream -> bool; it releases what it read) on every
// proper prefix of the bytes: each must fail and leave no block live.
template <typename ReadSection>
void ExpectEveryPrefixFails(const gp4::Bytes &bytes, ReadSection readSection) {
    std::size_t liveBefore = TestHeap::LiveBlocks();
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        Stream stream = OpenBytes(bytes, length);
        EXPECT_FALSE(readSection(stream.get())) << "a prefix of " << length << " bytes was read";
        EXPECT_EQ(TestHeap::LiveBlocks(), liveBefore) << "a prefix of " << length << " bytes leaked";
    }
}

// Fields of the packed records (piece information, channel entries, bend
// points) may be unaligned: they are compared as copies (+field), never
// bound to the references EXPECT_EQ takes.

// A loaded string against the text the writer wrote: the same bytes (a zero
// byte inside the text included) and a terminating zero.
inline void ExpectText(const char *actual, const std::string &expected) {
    ASSERT_NE(actual, nullptr) << "expected \"" << expected << "\"";
    if (expected.find('\0') == std::string::npos) {
        EXPECT_STREQ(actual, expected.c_str());
    } else {
        EXPECT_EQ(std::memcmp(actual, expected.data(), expected.size()), 0);
        EXPECT_EQ(actual[expected.size()], '\0');
    }
}

// What an optional piece holds after loading: the value written when its
// flag bit is set, 0 otherwise.
template <typename Value>
Value IfFlag(unsigned flags, unsigned bit, Value value) {
    return (flags & bit) ? value : Value(0);
}

inline void ExpectBend(const Talvoren::Bend *actual, const gp4::Bend &expected) {
    ASSERT_NE(actual, nullptr);
    EXPECT_EQ(actual->bendType, expected.type);
    EXPECT_EQ(actual->bendValue, expected.value);
    ASSERT_EQ(actual->pointCount, expected.points.size());
    ASSERT_NE(actual->points, nullptr);
    for (std::size_t point = 0; point < expected.points.size(); ++point) {
        SCOPED_TRACE("bend point " + std::to_string(point));
        EXPECT_EQ(+actual->points[point].position, expected.points[point].position);
        EXPECT_EQ(+actual->points[point].value, expected.points[point].value);
        EXPECT_EQ(actual->points[point].vibrato, expected.points[point].vibrato);
    }
}

inline void ExpectNoteEffect(const Talvoren::NoteEffect *actual, const gp4::NoteEffects &expected) {
    using namespace gp4::NoteEffectBits;
    ASSERT_NE(actual, nullptr);
    EXPECT_EQ(actual->flags1, expected.flags1);
    EXPECT_EQ(actual->flags2, expected.flags2);
    if (expected.flags1 & Bend) {
        SCOPED_TRACE("note bend");
        ExpectBend(actual->bend, expected.bend);
    } else {
        EXPECT_EQ(actual->bend, nullptr);
    }
    EXPECT_EQ(actual->graceFret, IfFlag(expected.flags1, Grace, expected.graceFret));
    EXPECT_EQ(actual->graceDynamic, IfFlag(expected.flags1, Grace, expected.graceDynamic));
    EXPECT_EQ(actual->graceTransition, IfFlag(expected.flags1, Grace, expected.graceTransition));
    EXPECT_EQ(actual->graceDuration, IfFlag(expected.flags1, Grace, expected.graceDuration));
    EXPECT_EQ(actual->tremoloPicking, IfFlag(expected.flags2, TremoloPicking, expected.tremoloPicking));
    EXPECT_EQ(actual->slide, IfFlag(expected.flags2, Slide, expected.slide));
    EXPECT_EQ(actual->harmonic, IfFlag(expected.flags2, Harmonic, expected.harmonic));
    EXPECT_EQ(actual->trillFret, IfFlag(expected.flags2, Trill, expected.trillFret));
    EXPECT_EQ(actual->trillPeriod, IfFlag(expected.flags2, Trill, expected.trillPeriod));
}

inline void ExpectEmptyNote(const Talvoren::Note &actual) {
    EXPECT_EQ(actual.flags, 0);
    EXPECT_EQ(actual.noteType, 0);
    EXPECT_EQ(actual.timeIndependentDuration, 0);
    EXPECT_EQ(actual.timeIndependentTuplet, 0);
    EXPECT_EQ(actual.dynamic, 0);
    EXPECT_EQ(actual.fret, 0);
    EXPECT_EQ(actual.leftFingering, 0);
    EXPECT_EQ(actual.rightFingering, 0);
    EXPECT_EQ(actual.effect, nullptr);
}

inline void ExpectNote(const Talvoren::Note &actual, const gp4::Note &expected) {
    using namespace gp4::NoteBits;
    EXPECT_EQ(actual.flags, expected.flags);
    EXPECT_EQ(actual.noteType, IfFlag(expected.flags, TypeAndFret, expected.type));
    EXPECT_EQ(actual.timeIndependentDuration,
              IfFlag(expected.flags, TimeIndependentDuration, expected.timeIndependentDuration));
    EXPECT_EQ(actual.timeIndependentTuplet,
              IfFlag(expected.flags, TimeIndependentDuration, expected.timeIndependentTuplet));
    EXPECT_EQ(actual.dynamic, IfFlag(expected.flags, Dynamic, expected.dynamic));
    EXPECT_EQ(actual.fret, IfFlag(expected.flags, TypeAndFret, expected.fret));
    EXPECT_EQ(actual.leftFingering, IfFlag(expected.flags, Fingering, expected.leftFingering));
    EXPECT_EQ(actual.rightFingering, IfFlag(expected.flags, Fingering, expected.rightFingering));
    if (expected.flags & Effects)
        ExpectNoteEffect(actual.effect, expected.effects);
    else
        EXPECT_EQ(actual.effect, nullptr);
}

inline void ExpectBeatEffect(const Talvoren::BeatEffect *actual, const gp4::BeatEffects &expected) {
    using namespace gp4::BeatEffectBits;
    ASSERT_NE(actual, nullptr);
    EXPECT_EQ(actual->flags1, expected.flags1);
    EXPECT_EQ(actual->flags2, expected.flags2);
    EXPECT_EQ(actual->tappingType, IfFlag(expected.flags1, Tapping, expected.tapping));
    if (expected.flags2 & TremoloBar) {
        SCOPED_TRACE("tremolo bar");
        ExpectBend(actual->tremoloBar, expected.tremoloBar);
    } else {
        EXPECT_EQ(actual->tremoloBar, nullptr);
    }
    EXPECT_EQ(actual->strokeSpeeds[0], IfFlag(expected.flags1, Stroke, expected.strokeSpeeds[0]));
    EXPECT_EQ(actual->strokeSpeeds[1], IfFlag(expected.flags1, Stroke, expected.strokeSpeeds[1]));
    EXPECT_EQ(actual->pickStroke, IfFlag(expected.flags2, PickStroke, expected.pickStroke));
}

inline void ExpectMixTable(const Talvoren::MixTableEvent *actual, const gp4::MixTable &expected) {
    ASSERT_NE(actual, nullptr);
    auto durationIfChanged = [](std::uint8_t value, std::uint8_t duration) {
        return value != 0xFF ? duration : std::uint8_t(0);
    };
    EXPECT_EQ(actual->instrument, expected.instrument);
    EXPECT_EQ(actual->volume, expected.volume);
    EXPECT_EQ(actual->balance, expected.balance);
    EXPECT_EQ(actual->chorus, expected.chorus);
    EXPECT_EQ(actual->reverb, expected.reverb);
    EXPECT_EQ(actual->phaser, expected.phaser);
    EXPECT_EQ(actual->tremolo, expected.tremolo);
    EXPECT_EQ(actual->tempo, expected.tempo);
    EXPECT_EQ(actual->volumeDuration, durationIfChanged(expected.volume, expected.volumeDuration));
    EXPECT_EQ(actual->balanceDuration, durationIfChanged(expected.balance, expected.balanceDuration));
    EXPECT_EQ(actual->chorusDuration, durationIfChanged(expected.chorus, expected.chorusDuration));
    EXPECT_EQ(actual->reverbDuration, durationIfChanged(expected.reverb, expected.reverbDuration));
    EXPECT_EQ(actual->phaserDuration, durationIfChanged(expected.phaser, expected.phaserDuration));
    EXPECT_EQ(actual->tremoloDuration, durationIfChanged(expected.tremolo, expected.tremoloDuration));
    EXPECT_EQ(actual->tempoDuration, expected.tempo != -1 ? expected.tempoDuration : 0);
    EXPECT_EQ(actual->applyToAllTracks, expected.applyToAllTracks);
}

template <typename Actual, typename Expected>
void ExpectArray(const Actual &actual, const Expected &expected, std::size_t count, const char *what) {
    for (std::size_t index = 0; index < count; ++index)
        EXPECT_EQ(actual[index], expected[index]) << what << "[" << index << "]";
}

inline void ExpectChordDiagram(const Talvoren::ChordDiagram *actual, const gp4::ChordDiagram &expected) {
    ASSERT_NE(actual, nullptr);
    ASSERT_EQ(actual->format, expected.format);
    ExpectText(actual->name, expected.name);
    EXPECT_EQ(actual->baseFret, expected.baseFret);
    if (expected.format == 0) {
        // The short record: everything but name, first fret and frets 1 to 6 stays 0.
        for (std::size_t string = 0; string < 7; ++string) {
            std::int32_t fret = string < 6 && expected.baseFret != 0 ? expected.frets[string] : 0;
            EXPECT_EQ(actual->frets[string], fret) << "fret of string " << string + 1;
        }
        Talvoren::ChordDiagram rest;
        std::memcpy(&rest, actual, sizeof rest);
        rest.format = 0;
        rest.name = nullptr;
        rest.baseFret = 0;
        std::memset(rest.frets, 0, sizeof rest.frets);
        Talvoren::ChordDiagram zero;
        std::memset(&zero, 0, sizeof zero);
        EXPECT_EQ(std::memcmp(&rest, &zero, sizeof rest), 0) << "a short record supplies no other field";
        return;
    }
    EXPECT_EQ(actual->sharp, expected.sharp);
    ExpectArray(actual->reserved1, expected.reserved1, 3, "reserved1");
    EXPECT_EQ(actual->root, expected.root);
    EXPECT_EQ(actual->chordType, expected.chordType);
    EXPECT_EQ(actual->extension, expected.extension);
    EXPECT_EQ(actual->bass, expected.bass);
    EXPECT_EQ(actual->tonality, expected.tonality);
    EXPECT_EQ(actual->add, expected.add);
    ExpectArray(actual->reserved2, expected.reserved2, 2, "reserved2");
    EXPECT_EQ(actual->fifth, expected.fifth);
    EXPECT_EQ(actual->ninth, expected.ninth);
    EXPECT_EQ(actual->eleventh, expected.eleventh);
    ExpectArray(actual->frets, expected.frets, 7, "frets");
    EXPECT_EQ(actual->barreCount, expected.barreCount);
    ExpectArray(actual->barreFrets, expected.barreFrets, 5, "barreFrets");
    ExpectArray(actual->barreStarts, expected.barreStarts, 5, "barreStarts");
    ExpectArray(actual->barreEnds, expected.barreEnds, 5, "barreEnds");
    ExpectArray(actual->omissions, expected.omissions, 7, "omissions");
    EXPECT_EQ(actual->reserved3, expected.reserved3);
    ExpectArray(actual->fingerings, expected.fingerings, 7, "fingerings");
    EXPECT_EQ(actual->showFingering, expected.showFingering);
}

inline void ExpectBeat(const Talvoren::Beat &actual, const gp4::Beat &expected) {
    using namespace gp4::BeatBits;
    EXPECT_EQ(actual.flags, expected.flags);
    EXPECT_EQ(actual.status, IfFlag(expected.flags, Status, expected.status));
    EXPECT_EQ(actual.duration, expected.duration);
    EXPECT_EQ(actual.tuplet, IfFlag(expected.flags, Tuplet, expected.tuplet));
    if (expected.flags & Chord) {
        SCOPED_TRACE("chord diagram");
        ExpectChordDiagram(actual.chordDiagram, expected.chord);
    } else {
        EXPECT_EQ(actual.chordDiagram, nullptr);
    }
    if (expected.flags & Text)
        ExpectText(actual.text, expected.text);
    else
        EXPECT_EQ(actual.text, nullptr);
    if (expected.flags & Effects) {
        SCOPED_TRACE("beat effects");
        ExpectBeatEffect(actual.beatEffect, expected.effects);
    } else {
        EXPECT_EQ(actual.beatEffect, nullptr);
    }
    if (expected.flags & MixTable) {
        SCOPED_TRACE("mix table");
        ExpectMixTable(actual.mixTableEvent, expected.mix);
    } else {
        EXPECT_EQ(actual.mixTableEvent, nullptr);
    }
    EXPECT_EQ(actual.stringFlags, expected.stringFlags);
    for (int slot = 0; slot < 7; ++slot) {
        SCOPED_TRACE("string " + std::to_string(slot + 1));
        if (expected.stringFlags & (1u << (6 - slot)))
            ExpectNote(actual.notes[slot], expected.notes[static_cast<std::size_t>(slot)]);
        else
            ExpectEmptyNote(actual.notes[slot]);
    }
}

inline void ExpectMeasure(const Talvoren::Measure &actual, const gp4::MeasureHeader &expected) {
    using namespace gp4::MeasureBits;
    EXPECT_EQ(actual.flags, expected.flags);
    EXPECT_EQ(actual.keyNumerator, IfFlag(expected.flags, Numerator, expected.numerator));
    EXPECT_EQ(actual.keyDenominator, IfFlag(expected.flags, Denominator, expected.denominator));
    EXPECT_EQ(actual.repeatCount, IfFlag(expected.flags, EndRepeat, expected.repeatCount));
    EXPECT_EQ(actual.altEndingCount, IfFlag(expected.flags, AltEnding, expected.altEnding));
    if (expected.flags & Marker) {
        ASSERT_NE(actual.marker, nullptr);
        ExpectText(actual.marker->text, expected.markerText);
        EXPECT_EQ(actual.marker->color, expected.markerColor);
    } else {
        EXPECT_EQ(actual.marker, nullptr);
    }
    EXPECT_EQ(actual.tonality, IfFlag(expected.flags, Tonality, expected.tonality));
    EXPECT_EQ(actual.tonalityType, IfFlag(expected.flags, Tonality, expected.tonalityType));
    EXPECT_EQ(actual.repeatsPlayed, 0);
}

inline void ExpectTrack(const Talvoren::Track &actual, const gp4::Track &expected) {
    EXPECT_EQ(actual.flags, expected.flags);
    ExpectText(actual.name, expected.name);
    EXPECT_EQ(actual.stringCount, expected.stringCount);
    ExpectArray(actual.tunings, expected.tunings, 7, "tunings");
    EXPECT_EQ(actual.midiPort, expected.port);
    EXPECT_EQ(actual.midiChannel, expected.channel);
    EXPECT_EQ(actual.effectsMidiChannel, expected.effectsChannel);
    EXPECT_EQ(actual.fretCount, expected.frets);
    EXPECT_EQ(actual.capoHeight, expected.capo);
    EXPECT_EQ(actual.color, expected.colour);
    EXPECT_EQ(actual.beatIndex, 0u);
    EXPECT_EQ(actual.beatPulsesLeft, 0u);
}

inline void ExpectHeaders(const Talvoren::HeadersStruct &actual, const gp4::Song &expected,
                          int missingLyricsLine) {
    ExpectText(actual.version, expected.version);
    const Talvoren::TabInfo &tabInfo = actual.tabInfo;
    ExpectText(tabInfo.title, expected.title);
    ExpectText(tabInfo.subtitle, expected.subtitle);
    ExpectText(tabInfo.interpret, expected.interpret);
    ExpectText(tabInfo.album, expected.album);
    ExpectText(tabInfo.author, expected.author);
    ExpectText(tabInfo.copyright, expected.copyright);
    ExpectText(tabInfo.tabAuthor, expected.tabAuthor);
    ExpectText(tabInfo.instructions, expected.instructions);
    ASSERT_EQ(tabInfo.noticeLineCount, expected.noticeLines.size());
    if (expected.noticeLines.empty()) {
        EXPECT_EQ(tabInfo.noticeLines, nullptr);
    } else {
        ASSERT_NE(tabInfo.noticeLines, nullptr);
        for (std::size_t line = 0; line < expected.noticeLines.size(); ++line)
            ExpectText(tabInfo.noticeLines[line], expected.noticeLines[line]);
    }
    EXPECT_EQ(tabInfo.tripletFeel, expected.tripletFeel);

    EXPECT_EQ(actual.lyricsInfo.lyricsTrack, expected.lyricsTrack);
    for (int line = 0; line < 5; ++line) {
        SCOPED_TRACE("lyrics line " + std::to_string(line));
        if (line == missingLyricsLine)
            EXPECT_EQ(actual.lyricsInfo.lyricsLines[line], nullptr);
        else
            ExpectText(actual.lyricsInfo.lyricsLines[line], expected.lyrics[static_cast<std::size_t>(line)].text);
    }

    const Talvoren::GPPieceInfo &piece = actual.pieceInfo;
    EXPECT_EQ(+piece.tempo, expected.tempo);
    EXPECT_EQ(piece.key, expected.key);
    EXPECT_EQ(+piece.octave, expected.octave);
    for (std::size_t port = 0; port < 4; ++port) {
        for (std::size_t channel = 0; channel < 16; ++channel) {
            SCOPED_TRACE("port " + std::to_string(port) + ", channel " + std::to_string(channel));
            const Talvoren::MidiChannelInfo &entry = piece.midiChannels[port][channel];
            const gp4::ChannelEntry &written = expected.channels[port][channel];
            EXPECT_EQ(+entry.instrument, written.instrument);
            EXPECT_EQ(entry.volume, written.volume);
            EXPECT_EQ(entry.balance, written.balance);
            EXPECT_EQ(entry.chorus, written.chorus);
            EXPECT_EQ(entry.reverb, written.reverb);
            EXPECT_EQ(entry.phaser, written.phaser);
            EXPECT_EQ(entry.tremolo, written.tremolo);
            EXPECT_EQ(entry.filler[0], written.filler[0]);
            EXPECT_EQ(entry.filler[1], written.filler[1]);
        }
    }
    EXPECT_EQ(+piece.measureCount, expected.measures.size());
    EXPECT_EQ(+piece.trackCount, expected.tracks.size());
}

// The whole song, section by section; missingLyricsLine names a lyrics line
// expected to be null instead of its text.
inline void ExpectSongMatches(const Talvoren::FileStruct &actual, const gp4::Song &expected,
                              int missingLyricsLine = -1) {
    {
        SCOPED_TRACE("header");
        ExpectHeaders(actual.headers, expected, missingLyricsLine);
    }
    const Talvoren::BodyStruct &body = actual.body;
    ASSERT_NE(body.measures, nullptr);
    ASSERT_NE(body.tracks, nullptr);
    ASSERT_NE(body.measureTrackPairs, nullptr);
    for (std::size_t measure = 0; measure < expected.measures.size(); ++measure) {
        SCOPED_TRACE("measure header " + std::to_string(measure));
        ExpectMeasure(body.measures[measure], expected.measures[measure]);
    }
    for (std::size_t track = 0; track < expected.tracks.size(); ++track) {
        SCOPED_TRACE("track " + std::to_string(track));
        ExpectTrack(body.tracks[track], expected.tracks[track]);
    }
    for (std::size_t measure = 0; measure < expected.measures.size(); ++measure) {
        ASSERT_NE(body.measureTrackPairs[measure], nullptr);
        for (std::size_t track = 0; track < expected.tracks.size(); ++track) {
            const Talvoren::MeasureTrackPair &pair = body.measureTrackPairs[measure][track];
            static const std::vector<gp4::Beat> noBeats;
            const std::vector<gp4::Beat> &beats =
                measure < expected.beats.size() && track < expected.beats[measure].size()
                    ? expected.beats[measure][track]
                    : noBeats;
            SCOPED_TRACE("measure " + std::to_string(measure) + ", track " + std::to_string(track));
            ASSERT_EQ(pair.beatCount, beats.size());
            ASSERT_NE(pair.beats, nullptr);
            for (std::size_t beat = 0; beat < beats.size(); ++beat) {
                SCOPED_TRACE("beat " + std::to_string(beat));
                ExpectBeat(pair.beats[beat], beats[beat]);
            }
        }
    }
}

}  // namespace ReaderChecks

#endif  // ZELTO_TESTS_INTERNAL_READER_CHECKS_H
