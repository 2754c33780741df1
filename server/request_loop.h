#pragma once

struct LoopState;

// Connects to the pipe named on the command line and serves requests until
// the conversation ends. False only when the pipe was not opened.
bool RunServer(const wchar_t* commandLine);

// Called once the loop has ended, before the loop's memory is released.
// Answers whether a job thread is still running.
bool AnyJobRunning(const LoopState* state);

// Blocks the loop left allocated at its end because a job was still running.
int BlocksKeptForRunningJob();
