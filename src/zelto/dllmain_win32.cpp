// dllmain_win32.cpp - the entry point of zelto.dll. The library needs no
// per-process or per-thread set-up, so every notification reports success;
// unloading the DLL leaves a still-loaded song alone.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
