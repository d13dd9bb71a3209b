// song_file.cpp - loading a song for a command, and saying why one did not load.
#include "tool.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "text.h"
#include "zelto.h"
#include "zelto_song.h"

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

// A song read from a pipe or a device is kept in memory, and no real song
// comes near this size; a larger stream is refused rather than held.
constexpr std::size_t largestStreamedSong = std::size_t{64} << 20;

}  // namespace

fs::path ReadableSongPath(const fs::path &songPath, std::string &problem) {
#ifdef _WIN32
    return songPath;
#else
    struct stat status;
    if (stat(songPath.c_str(), &status) != 0 || S_ISREG(status.st_mode) || S_ISDIR(status.st_mode))
        return songPath;
    // A pipe or a device cannot seek and gives its bytes once: they are read
    // into a memory file first, which every later open reads again whole.
    std::FILE *stream = std::fopen(songPath.c_str(), "rb");
    if (stream == nullptr) return songPath;  // the load says why
    std::vector<unsigned char> bytes;
    unsigned char block[65536];
    std::size_t got;
    while (bytes.size() <= largestStreamedSong && (got = std::fread(block, 1, sizeof block, stream)) > 0)
        bytes.insert(bytes.end(), block, block + got);
    const int readError = std::ferror(stream) ? (errno != 0 ? errno : EIO) : 0;
    std::fclose(stream);
    if (readError != 0) {
        problem = std::string("cannot read: ") + std::strerror(readError);
        return fs::path();
    }
    if (bytes.size() > largestStreamedSong) {
        problem = "cannot read: a song read from a pipe or device may hold at most " +
                  std::to_string(largestStreamedSong) + " bytes";
        return fs::path();
    }
    // Open until the tool exits, as long as the song may be read.
    const int memoryFile = memfd_create("zelto-song", MFD_CLOEXEC);
    std::size_t written = 0;
    while (memoryFile >= 0 && written < bytes.size()) {
        const ssize_t count = write(memoryFile, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        written += static_cast<std::size_t>(count);
    }
    if (memoryFile < 0 || written != bytes.size()) {
        problem = std::string("cannot keep the song read from a pipe: ") + std::strerror(errno);
        return fs::path();
    }
    return "/proc/self/fd/" + std::to_string(memoryFile);
#endif
}

bool LoadSong(const fs::path &songPath, std::string &problem) {
    if (ZELTO_Load(songPath.string().c_str())) return true;
    problem = ExplainLoadFailure(songPath);
    return false;
}

ZELTO_Song *OpenSong(const fs::path &songPath, std::string &problem) {
    ZELTO_Song *song = nullptr;
    const std::int32_t result = ZELTO_SongOpen(songPath.string().c_str(), &song);
    if (result == ZELTO_SONG_OK) return song;
    problem = result == ZELTO_SONG_OUT_OF_MEMORY ? ZELTO_SongResultText(result) : ExplainLoadFailure(songPath);
    return nullptr;
}

void ReportSongError(const fs::path &songPath, const std::string &problem) {
    std::fprintf(stderr, "zelto: %s: %s\n", DisplayPath(songPath).c_str(), problem.c_str());
}

}  // namespace Talvoren
