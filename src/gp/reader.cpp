// reader.cpp - placeholder song reader: loads nothing yet.
#include "gp/song.h"

#include <cstring>

namespace Talvoren {

int LoadFileStruct(FileStruct *file, std::FILE *) {
    std::memset(file, 0, sizeof *file);
    return 0;
}

void FreeFileStruct(FileStruct *) {}

}  // namespace Talvoren
