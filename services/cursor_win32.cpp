#include <windows.h>

#include "services/host_services.h"

SPErr SetCursorByName(const char* cursorID) {
  uint16_t id = SystemCursorForName(cursorID);
  // No name asks for no cursor at all.
  SetCursor(id == 0 ? nullptr : LoadCursorW(nullptr, MAKEINTRESOURCEW(id)));
  return kSPNoError;
}
