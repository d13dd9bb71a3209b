// midi.cpp - zelto midi and zelto musicxml: which songs, where their files
// go, the rendering of each song as MIDI or MusicXML, and the progress bar
// of long batches.
#include "tool.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "text.h"
#include "zelto.h"
#include "zelto_musicxml.h"
#include "zelto_song.h"

namespace fs = std::filesystem;

namespace Talvoren {

namespace {

// A batch conversion draws a progress bar from this many songs on.
constexpr std::size_t progressBarMinimumSongs = 5;

// ---------------------------------------------------------------------------
// zelto midi: which songs, where their MIDI files go.

struct Conversion {
    fs::path song;
    fs::path output;  // empty: standard output
    std::string problem;  // set when the song cannot be converted at all
};

bool HasSongExtension(const fs::path &path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char character) { return static_cast<char>(std::tolower(character)); });
    return extension == ".gp4";
}

bool IsMusicXml(const CommandLine &line) { return line.command == "musicxml"; }

// The output file's name for a song: the song's name with .mid (or .musicxml)
// for its extension.
fs::path OutputName(const fs::path &song, const CommandLine &line) {
    return song.filename().replace_extension(IsMusicXml(line) ? ".musicxml" : ".mid");
}

// An entry found in a folder: a song, or a folder or entry that could not be
// read, with the reason.
struct FoundEntry {
    fs::path path;
    std::string problem;  // empty for a song
    bool operator<(const FoundEntry &other) const { return path < other.path; }
};

// Adds the songs of a folder and its subfolders (files ending in .gp4, in any
// case) to `found`, and every subfolder or entry that cannot be read, so that
// no song goes unmentioned. Links to folders are not followed (no loops).
void FindSongsIn(const fs::path &folder, std::vector<FoundEntry> &found) {
    std::error_code error;
    fs::directory_iterator entry(folder, error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        std::error_code typeError;
        const fs::file_status linkStatus = entry->symlink_status(typeError);
        if (!typeError && fs::is_directory(linkStatus)) {
            FindSongsIn(entry->path(), found);
            continue;
        }
        if (!HasSongExtension(entry->path())) continue;
        const bool regular = entry->is_regular_file(typeError);
        if (typeError)
            found.push_back({entry->path(), "cannot read: " + typeError.message()});
        else if (regular)
            found.push_back({entry->path(), ""});
    }
    if (error) found.push_back({folder, "cannot read the folder: " + error.message()});
}

// The songs of a folder, and what could not be read, in name order so that
// every run goes the same way.
std::vector<FoundEntry> FindSongs(const fs::path &folder) {
    std::vector<FoundEntry> found;
    FindSongsIn(folder, found);
    std::sort(found.begin(), found.end());
    return found;
}

// ---------------------------------------------------------------------------
// Progress bar for long batches, on standard error when it is a terminal.

struct Progress {
    bool shown = false;
    std::size_t total = 0;
    std::size_t done = 0;
    bool drawn = false;
};

void ClearProgress(Progress &progress) {
    if (!progress.drawn) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    progress.drawn = false;
}

void DrawProgress(Progress &progress, const fs::path &current) {
    if (!progress.shown) return;
    std::fflush(stdout);
    constexpr std::size_t barWidth = 30;
    std::size_t filled = progress.total ? progress.done * barWidth / progress.total : barWidth;
    std::string line = "[" + std::string(filled, '#') + std::string(barWidth - filled, '.') + "] " +
                       Number(progress.done) + "/" + Number(progress.total);
    if (!current.empty()) line += " " + DisplayPath(current.filename());
    line = CutToWidth(line, TerminalWidth() - 1);
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    progress.drawn = true;
}

// ---------------------------------------------------------------------------
// Rendering a song, and why a rendering failed.

// What the rendering's refusal means, in the user's terms; the numbers are
// the render limits of zelto_song.h.
std::string RenderProblem(std::int32_t result, std::uint32_t limit, bool plain, std::uint32_t maxSize) {
    const std::string tooLong = "the song is too long to render (";
    if (result == ZELTO_SONG_TOO_LONG) {
        switch (limit) {
        case ZELTO_SONG_LIMIT_TICKS: return tooLong + "it lasts more than 268435455 ticks)";
        case ZELTO_SONG_LIMIT_MEASURES:
            return tooLong + "it plays more than 16777216 measures, counting each once per track and once "
                             "for the tempo track)";
        case ZELTO_SONG_LIMIT_EVENTS:
            return tooLong + (plain ? "its events might pass 268435456 bytes)" : "it plays more than 16777216 events)");
        case ZELTO_SONG_LIMIT_TEXT: return tooLong + "its title, track names and markers pass 67108864 bytes)";
        case ZELTO_SONG_LIMIT_TRACKS: return tooLong + "it has more tracks than one MIDI file holds)";
        case ZELTO_SONG_LIMIT_SIZE:
            return "the MIDI file would be larger than --max-size (" + Number(maxSize) + " bytes)";
        default: break;
        }
    }
    return ZELTO_SongResultText(result);
}

// Renders the open song: the one place the tool asks for its MIDI file,
// performed or (plain) the library's plain export, within the size budget.
bool RenderMidi(ZELTO_Song *song, bool plain, std::uint32_t maxSize, unsigned char *&buffer, std::uint32_t &size,
                std::string &problem) {
    std::uint32_t limit = ZELTO_SONG_LIMIT_NONE;
    const std::int32_t result = ZELTO_SongCreateMidiBufferWithin(
        song, plain ? ZELTO_SONG_MIDI_PLAIN : ZELTO_SONG_MIDI_PERFORMED, maxSize, &buffer, &size, &limit);
    if (result == ZELTO_SONG_OK) return true;
    problem = "cannot render the MIDI file: " + RenderProblem(result, limit, plain, maxSize);
    return false;
}

// Writes the open song as a MusicXML score.
bool RenderMusicXml(const ZELTO_Song *song, unsigned char *&buffer, std::uint32_t &size, std::string &problem) {
    const std::int32_t result = ZELTO_SongCreateMusicXml(song, &buffer, &size);
    if (result == ZELTO_SONG_OK) return true;
    problem = std::string("cannot write the MusicXML score: ") + ZELTO_SongResultText(result);
    return false;
}

// Converts one song; returns true when its file is in place.
bool ConvertSong(const Conversion &conversion, const CommandLine &line, std::string &problem) {
    const fs::path readPath = ReadableSongPath(conversion.song, problem);
    if (readPath.empty()) return false;
    ZELTO_Song *song = OpenSong(readPath, problem);
    if (song == nullptr) return false;
    unsigned char *buffer = nullptr;
    std::uint32_t size = 0;
    bool rendered = IsMusicXml(line) ? RenderMusicXml(song, buffer, size, problem)
                                     : RenderMidi(song, line.plain, line.maxSize, buffer, size, problem);
    ZELTO_SongClose(song);
    if (!rendered) return false;

    bool written;
    if (conversion.output.empty()) {
        written = WriteStandardOutput(buffer, size, problem);
    } else {
        written = WriteOutputFile(conversion.output, buffer, size, line.force, problem);
        if (!written) problem = DisplayPath(conversion.output) + ": " + problem;
    }
    ZELTO_DestroyMidiBuffer(buffer);
    return written;
}

bool IsDirectory(const fs::path &path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

// Works out every song's output, or reports a usage error (returns false).
bool PlanConversions(const CommandLine &line, std::vector<Conversion> &plan, bool &batch) {
    bool anyFolder = false;
    for (const std::string &operand : line.operands)
        if (operand != "-" && IsDirectory(operand)) anyFolder = true;
    batch = line.operands.size() > 1 || anyFolder;

    const bool toStandardOutput = line.outputGiven && line.output == "-";
    if (toStandardOutput && batch) {
        UsageError(line.command, "'-o -' writes one song to standard output; several songs need an output folder");
        return false;
    }
    // A MIDI file is binary; a score is text, which a terminal may show.
    if (toStandardOutput && !IsMusicXml(line) && IsTerminal(stdout)) {
        UsageError(line.command, "standard output is a terminal; redirect it or name an output file");
        return false;
    }
    fs::path outputFolder;
    bool intoFolder = false;
    if (line.outputGiven && !toStandardOutput) {
        std::string output = line.output;
        bool namedAsFolder = output.back() == '/' || IsDirectory(output);
        if (batch || namedAsFolder) {
            std::error_code error;
            if (fs::exists(output, error) && !IsDirectory(output)) {
                UsageError(line.command, "the output " + DisplayText(output) + " is not a folder");
                return false;
            }
            fs::create_directories(output, error);
            if (error) {
                std::fprintf(stderr, "zelto: cannot make the folder %s: %s\n", DisplayText(output).c_str(),
                             error.message().c_str());
                return false;
            }
            outputFolder = output;
            intoFolder = true;
        }
    }

    for (const std::string &operand : line.operands) {
        fs::path input = operand;
        if (IsDirectory(input)) {
            const std::vector<FoundEntry> found = FindSongs(input);
            if (found.empty()) plan.push_back({input, fs::path(), "no .gp4 songs in this folder"});
            for (const FoundEntry &entry : found) {
                const fs::path &song = entry.path;
                if (!entry.problem.empty()) {
                    plan.push_back({song, fs::path(), entry.problem});
                    continue;
                }
                fs::path output = song.parent_path() / OutputName(song, line);
                if (intoFolder)
                    output = outputFolder / song.lexically_relative(input).parent_path() / OutputName(song, line);
                plan.push_back({song, output, ""});
            }
        } else if (toStandardOutput) {
            plan.push_back({input, fs::path(), ""});
        } else if (intoFolder) {
            plan.push_back({input, outputFolder / OutputName(input, line), ""});
        } else if (line.outputGiven) {
            plan.push_back({input, fs::path(line.output), ""});
        } else {
            plan.push_back({input, input.parent_path() / OutputName(input, line), ""});
        }
    }

    // Two songs must not write the same file, and no song its own file.
    std::set<fs::path> outputs;
    for (Conversion &conversion : plan) {
        if (!conversion.problem.empty() || conversion.output.empty()) continue;
        std::error_code error;
        fs::path key = fs::weakly_canonical(conversion.output, error).lexically_normal();
        if (error) key = fs::absolute(conversion.output, error).lexically_normal();
        if (fs::equivalent(conversion.song, conversion.output, error) && !error)
            conversion.problem = std::string(IsMusicXml(line) ? "the score " : "the MIDI file ") +
                                 DisplayPath(conversion.output) + " would replace the song";
        else if (!outputs.insert(key).second)
            conversion.problem = "another song of this run also writes " + DisplayPath(conversion.output);
        else if (intoFolder) {
            std::error_code folderError;
            fs::create_directories(conversion.output.parent_path(), folderError);
        }
    }
    return true;
}

}  // namespace

int RunConversions(const CommandLine &line) {
    if (line.operands.empty()) return UsageError(line.command, line.command + " needs at least one song or folder");
    std::vector<Conversion> plan;
    bool batch = false;
    if (!PlanConversions(line, plan, batch)) return exitUsage;

    InstallInterruptHandlers();
    Progress progress;
    progress.total = plan.size();
    progress.shown = batch && plan.size() >= progressBarMinimumSongs && IsTerminal(stderr);

    std::size_t converted = 0, failed = 0;
    for (const Conversion &conversion : plan) {
        DrawProgress(progress, conversion.song);
        std::string problem = conversion.problem;
        bool done = problem.empty() && ConvertSong(conversion, line, problem);
        ClearProgress(progress);
        if (done) {
            ++converted;
            if (!conversion.output.empty())
                std::printf("%s -> %s\n", DisplayPath(conversion.song).c_str(),
                            DisplayPath(conversion.output).c_str());
        } else {
            ++failed;
            ReportSongError(conversion.song, problem);
        }
        std::fflush(stdout);
        ++progress.done;
    }
    DrawProgress(progress, fs::path());
    ClearProgress(progress);
    if (batch) std::printf("%zu converted, %zu failed\n", converted, failed);
    // A song written to standard output has reported its own failure; the
    // lines and the summary of songs written to files are checked here.
    const bool songOnStandardOutput = line.outputGiven && line.output == "-";
    const int listed = songOnStandardOutput ? exitSuccess : FinishStandardOutput("the list of converted songs");
    return failed == 0 ? listed : exitSongFailed;
}


}  // namespace Talvoren
