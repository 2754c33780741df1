// Checks where Wine is known to differ from Windows, in the style of Wine's
// own todo_wine: under Wine the condition is expected to be false, and a true
// one fails the test, so the marker (and whatever works around the quirk)
// goes once Wine behaves as Windows does.
#pragma once
#include <windows.h>

#include "gtest/gtest.h"

inline bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// EXPECT_TODO_WINE(condition) << "what it means";
#define EXPECT_TODO_WINE(condition)                                                                        \
  switch (0)                                                                                               \
  case 0:                                                                                                  \
  default:                                                                                                 \
    if (const bool todoWineHolds = (condition); todoWineHolds != RunningUnderWine()) {                     \
    } else                                                                                                 \
      ADD_FAILURE() << (todoWineHolds ? "Wine now behaves as Windows does; drop the todo_wine marker: "    \
                                      : "expected true under Windows: ")                                   \
                    << #condition << ". "
