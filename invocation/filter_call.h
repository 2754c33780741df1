#pragma once
#include <cstdint>

struct JobRecord;
struct PluginEntry;

// Runs a filter plug-in over the job's image: Parameters, Prepare, Start,
// Continue until the plug-in asks for nothing more, Finish. Answers 1 when the
// sequence ended with result 0; resultCode and message say how it went.
int RunFilterCall(JobRecord* job, PluginEntry* entry);
// True when the plug-in asks for no more image area.
bool RequestsExhausted();
