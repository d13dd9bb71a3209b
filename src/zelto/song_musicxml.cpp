// song_musicxml.cpp - the MusicXML export of a song handle (zelto_musicxml.h).
#include <cstdint>

#include "gp/convert.h"
#include "xml/musicxml.h"
#include "zelto_musicxml.h"

using namespace Talvoren;

extern "C" {

ZELTO_API int32_t ZELTO_SongCreateMusicXml(const ZELTO_Song *song, unsigned char **buffer, uint32_t *size) {
    if (buffer != nullptr) *buffer = nullptr;
    if (size != nullptr) *size = 0;
    if (song == nullptr || buffer == nullptr || size == nullptr) return ZELTO_SONG_INVALID_ARGUMENT;
    const FileStruct *file = reinterpret_cast<const FileStruct *>(song);
    if (!IsSongComplete(file)) return ZELTO_SONG_INVALID_ARGUMENT;
    XmlText text = {};
    switch (ToMusicXml(file, &text)) {
    case MusicXmlOutcome::Written: break;
    case MusicXmlOutcome::TooLong: return ZELTO_SONG_TOO_LONG;
    case MusicXmlOutcome::OutOfMemory: return ZELTO_SONG_OUT_OF_MEMORY;
    }
    *buffer = reinterpret_cast<unsigned char *>(text.bytes);
    *size = text.size;
    return ZELTO_SONG_OK;
}

}  // extern "C"
