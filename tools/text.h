// text.h - the tool's text handling: song strings (8-bit bytes in no declared
// character set) shown on a terminal and written as JSON. Pure functions.
#ifndef ZELTO_TOOL_TEXT_H
#define ZELTO_TOOL_TEXT_H

#include <cstddef>
#include <filesystem>
#include <string>

namespace Talvoren {

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// values past U+10FFFF).
bool IsValidUtf8(const std::string &text);

// A song string for a person to read on a terminal: kept as it is when it is
// valid UTF-8, otherwise each byte taken as a Latin-1 character. Control
// characters (C0, DEL and C1) are shown as \xNN.
std::string DisplayText(const std::string &text);

// A song string as a JSON string literal, each byte the code point of the
// same value (the bytes read as Latin-1).
std::string JsonString(const std::string &text);
// A string query's result in JSON: a string, or null for an absent string.
std::string JsonText(const char *text);
std::string JsonBool(int value);
std::string Number(long long value);

// A path as given on the command line, for messages.
std::string DisplayPath(const std::filesystem::path &path);

// Columns a UTF-8 text takes on the terminal (continuation bytes take none),
// and the text cut to at most `width` columns at a character boundary.
std::size_t DisplayWidth(const std::string &text);
std::string CutToWidth(const std::string &text, std::size_t width);

}  // namespace Talvoren

#endif
