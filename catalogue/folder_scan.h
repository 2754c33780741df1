// Walks a folder tree depth-first, following shortcuts to folders, and reads
// every ".8bf" file into a catalogue, within a 45-second budget.
#pragma once
#include <cstdint>

struct PluginCatalog;

constexpr double SCAN_BUDGET_SECONDS = 45.0;
// Folders below the scanned one, shortcuts included. Natural trees stay far
// above this; it stops junction loops and shortcut cycles the visited check
// cannot recognise (other spellings of the same folder).
constexpr uint32_t SCAN_MAX_DEPTH = 64;

// A fresh catalogue (free it with FreeBlock), or null when nothing was found,
// the walk could not start or no block could be allocated.
PluginCatalog* ScanPluginFolder(const wchar_t* folder);
// The sum of the reader's answers for the folder and everything below it.
uint32_t ScanFolder(PluginCatalog* catalog, const wchar_t* folder, double budgetSeconds);

bool IsExistingFolder(const wchar_t* path);
bool IsShortcutPath(const wchar_t* path);
// target needs 520 units.
bool ResolveShortcut(wchar_t* target, const wchar_t* link);

// Path editing in 520-unit buffers.
bool JoinPath(wchar_t* base, const wchar_t* rel);
bool RemoveLastComponent(wchar_t* path);
bool StripTrailingSeparators(wchar_t* path);
