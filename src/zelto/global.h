// global.h - the one song the library holds, shared by the exported functions.
#ifndef TALVOREN_ZELTO_GLOBAL_H
#define TALVOREN_ZELTO_GLOBAL_H

#include "gp/song.h"

namespace Talvoren {

// The loaded song, or null while none is loaded. Defined in lifecycle.cpp.
extern FileStruct *theFileStruct;

}  // namespace Talvoren

#endif  // TALVOREN_ZELTO_GLOBAL_H
