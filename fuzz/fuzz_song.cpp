// fuzz_song.cpp - the libFuzzer target: every input is taken as a song file
// and run through the whole public interface; a broken promise aborts, so
// that libFuzzer keeps the input as a finding.
#include <cstdio>
#include <cstdlib>

#include "song_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const fuzzcheck::Outcome outcome = fuzzcheck::CheckSongBytes(data, size);
    if (!outcome.failure.empty()) {
        std::fprintf(stderr, "zelto fuzz: %s\n", outcome.failure.c_str());
        std::abort();
    }
    return 0;
}
