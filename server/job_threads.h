// What the About and Filter requests share: job threads and their states.
#pragma once
#include <cstdint>

struct LoopState;
struct JobSlot;

using JobThreadMain = unsigned long(__stdcall*)(void* record);

// True while the slot's thread has not ended (its exit code is still
// STILL_ACTIVE), whether or not its handle has been polled away.
bool JobThreadRunning(const JobSlot* slot);
// A start while any job runs is refused: the jobs share the plug-in records,
// the current directory and the catalogue entry they were started with.
// Answers true (and sets ST_THREAD_FAILED with its text) when refused.
bool RefuseStartWhileBusy(LoopState* state);
// Closes the handle of a job that has ended but was never polled.
void ForgetEndedJob(JobSlot* slot);
// Creates the job thread at normal priority, its wake-ups cleared. False
// when it could not be made, with ST_THREAD_FAILED and a text that gives the
// system's error code.
bool StartJobThread(LoopState* state, JobSlot* slot, JobThreadMain main);
// Fills the poll reply from the work copy, or sets ST_NO_MEMORY.
bool AttachPollReply(LoopState* state, JobSlot* slot);
