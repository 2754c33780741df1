// FilterRecord.colorServices: pick a colour with the common colour dialog,
// convert between colour spaces, sample a pixel of the editor's image, or
// read the editor's foreground and background colours.
#pragma once
#include <cstdint>

#include "sdk/color_services.h"

// Answers 0, or -50 (null or unreadable record, unreadable sample point,
// dialog cancelled or failed), -30900 (record larger than ours, unserved
// space, unknown selector), -30903 (sample point outside the image), -109 or
// -108 (no running job, or the editor's image cannot be reached). Every
// refusal leaves the record untouched.
int16_t ColorServices(ColorServicesInfo* info);
