// Helpers that check take the line that called them, so that a failure inside
// names the test's line as well as the helper's: a last parameter
// `CallerLine caller = CallerLine::current()`, taken where the call is written,
// and TRACE_CALLER(caller) as the helper's first statement.
#pragma once
#include <source_location>

#include "gtest/gtest.h"

using CallerLine = std::source_location;

#define TRACE_CALLER(caller) \
  const ::testing::ScopedTrace callerTrace((caller).file_name(), static_cast<int>((caller).line()), "called from here")
