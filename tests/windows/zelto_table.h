/*
 * zelto_table.h - the library's exports as one record of typed function
 * pointers, plus their names, both expanded from include/zelto_exports.h.
 * The Windows host test fills the record from zelto.dll, its Linux
 * counterpart from libzelto, and both run the same song dump through it.
 */
#ifndef ZELTO_TESTS_WINDOWS_ZELTO_TABLE_H
#define ZELTO_TESTS_WINDOWS_ZELTO_TABLE_H

#include <stddef.h>

#include "zelto.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One pointer per export, with the result, parameters and calling
 * convention that the public header declares. */
typedef struct ZeltoFunctions {
#define ZELTO_EXPORT(group, result, name, parameters, argumentBytes) \
    result (ZELTO_CALL *name) parameters;
#include "zelto_exports.h"
#undef ZELTO_EXPORT
} ZeltoFunctions;

typedef struct ZeltoExportEntry {
    const char *group;          /* Lifecycle, Query or Midi */
    const char *plainName;      /* ZELTO_Load */
    const char *decoratedName;  /* ZELTO_Load@4 */
    unsigned argumentBytes;     /* bytes the callee removes from the stack */
    size_t slotOffset;          /* offset of its pointer in ZeltoFunctions */
} ZeltoExportEntry;

/* The entries in the order of the export table, and their number. */
extern const ZeltoExportEntry zeltoExportEntries[];
extern const unsigned zeltoExportCount;

/* Stores an address into the pointer slot of one entry. */
void ZeltoSetSlot(ZeltoFunctions *functions, const ZeltoExportEntry *entry, void (*address)(void));

#ifdef __cplusplus
}
#endif

#endif /* ZELTO_TESTS_WINDOWS_ZELTO_TABLE_H */
