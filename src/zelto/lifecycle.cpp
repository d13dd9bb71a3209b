// lifecycle.cpp - the global song and the four exports that set it up, fill
// it from a file and release it.
#include <cstdio>

#include "heap.h"
#include "zelto.h"
#include "zelto/global.h"

namespace Talvoren {

FileStruct *theFileStruct = nullptr;

}  // namespace Talvoren

using namespace Talvoren;

extern "C" {

ZELTO_API void ZELTO_CALL ZELTO_Init(void) { theFileStruct = nullptr; }

ZELTO_API int ZELTO_CALL ZELTO_Load(const char *path) {
    if (theFileStruct != nullptr || path == nullptr) return 0;

    std::FILE *stream = std::fopen(path, "rb");
    if (stream == nullptr) return 0;

    theFileStruct = static_cast<FileStruct *>(MemAlloc(sizeof(FileStruct)));
    if (theFileStruct == nullptr) {
        std::fclose(stream);
        return 0;
    }
    if (!LoadFileStruct(theFileStruct, stream)) {
        MemFree(theFileStruct);
        theFileStruct = nullptr;
        std::fclose(stream);
        return 0;
    }
    std::fclose(stream);
    return 1;
}

ZELTO_API void ZELTO_CALL ZELTO_Unload(void) {
    if (theFileStruct == nullptr) return;
    FreeFileStruct(theFileStruct);
    MemFree(theFileStruct);
    theFileStruct = nullptr;
}

ZELTO_API void ZELTO_CALL ZELTO_Free(void) {
    if (theFileStruct != nullptr) ZELTO_Unload();
}

}  // extern "C"
