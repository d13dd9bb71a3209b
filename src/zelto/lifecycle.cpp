// lifecycle.cpp - the global song and the four exports that set it up, fill
// it from a file and release it.
#include "zelto.h"
#include "zelto/global.h"
#include "zelto/song_access.h"
#include "zelto_song.h"

namespace Talvoren {

FileStruct *theFileStruct = nullptr;

}  // namespace Talvoren

using namespace Talvoren;

extern "C" {

ZELTO_API void ZELTO_CALL ZELTO_Init(void) { theFileStruct = nullptr; }

ZELTO_API int ZELTO_CALL ZELTO_Load(const char *path) {
    if (theFileStruct != nullptr || path == nullptr) return 0;
    return OpenSongFile(path, &theFileStruct) == ZELTO_SONG_OK ? 1 : 0;
}

ZELTO_API void ZELTO_CALL ZELTO_Unload(void) {
    CloseSongFile(theFileStruct);
    theFileStruct = nullptr;
}

ZELTO_API void ZELTO_CALL ZELTO_Free(void) {
    if (theFileStruct != nullptr) ZELTO_Unload();
}

}  // extern "C"
