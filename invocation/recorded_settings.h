// The settings a Filter call starts from and those it leaves behind: what
// set-up offers the plug-in for the job's start mode, and what the end of the
// call records of the plug-in's descriptor and parameters.
#pragma once

struct JobRecord;
struct PluginEntry;
struct PluginRecords;

// The plain and the dialog starts send the Parameters selector; a replay
// never does.
bool SendsParametersSelector(const JobRecord* job);
// Sets playInfo for the start mode and hands the plug-in the replayed
// descriptor and parameters in fresh handles. False when a handle cannot be
// had.
bool OfferSettings(const JobRecord* job, PluginRecords* records);
// Records the plug-in's name and entry point, the descriptor it left and the
// bytes of its parameters handle as a settings block in job->recorded (null
// when memory runs out), and disposes of the descriptor handle it left when
// that is one of ours. The parameters handle is left to the caller.
void RecordSettings(JobRecord* job, const PluginEntry* entry, PluginRecords* records);
