// heap.cpp - the C runtime's heap behind the library's allocate/release quartet.
#include "heap.h"

#include <cstdlib>

namespace Talvoren {

void *MemAlloc(std::size_t size) { return std::malloc(size); }

void *MemCalloc(std::size_t count, std::size_t size) { return std::calloc(count, size); }

void *MemRealloc(void *block, std::size_t size) { return std::realloc(block, size); }

void MemFree(void *block) { std::free(block); }

}  // namespace Talvoren
