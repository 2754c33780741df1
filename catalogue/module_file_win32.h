// The file system and loader edge of the PiPL reader: a module file read
// whole, and the trial load that decides a file without PiPLs.
#pragma once
#include <cstdint>

// False when the file cannot be opened. Otherwise *bytes gets the whole file
// in a fixed block (free it with FreeBlock; null when it could not be
// buffered, or fewer than nine tenths of its bytes arrived) and *size the
// bytes that arrived.
bool ReadModuleFile(const wchar_t* path, uint8_t** bytes, uint32_t* size);

// Whether the file loads as a module of this process, with no system error
// box. Its initialisation code runs.
bool TrialLoadModule(const wchar_t* path);
