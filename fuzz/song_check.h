// song_check.h - one hostile input through the whole public interface: load,
// every query at every index and at the boundaries, two MIDI exports and two
// performed renderings checked by the strict MIDI reader, release, and a
// known good song loaded after it; and the same input as a song handle,
// every handle function called and compared with the global song. Every
// function that libzelto.so exports is called here (the test
// fuzz_target_calls_every_export holds the list to both export tables). The loaded song's records are read to
// compare it before and after the exports and to count an export's cost
// before it runs.
// Shared by the libFuzzer target, the corpus replay driver and its tests.
#ifndef ZELTO_FUZZ_SONG_CHECK_H
#define ZELTO_FUZZ_SONG_CHECK_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzcheck {

// Work limits per input, so that one input cannot stall a fuzzing run. A
// larger input is skipped whole; an export whose cost passes a limit is
// skipped while the rest of the checks still run. The costs are those the
// library bounds for its render limits, with far smaller bounds.
struct Limits {
    // The largest real songs are about 110 KB, and so are the largest seeds.
    std::size_t largestInput = 128 * 1024;
    // Measures played (repeats expanded) x (tracks + 1).
    std::uint64_t largestMeasureVisits = 200000;
    // An upper bound of the event bytes one conversion can append: a song
    // the size of the largest seeds renders within it.
    std::uint64_t largestEventBytes = 1u << 22;
};

// What one run did, for the replay driver's summary and for tests.
struct Outcome {
    bool skipped = false;        // the input was larger than the limit
    bool loaded = false;         // ZELTO_Load accepted it
    bool exported = false;       // the export ran (it was within the limits)
    bool midiBufferMade = false; // the export handed out a non-null buffer
    bool performedExported = false;  // the performed rendering ran (within its own bound) and was checked
    std::string failure;         // empty when every promise held
};

// Runs the input and reports the first promise broken. A crash, an
// out-of-bounds access or a leak is left to the sanitizers.
Outcome CheckSongBytes(const std::uint8_t *data, std::size_t size, const Limits &limits = Limits());

}  // namespace fuzzcheck

#endif  // ZELTO_FUZZ_SONG_CHECK_H
