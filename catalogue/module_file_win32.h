// The file system and loader edge of the PiPL reader: a module file read
// whole, and the trial load that decides a file without PiPLs.
#pragma once
#include <cstdint>

// The system's error code when the file cannot be opened, else 0: *bytes then
// gets the whole file in a fixed block (free it with FreeBlock; null when it
// could not be buffered, or fewer than nine tenths of its bytes arrived) and
// *size the bytes that arrived.
uint32_t ReadModuleFile(const wchar_t* path, uint8_t** bytes, uint32_t* size);

// 0 when the file loads as a module of this process, else the loader's error
// code; no system error box either way. Its initialisation code runs.
uint32_t TrialLoadModule(const wchar_t* path);
