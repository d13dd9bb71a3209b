// convert_checks.h - helpers of the conversion's internal tests: songs from
// the test-side writer loaded through LoadFileStruct, and the conversion of
// a loaded song into a parsed, validated Standard MIDI File.
//
// Include after test_heap.h and the library sources the test examines
// (gp/reader.cpp, gp/convert.cpp, mid/midi.cpp).
#ifndef ZELTO_TESTS_INTERNAL_CONVERT_CHECKS_H
#define ZELTO_TESTS_INTERNAL_CONVERT_CHECKS_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "gp4_writer.h"
#include "smf_check.h"

namespace ConvertChecks {

// A song loaded from the writer's bytes, released when it goes out of scope.
struct LoadedSong {
    Talvoren::FileStruct file = {};
    bool loaded = false;

    explicit LoadedSong(const gp4::Song &song) {
        const gp4::Bytes bytes = gp4::WriteSong(song);
        std::FILE *stream = std::tmpfile();
        if (stream == nullptr) {
            ADD_FAILURE() << "tmpfile failed";
            return;
        }
        if (std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size()) ADD_FAILURE() << "writing failed";
        std::rewind(stream);
        loaded = Talvoren::LoadFileStruct(&file, stream) == 1;
        std::fclose(stream);
        if (!loaded) ADD_FAILURE() << "the writer's song did not load";
    }
    ~LoadedSong() { Talvoren::FreeFileStruct(&file); }
    LoadedSong(const LoadedSong &) = delete;
    LoadedSong &operator=(const LoadedSong &) = delete;
};

// The song converted at 30 pulses per sixty-fourth into a file of 480 ticks
// per quarter, serialised into one buffer. The result of ToMidi is kept.
struct Rendering {
    int converted = 0;
    smf::Bytes bytes;
};

inline Rendering Render(Talvoren::FileStruct *file, std::uint32_t pulsesPerSixtyFourth = 30) {
    Rendering rendering;
    Talvoren::MidiFileStruct midi;
    if (!Talvoren::InitMidiFileStruct(&midi, file->headers.pieceInfo.trackCount + 1, 480)) {
        ADD_FAILURE() << "the model could not be set up";
        return rendering;
    }
    rendering.converted = Talvoren::ToMidi(file, &midi, pulsesPerSixtyFourth);
    Talvoren::Byte *buffer = nullptr;
    const std::uint32_t size = Talvoren::CreateMidiBuffer(&midi, &buffer);
    if (buffer != nullptr) {
        const auto *first = reinterpret_cast<const std::uint8_t *>(buffer);
        rendering.bytes.assign(first, first + size);
    }
    Talvoren::DestroyMidiBuffer(buffer);
    Talvoren::FreeMidiFileStruct(&midi);
    return rendering;
}

// Converts and parses; a file the strict checker rejects fails the test.
inline smf::File RenderParsed(Talvoren::FileStruct *file) {
    const Rendering rendering = Render(file);
    EXPECT_EQ(rendering.converted, 1);
    smf::File parsed;
    std::string error;
    EXPECT_TRUE(smf::Parse(rendering.bytes, &parsed, &error)) << error;
    return parsed;
}

// The pass counters of every measure, which a finished walk leaves at 0.
inline bool AllPassCountersZero(const Talvoren::FileStruct &file) {
    for (std::uint32_t index = 0; index < file.headers.pieceInfo.measureCount; ++index)
        if (file.body.measures[index].repeatsPlayed != 0) return false;
    return true;
}

}  // namespace ConvertChecks

#endif  // ZELTO_TESTS_INTERNAL_CONVERT_CHECKS_H
