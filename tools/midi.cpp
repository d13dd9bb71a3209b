// midi.cpp - zelto midi: which songs, where their MIDI files go, the
// rendering of each song, and the progress bar of long batches.
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
#include "zelto_performed.h"

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

// The MIDI file's name for a song: the song's name with .mid for its extension.
fs::path MidiName(const fs::path &song) { return song.filename().replace_extension(".mid"); }

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

// The export refuses a song whose playing order passes one of these limits,
// and so does a song whose events might pass 2^28 bytes. The first two follow
// from the public queries: the export's 480 ticks per quarter note make 30
// ticks per sixty-fourth.
constexpr std::uint64_t largestSongTicks = 0x0FFFFFFF;
constexpr std::uint64_t largestMeasureVisits = std::uint64_t{1} << 24;  // measures played × (tracks + 1)
constexpr std::uint64_t ticksPerSixtyFourth = 30;
constexpr std::uint32_t fallbackDenominator = 4;  // plays a denominator of 0

// Walks the loaded song's playing order as the export does (an end of repeat
// with passes left goes back to the nearest begin of repeat at or before it,
// else to the first measure) and says which limit the song passes, or an
// empty text when it passes neither. Stops as soon as one is passed, so the
// work is bounded by the limits themselves.
std::string FindPassedRenderLimit() {
    // What the walk needs of each measure, asked once: a repeat may play a
    // measure millions of times.
    struct MeasureSteps {
        bool numeratorGiven, denominatorGiven;
        std::uint32_t numerator, denominator;
        std::uint32_t repeatCount;  // times an end of repeat here goes back; 0 without one
        std::uint32_t repeatStart;  // where an end of repeat here goes back to
        std::uint32_t repeatsPlayed;
    };
    const std::uint32_t measureCount = ZELTO_GetMeasureCount();
    const std::uint64_t chunkCount = std::uint64_t{ZELTO_GetTrackCount()} + 1;
    std::vector<MeasureSteps> steps(measureCount);
    for (std::uint32_t measure = 0, start = 0; measure < measureCount; ++measure) {
        if (ZELTO_IsMeasureBeginRepeatPresent(measure)) start = measure;
        const bool endsRepeat = ZELTO_IsMeasureEndRepeatPresent(measure);
        steps[measure] = {ZELTO_IsMeasureKeyNumeratorPresent(measure) != 0,
                          ZELTO_IsMeasureKeyDenominatorPresent(measure) != 0,
                          ZELTO_GetMeasureKeyNumerator(measure),
                          ZELTO_GetMeasureKeyDenominator(measure),
                          endsRepeat ? ZELTO_GetMeasureRepeatCount(measure) : 0,
                          start,
                          0};
    }
    std::uint32_t numerator = 0, denominator = 0;
    std::uint64_t ticks = 0, measureVisits = 0;
    for (std::uint32_t measure = 0; measure < measureCount;) {
        MeasureSteps &step = steps[measure];
        if (step.numeratorGiven) numerator = step.numerator;
        if (step.denominatorGiven) denominator = step.denominator;
        const std::uint32_t usedDenominator = denominator == 0 ? fallbackDenominator : denominator;
        ticks += ticksPerSixtyFourth * ((std::uint64_t{numerator} * 64) / usedDenominator);
        measureVisits += chunkCount;
        if (ticks > largestSongTicks) return "it lasts more than " + Number(largestSongTicks) + " ticks";
        if (measureVisits > largestMeasureVisits)
            return "it plays more than " + Number(largestMeasureVisits) +
                   " measures, counting each once per track and once for the tempo track";
        if (step.repeatsPlayed < step.repeatCount) {
            ++step.repeatsPlayed;
            measure = step.repeatStart;
        } else {
            ++measure;
        }
    }
    return "";
}

// Renders the loaded song: the one place the tool asks for its MIDI file,
// performed or (plain) the library's plain export. The library answers 0, or
// 1 with a null buffer, both when the song is too long to render and when
// memory ran out; the walk above tells the first apart where the public
// queries can show it.
bool RenderMidi(bool plain, unsigned char *&buffer, std::uint32_t &size, std::string &problem) {
    buffer = nullptr;
    size = 0;
    const int made = plain ? ZELTO_CreateMidiBuffer(&buffer, &size) : ZELTO_CreatePerformedMidiBuffer(&buffer, &size);
    if (made && buffer != nullptr) return true;
    buffer = nullptr;
    const std::string passedLimit = FindPassedRenderLimit();
    problem = passedLimit.empty()
                  ? "cannot render the MIDI file: the song is too long to render, or memory ran out"
                  : "cannot render the MIDI file: the song is too long to render (" + passedLimit + ")";
    return false;
}

// Converts one song; returns true when its MIDI file is in place.
bool ConvertSong(const Conversion &conversion, bool force, bool plain, std::string &problem) {
    const fs::path readPath = ReadableSongPath(conversion.song, problem);
    if (readPath.empty() || !LoadSong(readPath, problem)) return false;
    unsigned char *buffer;
    std::uint32_t size;
    bool rendered = RenderMidi(plain, buffer, size, problem);
    ZELTO_Unload();
    if (!rendered) return false;

    bool written;
    if (conversion.output.empty()) {
        written = WriteStandardOutput(buffer, size, problem);
    } else {
        written = WriteOutputFile(conversion.output, buffer, size, force, problem);
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
        UsageError("midi", "'-o -' writes one song to standard output; several songs need an output folder");
        return false;
    }
    if (toStandardOutput && IsTerminal(stdout)) {
        UsageError("midi", "standard output is a terminal; redirect it or name an output file");
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
                UsageError("midi", "the output " + DisplayText(output) + " is not a folder");
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
                fs::path output = song.parent_path() / MidiName(song);
                if (intoFolder)
                    output = outputFolder / song.lexically_relative(input).parent_path() / MidiName(song);
                plan.push_back({song, output, ""});
            }
        } else if (toStandardOutput) {
            plan.push_back({input, fs::path(), ""});
        } else if (intoFolder) {
            plan.push_back({input, outputFolder / MidiName(input), ""});
        } else if (line.outputGiven) {
            plan.push_back({input, fs::path(line.output), ""});
        } else {
            plan.push_back({input, input.parent_path() / MidiName(input), ""});
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
            conversion.problem = "the MIDI file " + DisplayPath(conversion.output) + " would replace the song";
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

int RunMidi(const CommandLine &line) {
    if (line.operands.empty()) return UsageError("midi", "midi needs at least one song or folder");
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
        bool done = problem.empty() && ConvertSong(conversion, line.force, line.plain, problem);
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
