// The Escape key as the user's cancel: a filter is cancelled by a press that
// began while its job ran, never by one that was already down when it began.
#pragma once
#include <cstdint>

// What GetAsyncKeyState answers: bit 15 the key is down, bit 0 it was pressed
// since the previous read by anyone.
constexpr uint16_t ESCAPE_DOWN = 0x8000;
constexpr uint16_t ESCAPE_PRESSED_SINCE = 0x0001;

struct EscapeWatch {
  bool heldFromBefore;  // down at the start, not yet seen released or pressed again
};

// The first read of a job. A press it reports happened before the job.
void EscapeWatchStart(EscapeWatch* watch, uint16_t keyState);
// Every later read: true when it cancels.
bool EscapeWatchCancels(EscapeWatch* watch, uint16_t keyState);

// The running filter's watch over the real key.
void EscapeKeyJobStart();
bool EscapeKeyCancels();
