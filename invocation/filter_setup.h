#pragma once
#include <cstdint>

struct PluginCall;
struct TileExchange;

// Builds the FilterRecord and its companions for the call's job and copies
// the editor's image into the call's working image. Answers 0 on failure.
int SetUpFilterRecord(PluginCall* call);
// Lets go of the working image; its memory is kept for the next job.
void ReleaseWorkingCopy(TileExchange* tiles);

// Resolution in 16.16 fixed point, rounded to the nearest 1/65536.
int32_t FixedFromResolution(double resolution);
