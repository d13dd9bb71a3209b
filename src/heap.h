// heap.h - the library's one allocate/release quartet. Every heap block the
// library makes or releases goes through these, so that a test build can
// fail any chosen allocation and count the blocks still live.
#ifndef TALVOREN_HEAP_H
#define TALVOREN_HEAP_H

#include <cstddef>

namespace Talvoren {

void *MemAlloc(std::size_t size);
void *MemCalloc(std::size_t count, std::size_t size);
void *MemRealloc(void *block, std::size_t size);
void MemFree(void *block);

}  // namespace Talvoren

#endif  // TALVOREN_HEAP_H
