// The text and job result code the editor sees for a plug-in's failing result.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t RESULT_TEXT_UNITS = 512;

// Job result codes, by group.
constexpr uint32_t JOB_RESULT_PLUGIN_FAILED = 1;
constexpr uint32_t JOB_RESULT_FILE_ERROR = 2;
constexpr uint32_t JOB_RESULT_NO_MEMORY = 3;
constexpr uint32_t JOB_RESULT_HOST_INSUFFICIENT = 5;
constexpr uint32_t JOB_RESULT_BAD_PARAMETER = 6;
constexpr uint32_t JOB_RESULT_CANCELLED = 13;
constexpr uint32_t JOB_RESULT_UNKNOWN = 15;

// Fills text (RESULT_TEXT_UNITS units, always terminated, cut at 511) and,
// when given, *jobResultCode. The missing service name and the plug-in's own
// error string come from the process-wide records. Always answers 1.
int DescribePluginResult(int32_t result, wchar_t* text, uint32_t* jobResultCode);

// The same with both inserted texts given (8-bit, system code page; either
// may be null). The error string is a Str255 whose length byte is skipped.
int DescribePluginResultWith(int32_t result, const char* missingServiceName, const uint8_t* errorString,
                             wchar_t* text, uint32_t* jobResultCode);
