// alloc_failure_test.cpp - every heap allocation of a load and an export
// (the plain one and the performed rendering; the MusicXML export of the
// loaded song too) fails once (and, in a second
// pass, fails from then on), through the public interface: a failed load leaves no song and nothing live, an export gives
// 0 with the host's variables untouched, 1 with a null buffer and size 0, or
// a well-formed MIDI file, and the song itself survives a failed export.
#include "test_heap.h"

#include "gp/reader.cpp"
#include "gp/convert.cpp"
#include "mid/midi.cpp"
#include "zelto/lifecycle.cpp"
#include "zelto/queries.cpp"
#include "zelto/export.cpp"
#include "gp/perform.cpp"
#include "gp/perform_effects.cpp"
#include "gp/timeline.cpp"
#include "zelto/performed_export.cpp"
#include "zelto/song_access.cpp"
#include "xml/musicxml.cpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "gp4_writer.h"
#include "smf_check.h"
#include "song_text.h"

namespace {

constexpr std::uint32_t hostSizeSentinel = 0xA5A5A5A5u;

// What the host sees of one export.
struct HostExport {
    int result = -1;
    bool bufferUntouched = false;
    bool sizeUntouched = false;
    bool madeBuffer = false;
    std::uint32_t size = 0;
    std::vector<std::uint8_t> bytes;
};

using BufferExport = int (*)(unsigned char **buffer, std::uint32_t *size);

HostExport ExportSong(BufferExport createBuffer) {
    HostExport done;
    unsigned char sentinel = 0;
    unsigned char *buffer = &sentinel;
    std::uint32_t size = hostSizeSentinel;
    done.result = createBuffer(&buffer, &size);
    done.bufferUntouched = buffer == &sentinel;
    done.sizeUntouched = size == hostSizeSentinel;
    done.size = size;
    if (!done.bufferUntouched && buffer != nullptr) {
        done.madeBuffer = true;
        done.bytes.assign(buffer, buffer + size);
        ZELTO_DestroyMidiBuffer(buffer);
    }
    return done;
}

// One of the three answers an export may give, and nothing else.
void ExpectExportKeepsItsPromise(const HostExport &done, const std::string &where) {
    SCOPED_TRACE(where);
    if (done.result == 0) {
        EXPECT_TRUE(done.bufferUntouched) << "an export that returned 0 wrote the host's buffer pointer";
        EXPECT_TRUE(done.sizeUntouched) << "an export that returned 0 wrote the host's size";
        return;
    }
    ASSERT_EQ(done.result, 1);
    ASSERT_FALSE(done.bufferUntouched) << "an export that returned 1 left the host's buffer pointer alone";
    if (!done.madeBuffer) {
        EXPECT_EQ(done.size, 0u) << "a null buffer came with a size";
        return;
    }
    std::string error;
    EXPECT_TRUE(smf::Parse(done.bytes.data(), done.bytes.size(), nullptr, &error))
        << "the buffer is not a well-formed MIDI file: " << error;
}

// Every field of the loaded song, to tell a song that a failed export has changed.
std::string DescribeLoadedSong() {
    return Talvoren::theFileStruct == nullptr ? std::string() : SongText::Describe(*Talvoren::theFileStruct);
}

void ExpectNoSong() {
    EXPECT_EQ(ZELTO_GetTitle(), nullptr);
    EXPECT_EQ(ZELTO_GetMeasureCount(), 0u);
    EXPECT_EQ(ZELTO_GetTrackCount(), 0u);
    EXPECT_EQ(Talvoren::theFileStruct, nullptr);
}

struct SongCase {
    const char *name;
    gp4::Song (*make)();
};

gp4::Song FeatureRich() { return gp4::FeatureRichSong(0); }
gp4::Song FeatureRichSwung() { return gp4::FeatureRichSong(1); }
gp4::Song Minimal() { return gp4::MinimalSong(); }

// No tracks: the conductor track alone, with markers and a repeat.
gp4::Song ConductorOnly() {
    gp4::Song song = gp4::FeatureRichSong(0);
    song.tracks.clear();
    song.beats.clear();
    return song;
}

// A long note-effect-laden track, so that chunks grow through many events.
gp4::Song ManyEvents() {
    gp4::Song song = gp4::MinimalSong();
    song.noticeLines = {"a", "b"};
    song.measures.assign(3, gp4::TimeSignature(4, 4));
    song.measures[1].flags = gp4::MeasureBits::Marker | gp4::MeasureBits::EndRepeat;
    song.measures[1].repeatCount = 1;
    std::vector<gp4::Beat> beats;
    for (int beat = 0; beat < 16; ++beat) {
        gp4::Beat chord = gp4::NoteBeat(gp4::Duration::Sixteenth, {{1, beat}, {3, 2}, {5, 7}});
        if (beat % 4 == 0) {
            chord.flags = gp4::BeatBits::MixTable;
            chord.mix.instrument = static_cast<std::uint8_t>(beat);
            chord.mix.volume = 9;
            chord.mix.tempo = 100 + beat;
        }
        beats.push_back(chord);
    }
    song.beats.assign(3, {beats});
    return song;
}

// What the performed rendering adds: ties and let ring across bar lines,
// grace notes, tremolo picking, and more tempo changes in one measure than
// its first block of them holds.
gp4::Song Ornaments() {
    gp4::Song song = ManyEvents();
    song.measures[0].flags |= gp4::MeasureBits::BeginRepeat;
    song.measures[1].flags |= gp4::MeasureBits::AltEnding;
    song.measures[1].altEnding = 0x02;
    for (std::size_t measure = 0; measure < song.beats.size(); ++measure) {
        for (std::size_t beat = 0; beat < song.beats[measure][0].size(); ++beat) {
            gp4::Beat &each = song.beats[measure][0][beat];
            each.flags |= gp4::BeatBits::MixTable;
            each.mix.tempo = static_cast<std::int32_t>(90 + beat);
            gp4::Note &note = each.notes[0];
            note.flags |= gp4::NoteBits::Effects;
            note.effects.flags1 = beat % 3 == 0 ? 0x10 : 0x08;  // grace note or let ring
            note.effects.flags2 = beat % 4 == 1 ? 0x04 : 0;     // tremolo picking
            if (beat % 5 == 2) each.notes[2].type = 2;         // a tie on string 3
        }
    }
    return song;
}

// What the performed effects plan: bends of more points than a lane first
// holds, fade-ins, and volume and tempo transitions for all tracks.
gp4::Song Effects() {
    gp4::Song song = ManyEvents();
    for (std::size_t measure = 0; measure < song.beats.size(); ++measure) {
        for (std::size_t beat = 0; beat < song.beats[measure][0].size(); ++beat) {
            gp4::Beat &each = song.beats[measure][0][beat];
            gp4::Note &note = each.notes[0];
            note.flags |= gp4::NoteBits::Effects;
            note.effects.flags1 = gp4::NoteEffectBits::Bend;
            note.effects.bend.points.clear();
            for (int point = 0; point <= 60; point += 2) note.effects.bend.points.push_back({point, point * 3, 0});
            each.flags |= gp4::BeatBits::Effects;
            each.effects.flags1 = 0x10;  // fade-in
            if (beat == 0) {
                each.flags |= gp4::BeatBits::MixTable;
                each.mix.volume = static_cast<std::uint8_t>(4 + measure);
                each.mix.volumeDuration = 8;
                each.mix.tempo = 100;
                each.mix.tempoDuration = 6;
                each.mix.applyToAllTracks = 0x01;
            }
        }
    }
    song.tracks.push_back(song.tracks[0]);  // a second track the changes for all tracks reach
    song.tracks[1].channel = 3;
    song.tracks[1].effectsChannel = 4;
    for (auto &row : song.beats) row.push_back({gp4::QuarterNote(2, 3), gp4::QuarterNote(2, 5)});
    return song;
}

// Names the case in the test's name and in messages.
void PrintTo(const SongCase &songCase, std::ostream *stream) { *stream << songCase.name; }

const SongCase songCases[] = {
    {"FeatureRich", FeatureRich},   {"FeatureRichSwung", FeatureRichSwung}, {"Minimal", Minimal},
    {"ConductorOnly", ConductorOnly}, {"ManyEvents", ManyEvents}, {"Ornaments", Ornaments},
    {"Effects", Effects},
};

struct ExportCase {
    const char *name;
    BufferExport createBuffer;
};

const ExportCase exportCases[] = {{"Plain", ZELTO_CreateMidiBuffer}, {"Performed", ZELTO_CreatePerformedMidiBuffer}};

class AllocationFailure : public ::testing::TestWithParam<std::tuple<SongCase, ExportCase>> {
protected:
    void SetUp() override {
        ZELTO_Init();
        ASSERT_EQ(TestHeap::LiveBlocks(), 0u) << "a block was live before the test";
        const SongCase &songCase = std::get<0>(GetParam());
        createBuffer = std::get<1>(GetParam()).createBuffer;
        path = gp4::WriteTempFile(gp4::WriteSong(songCase.make()), std::string(songCase.name) + ".gp4");

        // The reference: a run in which nothing fails.
        TestHeap::Reset();
        ASSERT_EQ(ZELTO_Load(path.c_str()), 1);
        loadRequests = TestHeap::Requests();
        referenceSong = DescribeLoadedSong();
        const std::size_t requestsBeforeExport = TestHeap::Requests();
        reference = ExportSong(createBuffer);
        exportRequests = TestHeap::Requests() - requestsBeforeExport;
        ASSERT_TRUE(reference.madeBuffer);
        ExpectExportKeepsItsPromise(reference, "the reference export");
        ZELTO_Unload();
        ASSERT_EQ(TestHeap::LiveBlocks(), 0u);
    }
    void TearDown() override {
        ZELTO_Unload();
        TestHeap::Reset();
        gp4::RemoveTempFile(path);
    }

    // One load and export with the given allocation request failing (and all
    // after it when keepFailing); returns whether any allocation was refused.
    bool RunWithFailure(std::size_t failingRequest, bool keepFailing) {
        const std::string where = std::string(keepFailing ? "allocations from " : "allocation ") +
                                  std::to_string(failingRequest) + (keepFailing ? " on fail" : " fails") +
                                  (failingRequest <= loadRequests ? " (load)" : " (export)");
        SCOPED_TRACE(where);
        TestHeap::Reset();
        TestHeap::FailAllocation(failingRequest, keepFailing);
        const int loaded = ZELTO_Load(path.c_str());
        if (loaded == 0) {
            const bool failed = TestHeap::FailureHappened();
            EXPECT_TRUE(failed) << "the load failed without a refused allocation";
            ExpectNoSong();
            EXPECT_EQ(TestHeap::LiveBlocks(), 0u) << "a failed load left blocks live";
            TestHeap::Reset();
            EXPECT_EQ(ZELTO_Load(path.c_str()), 1) << "the load after a failed one did not succeed";
            ZELTO_Unload();
            EXPECT_EQ(TestHeap::LiveBlocks(), 0u);
            return failed;
        }
        EXPECT_EQ(loaded, 1);
        // A load may survive a refused allocation only where the format lets
        // a text be absent (a lyrics line); everything else is as loaded.
        const bool loadFailedSomething = TestHeap::FailureHappened();
        const std::string loadedSong = DescribeLoadedSong();
        const std::size_t songBlocks = TestHeap::LiveBlocks();
        if (!loadFailedSomething) {
            EXPECT_EQ(loadedSong, referenceSong);
        }

        const HostExport done = ExportSong(createBuffer);
        ExpectExportKeepsItsPromise(done, "the export");
        const bool failed = TestHeap::FailureHappened();
        if (!failed) {
            EXPECT_EQ(done.bytes, reference.bytes) << "an export without a failure differs";
        }
        EXPECT_EQ(DescribeLoadedSong(), loadedSong) << "a failed export changed the song";
        EXPECT_EQ(TestHeap::LiveBlocks(), songBlocks) << "the export left blocks live besides its buffer";

        // The song is whole after the failed export: the next export is complete.
        TestHeap::Reset();
        if (!loadFailedSomething) {
            const HostExport again = ExportSong(createBuffer);
            EXPECT_TRUE(again.madeBuffer);
            EXPECT_EQ(again.bytes, reference.bytes) << "the export after a failed one differs";
        }
        ZELTO_Unload();
        ExpectNoSong();
        EXPECT_EQ(TestHeap::LiveBlocks(), 0u) << "blocks live after the unload";
        return failed;
    }

    // Fails request 1, 2, ... in turn until a run sees no refused allocation.
    // A run that breaks a promise does not stop the loop, so that every
    // failing request is named at the end (the first few, to keep the log short).
    void FailEveryAllocation(bool keepFailing) {
        constexpr std::size_t largestRequest = 100000;
        constexpr std::size_t failingRunsListed = 8;
        std::vector<std::size_t> failingRuns;
        std::size_t failingRequest = 1;
        for (; failingRequest < largestRequest && failingRuns.size() < failingRunsListed; ++failingRequest) {
            const int failuresBefore = FailedParts();
            const bool refused = RunWithFailure(failingRequest, keepFailing);
            if (FailedParts() != failuresBefore) failingRuns.push_back(failingRequest);
            if (!refused) break;
        }
        if (failingRuns.size() < failingRunsListed) {
            // The first run without a refusal is the one past the last request.
            EXPECT_EQ(failingRequest, loadRequests + exportRequests + 1)
                << "a load and an export make another number of requests than without failures";
        }
        if (!failingRuns.empty()) {
            std::string listed;
            for (std::size_t failing : failingRuns) listed += " " + std::to_string(failing);
            ADD_FAILURE() << "promises broken when allocation" << (keepFailing ? "s from" : "") << listed
                          << " failed (the load makes " << loadRequests << " requests)";
        }
    }

    static int FailedParts() {
        return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    }

    std::string path;
    BufferExport createBuffer = nullptr;
    std::size_t loadRequests = 0;
    std::size_t exportRequests = 0;
    std::string referenceSong;
    HostExport reference;
};

TEST_P(AllocationFailure, EachAllocationFailsOnce) { FailEveryAllocation(false); }

TEST_P(AllocationFailure, AllocationsFailFromOneOn) { FailEveryAllocation(true); }

INSTANTIATE_TEST_SUITE_P(Songs, AllocationFailure,
                         ::testing::Combine(::testing::ValuesIn(songCases), ::testing::ValuesIn(exportCases)),
                         [](const ::testing::TestParamInfo<std::tuple<SongCase, ExportCase>> &info) {
                             return std::string(std::get<0>(info.param).name) + std::get<1>(info.param).name;
                         });

// Without a song neither the export nor a failed open touches the heap.
TEST(AllocationFailureWithoutSong, NothingIsAllocated) {
    ZELTO_Init();
    TestHeap::Reset();
    unsigned char sentinel = 0;
    unsigned char *buffer = &sentinel;
    std::uint32_t size = hostSizeSentinel;
    EXPECT_EQ(ZELTO_CreateMidiBuffer(&buffer, &size), 0);
    EXPECT_EQ(ZELTO_CreatePerformedMidiBuffer(&buffer, &size), 0);
    EXPECT_EQ(buffer, &sentinel);
    EXPECT_EQ(size, hostSizeSentinel);
    EXPECT_EQ(ZELTO_Load("/nonexistent/zelto/song.gp4"), 0);
    EXPECT_EQ(TestHeap::Requests(), 0u);
    EXPECT_EQ(TestHeap::LiveBlocks(), 0u);
}

// The song record itself is the first allocation of a load.
TEST(AllocationFailureWithoutSong, RefusedSongRecordLeavesNoSong) {
    ZELTO_Init();
    const std::string path = gp4::WriteTempFile(gp4::WriteSong(gp4::MinimalSong()), "record.gp4");
    TestHeap::Reset();
    TestHeap::FailAllocation(1);
    EXPECT_EQ(ZELTO_Load(path.c_str()), 0);
    ExpectNoSong();
    EXPECT_EQ(TestHeap::LiveBlocks(), 0u);
    TestHeap::Reset();
    EXPECT_EQ(ZELTO_Load(path.c_str()), 1);
    ZELTO_Unload();
    gp4::RemoveTempFile(path);
}

// The MusicXML export of a song of every block, with each of its allocations
// refused in turn: out of memory with nothing left live, then the same
// document as without a failure.
TEST(AllocationFailureMusicXml, EachAllocationFailsOnce) {
    ZELTO_Init();
    const std::string path = gp4::WriteTempFile(gp4::WriteSong(gp4::FeatureRichSong(0)), "musicxml.gp4");
    ASSERT_EQ(ZELTO_Load(path.c_str()), 1);
    const Talvoren::FileStruct *song = Talvoren::theFileStruct;
    const std::size_t songBlocks = TestHeap::LiveBlocks();
    TestHeap::Reset();
    Talvoren::XmlText reference = {};
    ASSERT_EQ(Talvoren::ToMusicXml(song, &reference), Talvoren::MusicXmlOutcome::Written);
    const std::string written(reference.bytes, reference.size);
    Talvoren::MemFree(reference.bytes);
    const std::size_t requests = TestHeap::Requests();
    ASSERT_GT(requests, 0u);
    for (std::size_t failing = 1; failing <= requests; ++failing) {
        SCOPED_TRACE("allocation " + std::to_string(failing) + " fails");
        TestHeap::Reset();
        TestHeap::FailAllocation(failing);
        Talvoren::XmlText text = {};
        EXPECT_EQ(Talvoren::ToMusicXml(song, &text), Talvoren::MusicXmlOutcome::OutOfMemory);
        EXPECT_EQ(text.bytes, nullptr);
        EXPECT_EQ(TestHeap::LiveBlocks(), songBlocks) << "a failed export left blocks live";
    }
    TestHeap::Reset();
    Talvoren::XmlText again = {};
    ASSERT_EQ(Talvoren::ToMusicXml(song, &again), Talvoren::MusicXmlOutcome::Written);
    EXPECT_EQ(std::string(again.bytes, again.size), written);
    Talvoren::MemFree(again.bytes);
    ZELTO_Unload();
    gp4::RemoveTempFile(path);
}

}  // namespace
