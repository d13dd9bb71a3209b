// song_file.cpp - loading a song for a command, and saying why one did not load.
#include "tool.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <sys/types.h>

#include "text.h"
#include "zelto.h"

namespace fs = std::filesystem;

namespace Talvoren {

namespace {

// The two version strings the library accepts, and the prefix every version
// string of the format starts with.
const char *const acceptedVersions[] = {"FICHIER GUITAR PRO v4.00", "FICHIER GUITAR PRO v4.06"};
const char formatPrefix[] = "FICHIER GUITAR PRO";
// The version field: one length byte and 30 bytes of text and filler.
constexpr std::size_t versionFieldSize = 31;

// Why a song did not load. The library answers only 0 or 1; the first bytes
// of the file tell a missing file, another format and another version apart
// from a damaged song.

std::string ExplainLoadFailure(const fs::path &songPath) {
    const std::string path = songPath.string();
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return std::string("cannot open: ") + std::strerror(errno);
    if (S_ISDIR(status.st_mode)) return std::string("cannot read: ") + std::strerror(EISDIR);

    std::FILE *stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) return std::string("cannot open: ") + std::strerror(errno);
    unsigned char head[versionFieldSize];
    std::size_t got = std::fread(head, 1, sizeof head, stream);
    int readError = std::ferror(stream) ? (errno != 0 ? errno : EIO) : 0;
    std::fclose(stream);
    if (readError != 0) return std::string("cannot read: ") + std::strerror(readError);
    if (got == 0) return "not a Guitar Pro 4 song: the file is empty";
    if (got >= 4 && std::memcmp(head, "MThd", 4) == 0)
        return "not a Guitar Pro 4 song: it is a Standard MIDI File";

    std::size_t textLength = std::min<std::size_t>(head[0], got - 1);
    std::string version(reinterpret_cast<const char *>(head + 1), textLength);
    for (const char *accepted : acceptedVersions) {
        if (head[0] != std::strlen(accepted) || version.compare(0, textLength, accepted, textLength) != 0)
            continue;
        if (textLength < head[0]) return "damaged or cut off: the file ends inside its version string";
        return "damaged or cut off: the version \"" + version +
               "\" is right, but the song after it could not be read";
    }
    if (version.compare(0, std::strlen(formatPrefix), formatPrefix) != 0)
        return "not a Guitar Pro 4 song: the file does not start with a Guitar Pro version string";
    return "not a Guitar Pro 4 song: it is another version of the format (\"" + DisplayText(version) +
           "\"); only \"FICHIER GUITAR PRO v4.00\" and \"v4.06\" are read";
}

}  // namespace

bool LoadSong(const fs::path &songPath, std::string &problem) {
    if (ZELTO_Load(songPath.string().c_str())) return true;
    problem = ExplainLoadFailure(songPath);
    return false;
}

void ReportSongError(const fs::path &songPath, const std::string &problem) {
    std::fprintf(stderr, "zelto: %s: %s\n", DisplayPath(songPath).c_str(), problem.c_str());
}

}  // namespace Talvoren
