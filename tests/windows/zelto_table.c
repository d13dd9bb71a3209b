/* zelto_table.c - the names and argument sizes of every export, from the export table. */
#include "zelto_table.h"

#include <string.h>

const ZeltoExportEntry zeltoExportEntries[] = {
#define ZELTO_EXPORT(group, result, name, parameters, argumentBytes) \
    {#group, #name, #name "@" #argumentBytes, argumentBytes, offsetof(ZeltoFunctions, name)},
#include "zelto_exports.h"
#undef ZELTO_EXPORT
};

const unsigned zeltoExportCount = sizeof zeltoExportEntries / sizeof zeltoExportEntries[0];

void ZeltoSetSlot(ZeltoFunctions *functions, const ZeltoExportEntry *entry, void (*address)(void)) {
    /* Every slot is a function pointer of the same size; copying the bytes
     * avoids casting between incompatible function types. */
    memcpy((char *)functions + entry->slotOffset, &address, sizeof address);
}
