// Loads a catalogue entry's module with its own folder as the current
// directory and finds its entry point by name or by "#" ordinal.
#pragma once
#include <cstdint>

#include "sdk/basic_types.h"

struct PluginEntry;

constexpr const wchar_t* kLoadingErrorTitle = L"8BF Loading Error";
constexpr const wchar_t* kEntryPointNotFoundText = L"The entry-point for the plug-in was not found";

// The entry point, or null after showing an "8BF Loading Error" box owned by
// ownerWindow. On success *moduleOut (optional; cleared first) holds the module,
// which the caller frees with FreeLibrary. The entry's entryPoint is trimmed in
// place.
PluginEntryProc LoadPluginEntryPoint(uintptr_t ownerWindow, PluginEntry* entry, void** moduleOut);

