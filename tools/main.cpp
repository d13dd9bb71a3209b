// main.cpp - the zelto command-line tool: `zelto info` summarises a Guitar
// Pro 4 song as text or JSON, `zelto midi` converts songs to MIDI files and
// `zelto musicxml` to MusicXML scores.
// This file holds the help texts, the option parsing and main.
//
// The tool uses the library only through its public C interfaces, zelto.h and
// zelto_song.h (for info --notes, and for the renderings of zelto midi).
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "tool.h"
#include "zelto.h"

#ifndef ZELTO_VERSION
#define ZELTO_VERSION "0.0.0.0"
#endif

namespace Talvoren {

namespace {

const char toolHelp[] =
    "Usage: zelto COMMAND [OPTIONS] ARGUMENTS\n"
    "\n"
    "Reads Guitar Pro 4 songs (.gp4).\n"
    "\n"
    "Commands:\n"
    "  info SONG.gp4            print a summary of the song (--json for scripts)\n"
    "  midi SONG.gp4|DIR ...    write the songs as Standard MIDI Files (--plain\n"
    "                           for the plain export)\n"
    "  musicxml SONG.gp4|DIR ... write the songs as MusicXML scores, tablature\n"
    "                           included, for notation programs\n"
    "  help [COMMAND]           show this text or a command's help\n"
    "\n"
    "Options:\n"
    "  -h, --help               show help (after a command: that command's help)\n"
    "  --version                print the version\n"
    "\n"
    "Exit status: 0 on success, 1 when a song failed, 2 for wrong usage.\n";

const char infoHelp[] =
    "Usage: zelto info [--json [--notes]] SONG.gp4\n"
    "\n"
    "Prints the song's information strings, notice lines, lyrics, tempo, key,\n"
    "octave and triplet feel, the measures where something changes (time\n"
    "signature, repeats, alternative endings, markers, tonality, double bars)\n"
    "and a table of the tracks.\n"
    "\n"
    "Options:\n"
    "  --json       print everything the library reports as one JSON document\n"
    "               (the shape is described in docs/json.md)\n"
    "  --notes      with --json: every track's beats and notes too, with their\n"
    "               effects, measure by measure (formatVersion 2)\n"
    "  -h, --help   show this help\n"
    "\n"
    "Example:\n"
    "  zelto info examples/demo.gp4\n"
    "  zelto info --json song.gp4 | python3 -m json.tool\n"
    "  zelto info --json --notes song.gp4 > song.json\n";

const char midiHelp[] =
    "Usage: zelto midi [--plain] [-f] [--max-size BYTES] [-o OUT] SONG.gp4|DIR ...\n"
    "\n"
    "Writes each song as a Standard MIDI File (format 1, 480 ticks per quarter).\n"
    "By default the song is performed as a guitarist plays it: alternative\n"
    "endings on their passes, ties held, the capo added, dead notes, accents,\n"
    "palm mute, let ring, grace notes, tremolo picking, trills and harmonics\n"
    "heard, drum tracks on channel 10. --plain writes the library's plain\n"
    "export instead (ZELTO_CreateMidiBuffer, byte for byte): every ending on\n"
    "every pass, tied and dead notes silent, no capo, no effects.\n"
    "Without -o, SONG.gp4 becomes SONG.mid beside it. A folder stands for every\n"
    ".gp4 song in it and its subfolders. With several songs or a folder, -o names\n"
    "an output folder (made when missing; subfolders are kept), one line is\n"
    "printed per song and a summary at the end.\n"
    "\n"
    "An existing file is never overwritten without --force. Each file is written\n"
    "under a temporary name first and renamed when complete, so an interrupted\n"
    "run leaves no half-written MIDI file.\n"
    "\n"
    "Options:\n"
    "  -o, --output OUT   the MIDI file (one song), or the output folder;\n"
    "                     '-' writes the one song's MIDI data to standard output\n"
    "  --plain            the plain export instead of the performed rendering\n"
    "  -f, --force        overwrite existing MIDI files\n"
    "  --max-size BYTES   refuse a song whose MIDI file would be larger (a number,\n"
    "                     or with K or M for KiB or MiB; 0 for no limit; 32M by\n"
    "                     default, far above any real song)\n"
    "  -h, --help         show this help\n"
    "\n"
    "Examples:\n"
    "  zelto midi song.gp4                      # writes song.mid\n"
    "  zelto midi --plain song.gp4 -o plain.mid # the plain export\n"
    "  zelto midi song.gp4 -o - | timidity -    # plays it at once\n"
    "  zelto midi a.gp4 b.gp4 songs/ -o midi/   # midi/a.mid, midi/b.mid, and one\n"
    "                                           # file per song found in songs/\n";

const char musicXmlHelp[] =
    "Usage: zelto musicxml [-f] [-o OUT] SONG.gp4|DIR ...\n"
    "\n"
    "Writes each song as a MusicXML 4.0 score (SONG.musicxml beside the song):\n"
    "one part per track, fretted tracks on a notation staff and a tablature\n"
    "staff with every note's string and fret, percussion on a percussion staff,\n"
    "with repeats, endings, ties, tuplets, lyrics, chord diagrams and effects.\n"
    "Any notation program opens it (see docs/musicxml.md). A folder is searched\n"
    "for .gp4 songs, its subfolders too.\n"
    "\n"
    "Options:\n"
    "  -o, --output OUT  the score's file name for one song, or a folder for\n"
    "                    several (made if missing); '-' writes one score to\n"
    "                    standard output\n"
    "  -f, --force       replace scores that already exist\n"
    "  -h, --help        show this help\n"
    "\n"
    "Examples:\n"
    "  zelto musicxml song.gp4                   # writes song.musicxml\n"
    "  zelto musicxml songs/ -o scores/          # every song of a folder\n"
    "  zelto musicxml song.gp4 -o - | xmllint --noout -\n";

// A byte count as --max-size takes it: digits, then K (KiB) or M (MiB) or
// nothing; false when it is not one or does not fit 32 bits.
bool ParseByteCount(const std::string &text, std::uint32_t &bytes) {
    std::uint64_t value = 0;
    std::size_t position = 0;
    for (; position < text.size() && text[position] >= '0' && text[position] <= '9'; ++position) {
        value = value * 10 + static_cast<std::uint64_t>(text[position] - '0');
        if (value > UINT32_MAX) return false;
    }
    if (position == 0) return false;
    const std::string unit = text.substr(position);
    if (unit == "K" || unit == "k") value <<= 10;
    else if (unit == "M" || unit == "m") value <<= 20;
    else if (!unit.empty()) return false;
    if (value > UINT32_MAX) return false;
    bytes = static_cast<std::uint32_t>(value);
    return true;
}

// Parses the options of a command; returns false (after reporting) on error.
bool ParseCommandOptions(int argumentCount, char **arguments, int first, CommandLine &line) {
    const bool writesFiles = line.command == "midi" || line.command == "musicxml";
    bool optionsEnded = false;
    for (int index = first; index < argumentCount; ++index) {
        std::string argument = arguments[index];
        if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
            line.operands.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "-h" || argument == "--help") {
            line.help = true;
        } else if (line.command == "info" && argument == "--json") {
            line.json = true;
        } else if (line.command == "info" && argument == "--notes") {
            line.notes = true;
        } else if (writesFiles && (argument == "-f" || argument == "--force")) {
            line.force = true;
        } else if (line.command == "midi" && argument == "--plain") {
            line.plain = true;
        } else if (line.command == "midi" && (argument == "--max-size" || argument.rfind("--max-size=", 0) == 0)) {
            std::string value;
            if (argument != "--max-size") {
                value = argument.substr(11);
            } else if (index + 1 < argumentCount) {
                value = arguments[++index];
            } else {
                UsageError(line.command, "option --max-size needs a number of bytes");
                return false;
            }
            if (!ParseByteCount(value, line.maxSize)) {
                UsageError(line.command, "--max-size takes a number of bytes (with K or M), not '" + value + "'");
                return false;
            }
        } else if (writesFiles &&
                   (argument == "-o" || argument == "--output" || argument.rfind("--output=", 0) == 0)) {
            if (line.outputGiven) {
                UsageError(line.command, "-o given twice");
                return false;
            }
            if (argument.rfind("--output=", 0) == 0) {
                line.output = argument.substr(9);
            } else if (index + 1 < argumentCount) {
                line.output = arguments[++index];
            } else {
                UsageError(line.command, "option " + argument + " needs a file or folder name");
                return false;
            }
            if (line.output.empty()) {
                UsageError(line.command, "the output name is empty");
                return false;
            }
            line.outputGiven = true;
        } else if (writesFiles && argument.size() > 2 && argument.rfind("-o", 0) == 0) {
            if (line.outputGiven) {
                UsageError(line.command, "-o given twice");
                return false;
            }
            line.output = argument.substr(2);
            line.outputGiven = true;
        } else {
            UsageError(line.command, "unknown option '" + argument + "'");
            return false;
        }
    }
    return true;
}

int RunHelp(const std::string &topic) {
    if (topic.empty()) std::fputs(toolHelp, stdout);
    else if (topic == "info") std::fputs(infoHelp, stdout);
    else if (topic == "midi") std::fputs(midiHelp, stdout);
    else if (topic == "musicxml") std::fputs(musicXmlHelp, stdout);
    else return UsageError("", "no help for '" + topic + "': unknown command");
    return FinishStandardOutput("the help");
}

}  // namespace

int FinishStandardOutput(const char *what) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return exitSuccess;
    std::fprintf(stderr, "zelto: cannot write %s: %s\n", what, std::strerror(errno));
    return exitSongFailed;
}

int UsageError(const std::string &command, const std::string &message) {
    std::fprintf(stderr, "zelto: %s\n", message.c_str());
    std::fprintf(stderr, "Try 'zelto %s--help'.\n", command.empty() ? "" : (command + " ").c_str());
    return exitUsage;
}

}  // namespace Talvoren

int main(int argumentCount, char **arguments) {
    using namespace Talvoren;
    if (argumentCount < 2) {
        std::fputs(toolHelp, stderr);
        return exitUsage;
    }
    std::string first = arguments[1];
    if (first == "-h" || first == "--help") return RunHelp("");
    if (first == "--version" || first == "-V") {
        std::printf("zelto %s\n", ZELTO_VERSION);
        return FinishStandardOutput("the version");
    }
    if (first == "help") {
        if (argumentCount > 3) return UsageError("", "help takes at most one command");
        return RunHelp(argumentCount == 3 ? arguments[2] : "");
    }
    if (first != "info" && first != "midi" && first != "musicxml") {
        if (!first.empty() && first[0] == '-') return UsageError("", "unknown option '" + first + "'");
        return UsageError("", "unknown command '" + first + "'");
    }

    CommandLine line;
    line.command = first;
    if (!ParseCommandOptions(argumentCount, arguments, 2, line)) return exitUsage;
    if (line.help) return RunHelp(line.command);

    ZELTO_Init();
    return line.command == "info" ? RunInfo(line) : RunConversions(line);
}
