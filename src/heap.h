// heap.h - the library's one allocate/release quartet. Every heap block the
// library makes or releases goes through these, so that a test build can
// fail any chosen allocation and count the blocks still live.
#ifndef TALVOREN_HEAP_H
#define TALVOREN_HEAP_H

#include <cstddef>
#include <cstdint>

namespace Talvoren {

void *MemAlloc(std::size_t size);
void *MemCalloc(std::size_t count, std::size_t size);
void *MemRealloc(void *block, std::size_t size);
void MemFree(void *block);

// Doubles an array of elements of elementSize bytes held in *block (to
// firstCapacity elements when it holds none): 1 with *block and *capacity
// updated; 0, with both unchanged, when the new size would pass 0x7FFFFFFF
// bytes or cannot be had.
inline int MemGrowArray(void **block, std::uint32_t *capacity, std::size_t elementSize, std::uint32_t firstCapacity) {
    const std::uint64_t grown = *capacity == 0 ? firstCapacity : std::uint64_t{*capacity} * 2;
    if (grown * elementSize > 0x7FFFFFFF) return 0;
    void *moved = MemRealloc(*block, static_cast<std::size_t>(grown * elementSize));
    if (moved == nullptr) return 0;
    *block = moved;
    *capacity = static_cast<std::uint32_t>(grown);
    return 1;
}

}  // namespace Talvoren

#endif  // TALVOREN_HEAP_H
