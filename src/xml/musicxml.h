// musicxml.h - the song as a MusicXML 4.0 score-partwise document: the song
// as written (strings and frets, durations, ties, repeats and endings,
// articulations and effects) for notation programs, beside the renderings
// that give its sound.
#ifndef TALVOREN_XML_MUSICXML_H
#define TALVOREN_XML_MUSICXML_H

#include <cstdint>

#include "gp/song.h"

namespace Talvoren {

// A document being written: bytes on the library's heap, grown as needed.
// After a refused allocation, or past the largest document, `failed` is set
// (and `tooLong` for the second) and nothing more is written.
struct XmlText {
    char *bytes;
    std::uint32_t size;
    std::uint32_t capacity;
    bool failed;
    bool tooLong;
};

// The largest document written: beyond it the export is refused as too long.
constexpr std::uint32_t largestMusicXmlBytes = 0x7FFFFFFF;

enum class MusicXmlOutcome : std::uint8_t { Written, TooLong, OutOfMemory };

// Writes the whole song into *text (which must start zeroed); on any outcome
// but Written the text has been released.
MusicXmlOutcome ToMusicXml(const FileStruct *file, XmlText *text);

}  // namespace Talvoren

#endif  // TALVOREN_XML_MUSICXML_H
