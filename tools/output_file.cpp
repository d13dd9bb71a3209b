// output_file.cpp - the safe output file: written under a temporary name
// beside the target, removed when the run is interrupted, and moved into
// place in one step. Nearly all of the tool's system-specific code is here.
#include "tool.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "text.h"

namespace fs = std::filesystem;

namespace Talvoren {

namespace {

// The temporary file being written, removed by the signal handler when the
// run is interrupted. Only async-signal-safe calls touch it there.
char temporaryPath[4096];
volatile std::sig_atomic_t temporaryActive = 0;

extern "C" void RemoveTemporaryAndExit(int signalNumber) {
    if (temporaryActive) {
#ifdef _WIN32
        _unlink(temporaryPath);
#else
        unlink(temporaryPath);
#endif
    }
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}


bool WriteAll(int descriptor, const unsigned char *data, std::size_t size) {
    while (size > 0) {
#ifdef _WIN32
        int written = _write(descriptor, data, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30)));
#else
        ssize_t written = write(descriptor, data, size);
#endif
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Creates a new, unique temporary file in `directory`, named after the target
// but starting with a dot and not ending in .mid; returns its descriptor.
int CreateTemporary(const fs::path &directory, const std::string &targetName) {
    std::string pattern = (directory / ("." + targetName + ".part-XXXXXX")).string();
    if (pattern.size() >= sizeof temporaryPath) {
        errno = ENAMETOOLONG;
        return -1;
    }
#ifdef _WIN32
    static unsigned attempt = 0;
    for (int tries = 0; tries < 100; ++tries) {
        std::string candidate = pattern.substr(0, pattern.size() - 6) +
                                std::to_string((_getpid() * 7919u + ++attempt) % 1000000u);
        std::snprintf(temporaryPath, sizeof temporaryPath, "%s", candidate.c_str());
        int descriptor = _open(temporaryPath, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (descriptor >= 0 || errno != EEXIST) {
            if (descriptor >= 0) temporaryActive = 1;
            return descriptor;
        }
    }
    return -1;
#else
    std::memcpy(temporaryPath, pattern.c_str(), pattern.size() + 1);
    int descriptor = mkstemp(temporaryPath);
    if (descriptor < 0) return -1;
    temporaryActive = 1;
    // mkstemp makes the file private; give the output the usual permissions.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor, 0666 & ~mask);
    return descriptor;
#endif
}

void DiscardTemporary() {
    if (!temporaryActive) return;
    std::remove(temporaryPath);
    temporaryActive = 0;
}

// Moves the finished temporary file to `target`. Without `force` an existing
// target is never replaced, even one that appeared while the song was written.
bool MoveTemporaryIntoPlace(const fs::path &target, bool force, std::string &problem) {
    const std::string targetText = target.string();
#ifdef _WIN32
    if (!MoveFileExA(temporaryPath, targetText.c_str(), force ? MOVEFILE_REPLACE_EXISTING : 0)) {
        DWORD error = GetLastError();
        problem = (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
                      ? "exists; use --force to overwrite it"
                      : "cannot write: error " + std::to_string(error);
        return false;
    }
    temporaryActive = 0;
    return true;
#else
    if (force) {
        if (rename(temporaryPath, targetText.c_str()) != 0) {
            problem = std::string("cannot write: ") + std::strerror(errno);
            return false;
        }
        temporaryActive = 0;
        return true;
    }
    // A hard link fails when the target exists, so no check can race a
    // file that appears in between.
    if (link(temporaryPath, targetText.c_str()) == 0) {
        unlink(temporaryPath);
        temporaryActive = 0;
        return true;
    }
    int linkError = errno;
    if (linkError == EEXIST) {
        problem = "exists; use --force to overwrite it";
        return false;
    }
    // File systems without hard links: check, then rename.
    struct stat status;
    if (lstat(targetText.c_str(), &status) == 0) {
        problem = "exists; use --force to overwrite it";
        return false;
    }
    if (rename(temporaryPath, targetText.c_str()) != 0) {
        problem = std::string("cannot write: ") + std::strerror(errno);
        return false;
    }
    temporaryActive = 0;
    return true;
#endif
}

// The path a symbolic link leads to, link after link (at most 40, as the
// system follows them); the path itself when it is no link. A link whose
// target is missing leads to that missing path, which the write then makes.
bool FollowLinks(fs::path &path, std::string &problem) {
    for (int links = 0; links < 40; ++links) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(path, error)) || error) return true;
        fs::path target = fs::read_symlink(path, error);
        if (error) {
            problem = "cannot follow the link: " + error.message();
            return false;
        }
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    problem = std::string("cannot follow the link: ") + std::strerror(ELOOP);
    return false;
}

// Writes into an existing file that is not a regular file (a device, a
// pipe) where it is, as a shell redirection would: such a file cannot be
// replaced by a temporary one, and must not be.
bool WriteInPlace(const fs::path &target, const unsigned char *data, std::size_t size, std::string &problem) {
#ifdef _WIN32
    int descriptor = _open(target.string().c_str(), _O_WRONLY | _O_BINARY);
#else
    int descriptor = open(target.string().c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
#endif
    if (descriptor < 0) {
        problem = std::string("cannot write: ") + std::strerror(errno);
        return false;
    }
    bool written = WriteAll(descriptor, data, size);
    int writeError = errno;
#ifdef _WIN32
    bool closed = _close(descriptor) == 0;
#else
    bool closed = close(descriptor) == 0;
#endif
    if (!closed && written) writeError = errno;
    if (written && closed) return true;
    problem = std::string("cannot write: ") + std::strerror(writeError);
    return false;
}

}  // namespace

void InstallInterruptHandlers() {
    std::signal(SIGINT, RemoveTemporaryAndExit);
    std::signal(SIGTERM, RemoveTemporaryAndExit);
#ifndef _WIN32
    std::signal(SIGHUP, RemoveTemporaryAndExit);
#endif
}

// Writes `data` to `target` through a temporary file in the same directory.
// With `force`, a symbolic link is followed to the file it names, and an
// existing file that is not a regular one (a device, a pipe) is written in
// place; only a regular file (or none) is replaced by the temporary file.
bool WriteOutputFile(const fs::path &named, const unsigned char *data, std::size_t size, bool force,
                     std::string &problem) {
    std::error_code error;
    if (!force && fs::symlink_status(named, error).type() != fs::file_type::not_found && !error) {
        problem = "exists; use --force to overwrite it";
        return false;
    }
    fs::path target = named;
    if (!FollowLinks(target, problem)) return false;
    const fs::file_type type = fs::status(target, error).type();
    if (!error && type != fs::file_type::not_found && type != fs::file_type::regular &&
        type != fs::file_type::directory)
        return WriteInPlace(target, data, size, problem);
    fs::path directory = target.parent_path();
    if (directory.empty()) directory = ".";
    int descriptor = CreateTemporary(directory, target.filename().string());
    if (descriptor < 0) {
        problem = std::string("cannot write in ") + DisplayPath(directory) + ": " + std::strerror(errno);
        return false;
    }
    bool written = WriteAll(descriptor, data, size);
    int writeError = errno;
#ifdef _WIN32
    bool closed = _close(descriptor) == 0;
#else
    // The data must be on disk before the name points at it.
    bool closed = fsync(descriptor) == 0 || errno == EINVAL;
    if (!closed) writeError = errno;
    closed = (close(descriptor) == 0) && closed;
    if (!closed && writeError == 0) writeError = errno;
#endif
    if (!written || !closed) {
        DiscardTemporary();
        problem = std::string("cannot write: ") + std::strerror(writeError);
        return false;
    }
    if (!MoveTemporaryIntoPlace(target, force, problem)) {
        DiscardTemporary();
        return false;
    }
    return true;
}

bool IsTerminal(std::FILE *stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

std::size_t TerminalWidth() {
#ifndef _WIN32
    struct winsize size;
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) return size.ws_col;
#endif
    return 80;
}

bool WriteStandardOutput(const unsigned char *data, std::size_t size, std::string &problem) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    if (std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0) return true;
    problem = std::string("cannot write to standard output: ") + std::strerror(errno);
    return false;
}

}  // namespace Talvoren
