// tool.h - what the files of the zelto command-line tool share: the exit
// statuses, the parsed command line, song loading and the safe output file.
#ifndef ZELTO_TOOL_TOOL_H
#define ZELTO_TOOL_TOOL_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "zelto_song.h"

namespace Talvoren {

// Exit statuses: every song done; a song failed; the command line was wrong.
constexpr int exitSuccess = 0;
constexpr int exitSongFailed = 1;
constexpr int exitUsage = 2;

// zelto midi's default --max-size, 32 MiB: no real song's MIDI file comes
// near it (the largest seen is under 1 MB), but a small crafted song cannot
// make the tool build hundreds of megabytes.
constexpr std::uint32_t defaultMaxSize = std::uint32_t{32} << 20;

struct CommandLine {
    std::string command;
    bool help = false;
    bool json = false;
    bool notes = false;  // info --json --notes: the beats and notes too
    bool force = false;
    bool plain = false;  // midi: the library's plain export instead of the performed rendering
    std::uint32_t maxSize = defaultMaxSize;  // midi: the largest MIDI file written, in bytes; 0 for no limit
    bool outputGiven = false;
    std::string output;
    std::vector<std::string> operands;
};

// Flushes standard output: exitSuccess when everything written reached it,
// else exitSongFailed after saying on standard error that `what` could not be
// written.
int FinishStandardOutput(const char *what);

// Reports a wrong command line on standard error; returns exitUsage.
int UsageError(const std::string &command, const std::string &message);

// The commands (info.cpp, midi.cpp); each returns the exit status.
int RunInfo(const CommandLine &line);
// zelto midi and zelto musicxml: each song converted to a file of its own.
int RunConversions(const CommandLine &line);

// Loading a song (song_file.cpp). LoadSong loads it into the library, or
// returns false with the reason in `problem`; ReportSongError prints such a
// reason on standard error.
bool LoadSong(const std::filesystem::path &songPath, std::string &problem);
// Opens the song as a song handle, or returns null with the reason in
// `problem`, told as LoadSong tells it.
ZELTO_Song *OpenSong(const std::filesystem::path &songPath, std::string &problem);
// The path to give the library for a song: the song's own, or for a pipe or
// a device (which cannot seek and can be read once) the path of a memory
// file holding all its bytes. An empty path, with the reason in `problem`,
// when the stream cannot be read or passes the size a streamed song may have.
std::filesystem::path ReadableSongPath(const std::filesystem::path &songPath, std::string &problem);
void ReportSongError(const std::filesystem::path &songPath, const std::string &problem);

// Every track's measures with their beats and notes, as the JSON arrays of
// info --json --notes (notes.cpp), read through a song handle of the file;
// items stand one per line below `indent`. Returns false with the reason in
// `problem` when the song does not open.
bool TrackNotesJson(const std::filesystem::path &songPath, const std::string &indent,
                    std::vector<std::string> &trackMeasures, std::string &problem);

// The safe output file and the terminal (output_file.cpp).
// Removes a half-written output file when the run is interrupted.
void InstallInterruptHandlers();
// Writes `data` to `target` through a temporary file in the same folder,
// never replacing an existing file without `force`. With `force` a symbolic
// link is followed and a device or pipe is written in place.
bool WriteOutputFile(const std::filesystem::path &target, const unsigned char *data, std::size_t size,
                     bool force, std::string &problem);
// Writes `data` to standard output, in binary mode.
bool WriteStandardOutput(const unsigned char *data, std::size_t size, std::string &problem);
bool IsTerminal(std::FILE *stream);
// Columns of the terminal on standard error (80 when unknown).
std::size_t TerminalWidth();

}  // namespace Talvoren

#endif
