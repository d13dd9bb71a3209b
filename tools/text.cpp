// text.cpp - the tool's text handling: song strings (8-bit bytes in no
// declared character set) made safe for a terminal and for JSON.
#include "text.h"

#include <cstdint>
#include <cstdio>

namespace Talvoren {

namespace {

void AppendUtf8(std::string &out, std::uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

}  // namespace

bool IsValidUtf8(const std::string &text) {
    std::size_t position = 0;
    while (position < text.size()) {
        unsigned char lead = static_cast<unsigned char>(text[position]);
        std::size_t followers;
        std::uint32_t codePoint;
        if (lead < 0x80) {
            ++position;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            followers = 1;
            codePoint = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            followers = 2;
            codePoint = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            followers = 3;
            codePoint = lead & 0x07;
        } else {
            return false;
        }
        if (position + followers >= text.size()) return false;
        for (std::size_t index = 1; index <= followers; ++index) {
            unsigned char follower = static_cast<unsigned char>(text[position + index]);
            if ((follower & 0xC0) != 0x80) return false;
            codePoint = (codePoint << 6) | (follower & 0x3F);
        }
        // Reject overlong forms, surrogates and values past U+10FFFF.
        if ((followers == 2 && codePoint < 0x800) || (followers == 3 && codePoint < 0x10000) ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF)
            return false;
        position += followers + 1;
    }
    return true;
}

// A song string for a person to read on a terminal: kept as it is when it is
// valid UTF-8, otherwise each byte taken as a Latin-1 character. Control
// characters (C0, DEL and C1) are shown as \xNN so that they cannot disturb
// the terminal.
std::string DisplayText(const std::string &text) {
    const bool utf8 = IsValidUtf8(text);
    std::string out;
    for (std::size_t index = 0; index < text.size(); ++index) {
        unsigned char byte = static_cast<unsigned char>(text[index]);
        // In UTF-8 the C1 controls U+0080 to U+009F are 0xC2 0x80 to 0xC2 0x9F.
        bool utf8Control = utf8 && byte == 0xC2 && index + 1 < text.size() &&
                           static_cast<unsigned char>(text[index + 1]) < 0xA0;
        if (utf8Control) byte = static_cast<unsigned char>(text[++index]);
        if (byte < 0x20 || byte == 0x7F || utf8Control || (!utf8 && byte >= 0x80 && byte < 0xA0)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            out += escape;
        } else if (byte < 0x80 || utf8) {
            out += static_cast<char>(byte);
        } else {
            AppendUtf8(out, byte);
        }
    }
    return out;
}

// A song string as a JSON string literal. Each byte becomes the Unicode code
// point of the same value (the bytes read as Latin-1), so the original bytes
// come back exactly by encoding the decoded string as Latin-1.
std::string JsonString(const std::string &text) {
    std::string out = "\"";
    for (unsigned char byte : text) {
        switch (byte) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", byte);
                    out += escape;
                } else {
                    AppendUtf8(out, byte);
                }
        }
    }
    out += '"';
    return out;
}

// A string query's result in JSON: a string, or null for an absent string.
std::string JsonText(const char *text) { return text == nullptr ? "null" : JsonString(text); }

std::string JsonBool(int value) { return value ? "true" : "false"; }

std::string Number(long long value) { return std::to_string(value); }

// A path as given on the command line, for messages.
std::string DisplayPath(const std::filesystem::path &path) { return DisplayText(path.string()); }

std::size_t DisplayWidth(const std::string &text) {
    std::size_t width = 0;
    for (unsigned char byte : text)
        if ((byte & 0xC0) != 0x80) ++width;
    return width;
}

std::string CutToWidth(const std::string &text, std::size_t width) {
    if (DisplayWidth(text) <= width) return text;
    std::size_t columns = 0, cut = 0;
    while (cut < text.size() && columns < width) {
        ++cut;
        while (cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) ++cut;
        ++columns;
    }
    return text.substr(0, cut);
}

}  // namespace Talvoren
