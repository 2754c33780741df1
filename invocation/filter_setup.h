#pragma once
#include <cstdint>

struct JobRecord;

// Builds the FilterRecord and its companions for the job and copies the
// editor's image into the working image. Answers 0 on failure.
int SetUpFilterRecord(JobRecord* job);

// Resolution in 16.16 fixed point, rounded to the nearest 1/65536.
int32_t FixedFromResolution(double resolution);
