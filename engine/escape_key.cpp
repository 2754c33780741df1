#include "engine/escape_key.h"

#include "engine/system_calls.h"

void EscapeWatchStart(EscapeWatch* watch, uint16_t keyState) {
  watch->heldFromBefore = (keyState & ESCAPE_DOWN) != 0;
}

bool EscapeWatchCancels(EscapeWatch* watch, uint16_t keyState) {
  if ((keyState & ESCAPE_DOWN) == 0 || (keyState & ESCAPE_PRESSED_SINCE) != 0) watch->heldFromBefore = false;
  return (keyState & ESCAPE_DOWN) != 0 && !watch->heldFromBefore;
}

// Windows keeps the asynchronous key state up to date whoever has the focus.
// Wine 8 updates it only when the thread owning the focused window reads that
// window's X events: when Escape closes a plug-in's dialog on its press, the
// job's thread leaves the dialog and ends before it reads the release, and
// the key stays down for every later reader until a Wine window takes the
// focus again. A job that starts then must not read it as a cancel.
static EscapeWatch gEscape;

void EscapeKeyJobStart() { EscapeWatchStart(&gEscape, static_cast<uint16_t>(osGetAsyncKeyState(VK_ESCAPE))); }

bool EscapeKeyCancels() { return EscapeWatchCancels(&gEscape, static_cast<uint16_t>(osGetAsyncKeyState(VK_ESCAPE))); }
