#pragma once
#include <cstdint>

struct JobRecord;
struct PluginEntry;

// Loads the plug-in, sends it the About selector and unloads it. Answers 1
// when the entry point was called, 0 when the module or its entry point was
// not available; resultCode and message say how it went.
int RunAboutCall(JobRecord* job, PluginEntry* entry);
