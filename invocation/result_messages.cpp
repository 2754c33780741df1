#include "invocation/result_messages.h"

#include "call/plugin_records.h"
#include "sdk/basic_types.h"
#include "base/guard.h"
#include "base/text.h"
#include "services/host_services.h"

namespace {

enum Insert : uint8_t { INSERT_NONE, INSERT_MISSING_SERVICE, INSERT_ERROR_STRING };

struct ResultRow {
  int32_t result;
  const wchar_t* text;  // a format only where insert says so
  Insert insert;
  uint32_t jobResultCode;
};

const ResultRow kResults[] = {
    {readErr, L"Error reading from the specified file", INSERT_NONE, JOB_RESULT_FILE_ERROR},
    {writErr, L"Error writing to the specified file", INSERT_NONE, JOB_RESULT_FILE_ERROR},
    {openErr, L"Error opening the specified file", INSERT_NONE, JOB_RESULT_FILE_ERROR},
    {dskFulErr, L"The target disk is full", INSERT_NONE, JOB_RESULT_FILE_ERROR},
    {ioErr, L"General/unknown disk I/O error", INSERT_NONE, JOB_RESULT_FILE_ERROR},
    {eofErr, L"Unexpected end-of-file encountered", INSERT_NONE, JOB_RESULT_FILE_ERROR},
    {fnfErr, L"The specified file was not found", INSERT_NONE, JOB_RESULT_FILE_ERROR},
    {fLckdErr, L"Access to specified resource denied", INSERT_NONE, JOB_RESULT_FILE_ERROR},
    {vLckdErr, L"Access to specified resource denied", INSERT_NONE, JOB_RESULT_FILE_ERROR},
    {paramErr, L"Invalid parameter detected", INSERT_NONE, JOB_RESULT_BAD_PARAMETER},
    {memFullErr, L"Out of memory", INSERT_NONE, JOB_RESULT_NO_MEMORY},
    {nilHandleErr, L"Null handle encountered", INSERT_NONE, JOB_RESULT_BAD_PARAMETER},
    {memWZErr, L"Memory WZ error", INSERT_NONE, JOB_RESULT_BAD_PARAMETER},
    {userCanceledErr, L"Cancelled by user", INSERT_NONE, JOB_RESULT_CANCELLED},
    {filterBadParameters, L"Invalid parameters passed", INSERT_NONE, JOB_RESULT_BAD_PARAMETER},
    {filterBadMode, L"Unsupported image mode", INSERT_NONE, JOB_RESULT_BAD_PARAMETER},
    {errPlugInHostInsufficient, L"Host service not available: %ls", INSERT_MISSING_SERVICE,
     JOB_RESULT_HOST_INSUFFICIENT},
    {errPlugInPropertyUndefined, L"Undefined plug-in property", INSERT_NONE, JOB_RESULT_BAD_PARAMETER},
    {errReportString, L"Internal Error: %ls", INSERT_ERROR_STRING, JOB_RESULT_PLUGIN_FAILED},
    {errHostVersionIncompatible, L"Unsupported Photoshop version", INSERT_NONE, JOB_RESULT_HOST_INSUFFICIENT},
    {PLUGIN_CRASHED, L"The plug-in has encountered an error and crashed", INSERT_NONE, JOB_RESULT_PLUGIN_FAILED},
    {PLUGIN_NEEDS_32BIT_COORDINATES,
     L"The image is too large for this plug-in: it cannot address a side over 32767 pixels", INSERT_NONE,
     JOB_RESULT_BAD_PARAMETER},
};

// Inserted texts are converted into at most this many units.
constexpr size_t INSERT_UNITS = 272;

const ResultRow* FindResult(int32_t result) {
  for (const ResultRow& row : kResults)
    if (row.result == result) return &row;
  return nullptr;
}

// The plug-in owns the error string and may have pointed the field anywhere:
// the bytes are read under the guard, after the length byte, up to a NUL and
// never more than 255.
void CopyErrorString(const uint8_t* errorString, char* out /* 256 bytes */) {
  out[0] = 0;
  if (errorString == nullptr) return;
  size_t n = 0;
  Guarded([&] {
    const volatile uint8_t* bytes = errorString + 1;
    while (n < 255 && bytes[n] != 0) {
      out[n] = static_cast<char>(bytes[n]);
      ++n;
    }
  });
  out[n] = 0;
}

}  // namespace

int DescribePluginResultWith(int32_t result, const char* missingServiceName, const uint8_t* errorString,
                             wchar_t* text, uint32_t* jobResultCode) {
  const ResultRow* row = FindResult(result);
  if (jobResultCode != nullptr) *jobResultCode = row != nullptr ? row->jobResultCode : JOB_RESULT_UNKNOWN;
  if (text == nullptr) return 1;
  if (row == nullptr) {
    BoundedFormatW(text, RESULT_TEXT_UNITS, L"Unknown error (ErrorID = %d)", static_cast<int>(result));
    return 1;
  }
  if (row->insert == INSERT_NONE) {
    BoundedCopyW(text, RESULT_TEXT_UNITS, row->text);
    return 1;
  }
  char narrow[256];
  if (row->insert == INSERT_ERROR_STRING) {
    CopyErrorString(errorString, narrow);
  } else {
    size_t n = 0;
    if (missingServiceName != nullptr)
      for (; n < 255 && missingServiceName[n] != 0; ++n) narrow[n] = missingServiceName[n];
    narrow[n] = 0;
  }
  wchar_t wide[INSERT_UNITS];
  wide[0] = 0;
  if (narrow[0] != 0) ToWideString(wide, INSERT_UNITS, narrow);
  BoundedFormatW(text, RESULT_TEXT_UNITS, row->text, wide);
  return 1;
}

int DescribePluginResult(int32_t result, wchar_t* text, uint32_t* jobResultCode) {
  return DescribePluginResultWith(result, MissingServiceName(), PluginFilterRecord()->errorString, text,
                                  jobResultCode);
}
