// fuzz_replay_main.cpp - replays song inputs through the fuzz target's checks
// without libFuzzer: every file named, and every file inside every folder
// named (in name order, notes in .md files aside), is loaded, queried, exported and released.
// Prints each broken promise, closes with "N passed, N failed" and exits
// non-zero when an input failed, or when no input was found unless
// --allow-empty comes first (a regression folder with no findings yet).
//
//   fuzz_replay [--allow-empty] FILE_OR_FOLDER...
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "song_check.h"

namespace {

std::vector<std::filesystem::path> CollectInputs(int firstArgument, int argumentCount, char **arguments) {
    std::vector<std::filesystem::path> inputs;
    for (int index = firstArgument; index < argumentCount; ++index) {
        const std::filesystem::path named = arguments[index];
        std::error_code error;
        if (std::filesystem::is_directory(named, error)) {
            std::vector<std::filesystem::path> inFolder;
            for (const auto &entry : std::filesystem::recursive_directory_iterator(named, error))
                if (entry.is_regular_file() && entry.path().extension() != ".md") inFolder.push_back(entry.path());
            std::sort(inFolder.begin(), inFolder.end());
            inputs.insert(inputs.end(), inFolder.begin(), inFolder.end());
        } else if (std::filesystem::is_regular_file(named, error)) {
            inputs.push_back(named);
        } else {
            std::fprintf(stderr, "fuzz_replay: %s: no such file or folder\n", arguments[index]);
        }
    }
    return inputs;
}

}  // namespace

int main(int argumentCount, char **arguments) {
    const bool allowEmpty = argumentCount > 1 && std::string(arguments[1]) == "--allow-empty";
    const std::vector<std::filesystem::path> inputs = CollectInputs(allowEmpty ? 2 : 1, argumentCount, arguments);
    std::size_t passed = 0;
    std::size_t failed = 0;
    std::size_t loaded = 0;
    std::size_t exported = 0;
    std::size_t performed = 0;
    for (const std::filesystem::path &input : inputs) {
        std::ifstream stream(input, std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
        // Replays run every input whole, whatever its size.
        fuzzcheck::Limits limits;
        limits.largestInput = bytes.size();
        const fuzzcheck::Outcome outcome = fuzzcheck::CheckSongBytes(bytes.data(), bytes.size(), limits);
        if (outcome.failure.empty()) {
            ++passed;
        } else {
            ++failed;
            std::printf("FAILED %s: %s\n", input.string().c_str(), outcome.failure.c_str());
        }
        loaded += outcome.loaded ? 1 : 0;
        exported += outcome.midiBufferMade ? 1 : 0;
        performed += outcome.performedExported ? 1 : 0;
    }
    std::printf("fuzz_replay: %zu inputs, %zu loaded, %zu exported to MIDI, %zu rendered as performed\n",
                inputs.size(), loaded, exported, performed);
    std::printf("%zu passed, %zu failed\n", passed, failed);
    if (inputs.empty() && !allowEmpty) {
        std::fprintf(stderr, "fuzz_replay: no inputs found\n");
        return 1;
    }
    return failed == 0 ? 0 : 1;
}
