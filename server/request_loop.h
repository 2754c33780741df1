#pragma once

struct LoopState;

// Connects to the pipe named on the command line and serves requests until
// the conversation ends. False only when the pipe was not opened.
bool RunServer(const wchar_t* commandLine);

// Called once the loop has ended, before the loop's memory is released.
// Answers whether a job thread is still running.
bool AnyJobRunning(const LoopState* state);

// True when a job thread was still running as the loop ended: what it uses
// (image, catalogue entry, engine records) was left for the process's end.
bool JobRunningAtLoopEnd();
