#include <windows.h>

#include <thread>
#include <vector>

#include "engine/escape_key.h"
#include "gtest/gtest.h"
#include "tests/support/display.h"
#include "tests/support/todo_wine.h"

TEST(EscapeWatch, OnlyAPressThatBeganDuringTheJobCancels) {
  struct Row {
    const char* name;
    uint16_t atStart;
    std::vector<uint16_t> reads;
    std::vector<bool> cancels;
  };
  const Row rows[] = {
      {"never pressed", 0x0000, {0x0000, 0x0000}, {false, false}},
      {"pressed during the job, then released", 0x0000, {0x8001, 0x8000, 0x0000}, {true, true, false}},
      {"pressed and released between two reads", 0x0000, {0x0001, 0x0000}, {false, false}},
      {"down from before and never seen released", 0x8000, {0x8000, 0x8000}, {false, false}},
      {"a press reported at the start is from before", 0x8001, {0x8000}, {false}},
      {"down from before, released, pressed again", 0x8000, {0x8000, 0x0000, 0x8001}, {false, false, true}},
      {"down from before, pressed again unseen released", 0x8000, {0x8001, 0x8000}, {true, true}},
      {"released, then down with the press read by another", 0x8000, {0x0000, 0x8000}, {false, true}},
  };
  for (const Row& row : rows) {
    EscapeWatch watch{!row.atStart};  // the opposite of what the start must leave
    EscapeWatchStart(&watch, row.atStart);
    for (size_t i = 0; i < row.reads.size(); ++i)
      EXPECT_EQ(row.cancels[i], EscapeWatchCancels(&watch, row.reads[i]))
          << row.name << ", read " << i << ": expected " << (row.cancels[i] ? "a cancel" : "none");
  }
}

// Run by tests/support/with-display on a virtual display, which answers the
// box with Escape.
TEST(EscapeKey, ReleasedAfterItClosedADialogOnAThreadThatEnded) {
  SKIP_UNLESS_ON_PRIVATE_DISPLAY() << "the box needs a display and a key press";
  char answered[MAX_PATH] = {};
  ASSERT_NE(0u, GetEnvironmentVariableA("PLUGHOST_DIALOGS_ANSWERED", answered, MAX_PATH));
  // As a plug-in's dialog on a job's thread, which ends after the box.
  int answer = 0;
  std::thread job([&] { answer = MessageBoxW(nullptr, L"Answer with Escape", L"Escape probe", MB_OKCANCEL); });
  job.join();
  ASSERT_EQ(IDCANCEL, answer);
  // The script says when the key is up again.
  bool released = false;
  for (int i = 0; i < 1200 && !released; ++i) {
    released = GetFileAttributesA(answered) != INVALID_FILE_ATTRIBUTES;
    if (!released) Sleep(50);
  }
  ASSERT_TRUE(released) << "expected word from the script within a minute";
  // Windows: up. Wine 8: still down (see engine/escape_key.cpp).
  EXPECT_TODO_WINE((static_cast<uint16_t>(GetAsyncKeyState(VK_ESCAPE)) & ESCAPE_DOWN) == 0)
      << "Escape read as down after the box it closed";
}
