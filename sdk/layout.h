// The build's pointer width, for the layout checks of the published records:
// every check states the offset of both builds, e.g. (PH64 ? 88 : 76).
#pragma once

constexpr bool PH64 = sizeof(void*) == 8;
