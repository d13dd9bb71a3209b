// bench_support.h - the benchmark songs by name, each composed once per run,
// written to a temporary file for the path-based load, and measured once: its
// file size and the number of MIDI events its export holds.
#ifndef ZELTO_BENCH_BENCH_SUPPORT_H
#define ZELTO_BENCH_BENCH_SUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "gp4_writer.h"

namespace bench {

struct PreparedSong {
    std::string name;
    gp4::Bytes bytes;          // the song file
    std::string path;          // the same bytes in a temporary file
    std::uint64_t midiEvents;  // events of every track chunk of its export, end of track included
    std::uint64_t midiBytes;   // size of its export
};

// The names of the songs, in the order the benchmarks list them.
const std::vector<std::string> &SongNames();

// The song of that name, composed on first use; aborts on an unknown name or
// a song that does not load and export.
const PreparedSong &GetSong(const std::string &name);

}  // namespace bench

#endif  // ZELTO_BENCH_BENCH_SUPPORT_H
