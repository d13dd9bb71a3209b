/*
 * host_test.c - a Windows host of zelto.dll, run under Wine: loads the DLL
 * at run time, checks its export table, names, ordinals and calling
 * convention, then dumps every query and MIDI export of a list of songs for
 * comparison with the Linux build.
 *
 *     host_test.exe SONG_DIRECTORY OUTPUT_DIRECTORY
 */
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "song_dump.h"
#include "zelto_table.h"

static unsigned checksPassed;
static unsigned checksFailed;

static void Check(int condition, const char *what, const char *name) {
    if (condition) {
        ++checksPassed;
        return;
    }
    ++checksFailed;
    fprintf(stderr, "FAILED: %s: %s\n", name, what);
}

/* ---- Calling through a thunk that watches the stack and the registers ---- */

/*
 * zelto_checked_call(function, arguments, argumentCount) pushes the
 * arguments right to left, calls the function and records, in the globals
 * below, the result, how many bytes of the stack the callee left behind
 * (zelto_checked_drift: 0 when it removed exactly its arguments, as the
 * standard calling convention requires; the argument bytes when it is a
 * caller-cleans function) and which of the registers a callee must preserve
 * (bits 1 EBX, 2 ESI, 4 EDI, 8 EBP) came back changed. The thunk itself
 * restores the stack and registers from its own copies, so a faulty callee
 * is reported instead of crashing the test.
 */
uint32_t CheckedCall(void *function, const uint32_t *arguments, uint32_t argumentCount)
    __asm__("zelto_checked_call");
uint32_t checkedFrame __asm__("zelto_checked_frame");
uint32_t checkedStack __asm__("zelto_checked_stack");
uint32_t checkedTarget __asm__("zelto_checked_target");
uint32_t checkedResult __asm__("zelto_checked_result");
uint32_t checkedDrift __asm__("zelto_checked_drift");
uint32_t checkedRegisters __asm__("zelto_checked_registers");

__asm__(
    ".text\n"
    ".p2align 4\n"
    ".globl zelto_checked_call\n"
    "zelto_checked_call:\n"
    "    pushl %ebp\n"
    "    movl  %esp, %ebp\n"
    "    pushl %ebx\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    movl  %ebp, zelto_checked_frame\n"
    "    movl  8(%ebp), %eax\n"
    "    movl  %eax, zelto_checked_target\n"
    "    movl  12(%ebp), %edx\n"
    "    movl  16(%ebp), %ecx\n"
    "    movl  %esp, zelto_checked_stack\n"
    "1:  testl %ecx, %ecx\n"
    "    jz    2f\n"
    "    decl  %ecx\n"
    "    pushl (%edx,%ecx,4)\n"
    "    jmp   1b\n"
    "2:  movl  $0x0B0B0B0B, %ebx\n"
    "    movl  $0x51515151, %esi\n"
    "    movl  $0xD1D1D1D1, %edi\n"
    "    movl  $0xEBEBEBEB, %ebp\n"
    "    call  *zelto_checked_target\n"
    "    movl  %eax, zelto_checked_result\n"
    "    movl  zelto_checked_stack, %ecx\n"
    "    subl  %esp, %ecx\n"
    "    movl  %ecx, zelto_checked_drift\n"
    "    xorl  %ecx, %ecx\n"
    "    cmpl  $0x0B0B0B0B, %ebx\n"
    "    je    3f\n"
    "    orl   $1, %ecx\n"
    "3:  cmpl  $0x51515151, %esi\n"
    "    je    4f\n"
    "    orl   $2, %ecx\n"
    "4:  cmpl  $0xD1D1D1D1, %edi\n"
    "    je    5f\n"
    "    orl   $4, %ecx\n"
    "5:  cmpl  $0xEBEBEBEB, %ebp\n"
    "    je    6f\n"
    "    orl   $8, %ecx\n"
    "6:  movl  %ecx, zelto_checked_registers\n"
    "    movl  zelto_checked_stack, %esp\n"
    "    movl  zelto_checked_frame, %ebp\n"
    "    popl  %edi\n"
    "    popl  %esi\n"
    "    popl  %ebx\n"
    "    popl  %ebp\n"
    "    movl  zelto_checked_result, %eax\n"
    "    ret\n");

static uint32_t __stdcall CalleeRemovesArguments(uint32_t first, uint32_t second) {
    return first * 10 + second;
}

static uint32_t __cdecl CallerRemovesArguments(uint32_t first, uint32_t second) {
    return first * 10 + second;
}

static uint32_t __stdcall SkipsOneArgument(uint32_t first) { return first; }

/* A function that breaks the rules by changing EBX, which it must preserve. */
void ClobbersEbx(void) __asm__("zelto_clobbers_ebx");
__asm__(
    ".text\n"
    "zelto_clobbers_ebx:\n"
    "    movl  $7, %ebx\n"
    "    ret\n");

/* The address of a local function, for the thunk; void (*)(void) converts
 * from any function type without a warning. */
static void *AddressOf(void (*function)(void)) {
    void *address;
    memcpy(&address, &function, sizeof address);
    return address;
}

/* The thunk must tell the conventions apart, or a passing run proves nothing. */
static void CheckTheThunk(void) {
    const uint32_t arguments[2] = {3, 4};
    uint32_t result;

    result = CheckedCall(AddressOf((void (*)(void))CalleeRemovesArguments), arguments, 2);
    Check(result == 34 && checkedDrift == 0 && checkedRegisters == 0,
          "a callee-cleans function passes, with its arguments in order", "thunk");

    result = CheckedCall(AddressOf((void (*)(void))CallerRemovesArguments), arguments, 2);
    Check(result == 34 && checkedDrift == 8, "a caller-cleans function shows 8 bytes left on the stack", "thunk");

    /* A one-argument function called with two: it removes 4 bytes too few. */
    result = CheckedCall(AddressOf((void (*)(void))SkipsOneArgument), arguments, 2);
    Check(result == 3 && checkedDrift == 4, "a wrong argument count shows as drift", "thunk");

    CheckedCall(AddressOf(ClobbersEbx), arguments, 0);
    Check(checkedDrift == 0 && checkedRegisters == 1, "a changed EBX is reported", "thunk");
}

/* ---- The export table of the loaded DLL ---- */

static int CompareEntriesByPlainName(const void *left, const void *right) {
    const ZeltoExportEntry *const *leftEntry = (const ZeltoExportEntry *const *)left;
    const ZeltoExportEntry *const *rightEntry = (const ZeltoExportEntry *const *)right;
    return strcmp((*leftEntry)->plainName, (*rightEntry)->plainName);
}

/* Entries sorted byte-wise by plain name: the plain name of sorted[r] has
 * ordinal 2r + 1, its decorated twin 2r + 2. */
static const ZeltoExportEntry *sortedEntries[256];

static void SortEntries(void) {
    unsigned position;
    for (position = 0; position < zeltoExportCount; ++position) sortedEntries[position] = &zeltoExportEntries[position];
    qsort(sortedEntries, zeltoExportCount, sizeof sortedEntries[0], CompareEntriesByPlainName);
}

static unsigned ExpectedOrdinal(const char *exportName) {
    unsigned rank;
    for (rank = 0; rank < zeltoExportCount; ++rank) {
        if (strcmp(exportName, sortedEntries[rank]->plainName) == 0) return 2 * rank + 1;
        if (strcmp(exportName, sortedEntries[rank]->decoratedName) == 0) return 2 * rank + 2;
    }
    return 0;
}

/* Walks the export directory as the loader mapped it: the DLL's name, the
 * ordinal base, no export beyond the 2 x 48 names, and the ordinal of every
 * name. */
static void CheckExportDirectory(HMODULE module) {
    const unsigned char *base = (const unsigned char *)module;
    const IMAGE_DOS_HEADER *dosHeader = (const IMAGE_DOS_HEADER *)base;
    const IMAGE_NT_HEADERS32 *ntHeaders = (const IMAGE_NT_HEADERS32 *)(base + dosHeader->e_lfanew);
    const IMAGE_DATA_DIRECTORY *directory = &ntHeaders->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const IMAGE_EXPORT_DIRECTORY *exports = (const IMAGE_EXPORT_DIRECTORY *)(base + directory->VirtualAddress);
    const DWORD *nameAddresses;
    const WORD *nameOrdinals;
    DWORD position;

    Check(ntHeaders->FileHeader.Machine == IMAGE_FILE_MACHINE_I386, "the DLL is 32-bit x86 code", "zelto.dll");
    Check(ntHeaders->FileHeader.Characteristics & IMAGE_FILE_DLL, "the file is marked as a DLL", "zelto.dll");
    Check(directory->VirtualAddress != 0, "the DLL has an export directory", "zelto.dll");
    if (directory->VirtualAddress == 0) return;
    Check(strcmp((const char *)(base + exports->Name), "zelto.dll") == 0, "the export name is zelto.dll",
          "zelto.dll");
    Check(exports->Base == 1, "ordinals start at 1", "zelto.dll");
    Check(exports->NumberOfFunctions == 2 * zeltoExportCount, "exactly two ordinals per function", "zelto.dll");
    Check(exports->NumberOfNames == 2 * zeltoExportCount, "exactly two names per function", "zelto.dll");

    nameAddresses = (const DWORD *)(base + exports->AddressOfNames);
    nameOrdinals = (const WORD *)(base + exports->AddressOfNameOrdinals);
    for (position = 0; position < exports->NumberOfNames; ++position) {
        const char *exportName = (const char *)(base + nameAddresses[position]);
        unsigned expected = ExpectedOrdinal(exportName);
        Check(expected != 0, "is one of the table's plain or decorated names", exportName);
        Check(exports->Base + nameOrdinals[position] == expected,
              "has the ordinal of its byte-wise rank (plain odd, decorated even)", exportName);
    }
}

/* Both names of every function resolve to one address, and so do its two
 * ordinals; fills the function record from the plain names. */
static void ResolveEveryName(HMODULE module, ZeltoFunctions *functions) {
    unsigned rank;
    for (rank = 0; rank < zeltoExportCount; ++rank) {
        const ZeltoExportEntry *entry = sortedEntries[rank];
        FARPROC plain = GetProcAddress(module, entry->plainName);
        FARPROC decorated = GetProcAddress(module, entry->decoratedName);
        FARPROC plainOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(2 * rank + 1));
        FARPROC decoratedOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(2 * rank + 2));
        Check(plain != NULL, "the plain name resolves", entry->plainName);
        Check(decorated != NULL, "the decorated name resolves", entry->decoratedName);
        Check(plain == decorated, "plain and decorated names reach the same code", entry->plainName);
        Check(plainOrdinal == plain, "the odd ordinal reaches the same code as the plain name", entry->plainName);
        Check(decoratedOrdinal == plain, "the even ordinal reaches the same code as the plain name",
              entry->decoratedName);
        ZeltoSetSlot(functions, entry, (void (*)(void))plain);
    }
    Check(GetProcAddress(module, MAKEINTRESOURCEA(2 * zeltoExportCount + 1)) == NULL,
          "no ordinal beyond the last", "zelto.dll");
    Check(GetProcAddress(module, "DllMain") == NULL && GetProcAddress(module, "DllMain@12") == NULL &&
              GetProcAddress(module, "_ZELTO_Load@4") == NULL,
          "nothing but the table's names is exported", "zelto.dll");
}

/* ---- Calling convention of every export ---- */

/*
 * Calls every function of the wanted groups through the thunk with valid
 * arguments: index 0, a path that does not exist, addresses of host
 * variables for the export. Every one must remove exactly its declared
 * argument bytes and preserve the callee-saved registers.
 */
static void CheckCallingConvention(HMODULE module, const ZeltoFunctions *functions, int withSongLoaded) {
    static const char missingPath[] = "no such directory/no such song.gp4";
    unsigned position;
    for (position = 0; position < zeltoExportCount; ++position) {
        const ZeltoExportEntry *entry = &zeltoExportEntries[position];
        uint32_t arguments[2] = {0, 0};
        unsigned char *buffer = NULL;
        uint32_t size = 0;
        uint32_t result;
        void *address = (void *)GetProcAddress(module, entry->decoratedName);
        char what[160];

        /* Init would orphan the loaded song, and the others would change the state. */
        if (withSongLoaded && strcmp(entry->group, "Lifecycle") == 0) continue;
        if (address == NULL) continue;
        if (strcmp(entry->plainName, "ZELTO_Load") == 0) arguments[0] = (uint32_t)(uintptr_t)missingPath;
        if (strcmp(entry->plainName, "ZELTO_CreateMidiBuffer") == 0) {
            arguments[0] = (uint32_t)(uintptr_t)&buffer;
            arguments[1] = (uint32_t)(uintptr_t)&size;
        }
        result = CheckedCall(address, arguments, entry->argumentBytes / 4);
        snprintf(what, sizeof what, "removes its %u argument bytes (left %d)%s", entry->argumentBytes,
                 (int)checkedDrift, withSongLoaded ? " with a song loaded" : "");
        Check(checkedDrift == 0, what, entry->decoratedName);
        snprintf(what, sizeof what, "preserves EBX, ESI, EDI and EBP (changed mask %u)%s", (unsigned)checkedRegisters,
                 withSongLoaded ? " with a song loaded" : "");
        Check(checkedRegisters == 0, what, entry->decoratedName);
        if (strcmp(entry->plainName, "ZELTO_Load") == 0)
            Check(result == 0, "a missing file does not load", entry->plainName);
        if (buffer != NULL) functions->ZELTO_DestroyMidiBuffer(buffer);
    }
}

/* Loads the first song of the list that the library accepts. */
static int LoadFirstSong(const ZeltoFunctions *functions, const char *songDirectory) {
    char path[1024], line[512];
    FILE *list;
    int loaded = 0;
    snprintf(path, sizeof path, "%s/songs.txt", songDirectory);
    list = fopen(path, "rb");
    if (list == NULL) return 0;
    while (!loaded && fgets(line, sizeof line, list) != NULL) {
        line[strcspn(line, "\r\n")] = 0;
        if (line[0] == 0 || line[0] == '#') continue;
        snprintf(path, sizeof path, "%s/%s", songDirectory, line);
        loaded = functions->ZELTO_Load(path);
    }
    fclose(list);
    return loaded;
}

int main(int argumentCount, char **arguments) {
    HMODULE module;
    ZeltoFunctions functions;
    int dumpFailures;

    if (argumentCount != 3) {
        fprintf(stderr, "usage: host_test SONG_DIRECTORY OUTPUT_DIRECTORY\n");
        return 2;
    }
    if (zeltoExportCount > sizeof sortedEntries / sizeof sortedEntries[0]) {
        fprintf(stderr, "host_test: the export table has more entries than this test can sort\n");
        return 2;
    }
    memset(&functions, 0, sizeof functions);
    SortEntries();
    CheckTheThunk();

    module = LoadLibraryA("zelto.dll");
    if (module == NULL) {
        fprintf(stderr, "host_test: LoadLibrary(\"zelto.dll\") failed with error %lu\n",
                (unsigned long)GetLastError());
        return 1;
    }
    CheckExportDirectory(module);
    ResolveEveryName(module, &functions);
    if (checksFailed != 0) {
        fprintf(stderr, "host_test: the export table is wrong; not calling into the DLL\n");
        fprintf(stderr, "host_test: %u checks passed, %u failed\n", checksPassed, checksFailed);
        return 1;
    }

    CheckCallingConvention(module, &functions, 0);
    if (checksFailed == 0) {
        dumpFailures = ZeltoDumpSongList(&functions, arguments[1], arguments[2]);
        Check(dumpFailures == 0, "every song was dumped and exported twice alike", "song dump");

        functions.ZELTO_Init();
        Check(LoadFirstSong(&functions, arguments[1]), "a song of the list loads", "ZELTO_Load");
        CheckCallingConvention(module, &functions, 1);
        functions.ZELTO_Unload();
    }

    /* The song, if one were still loaded, would not be released by unloading the DLL. */
    Check(FreeLibrary(module) != 0, "the DLL unloads", "zelto.dll");
    printf("host_test: %u checks passed, %u failed\n", checksPassed, checksFailed);
    return checksFailed == 0 ? 0 : 1;
}
