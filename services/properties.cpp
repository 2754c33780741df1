#include <cstdint>

#include "call/plugin_records.h"
#include "call/job_record.h"
#include "call/plugin_call.h"
#include "base/guard.h"
#include "services/handles.h"
#include "services/host_services.h"

// Written only by the property writer; it outlives every Filter call.

static const char kDocumentTitle[] = "Orvane Photo Document";
static const char kLayerName[] = "Orvane Photo Image";
static const char kSerialNumberText[] = "31415926535897932384";
static_assert(sizeof(kSerialNumberText) == 21, "the serial number text has 20 digits");

enum PropertyAnswer : uint8_t {
  ANSWER_WIDTH,
  ANSWER_HEIGHT,
  ANSWER_IMAGE_MODE,
  ANSWER_PLANES,
  ANSWER_WATCH,
  ANSWER_CONSTANT,
  ANSWER_TEXT,
};

struct PropertyRow {
  OSType key;
  PropertyAnswer answer;
  int32_t constant;
  const char* text;
};

static const PropertyRow kProperties[] = {
    {FourCC("docW"), ANSWER_WIDTH, 0, nullptr},
    {FourCC("docH"), ANSWER_HEIGHT, 0, nullptr},
    {FourCC("mode"), ANSWER_IMAGE_MODE, 0, nullptr},
    {FourCC("nuch"), ANSWER_PLANES, 0, nullptr},
    {FourCC("nuly"), ANSWER_CONSTANT, 1, nullptr},
    {FourCC("tgly"), ANSWER_CONSTANT, 0, nullptr},
    {FourCC("tltp"), ANSWER_CONSTANT, 0, nullptr},
    {FourCC("plip"), ANSWER_CONSTANT, 0, nullptr},
    {FourCC("vers"), ANSWER_CONSTANT, 0x80000, nullptr},  // 8.0, major in the high half
    {FourCC("wtch"), ANSWER_WATCH, 0, nullptr},
    {FourCC("titl"), ANSWER_TEXT, 0, kDocumentTitle},
    {FourCC("lynm"), ANSWER_TEXT, 0, kLayerName},
    {FourCC("sstr"), ANSWER_TEXT, 0, kSerialNumberText},
    {FourCC("sstR"), ANSWER_TEXT, 0, kSerialNumberText},
};

static const PropertyRow* FindProperty(OSType key) {
  for (const PropertyRow& row : kProperties)
    if (row.key == key) return &row;
  return nullptr;
}

static int32_t SimpleAnswer(const PropertyRow& row) {
  JobRecord* job = CurrentCall()->job;
  switch (row.answer) {
    case ANSWER_WIDTH:
      return job != nullptr ? static_cast<int32_t>(job->width) : 0;
    case ANSWER_HEIGHT:
      return job != nullptr ? static_cast<int32_t>(job->height) : 0;
    case ANSWER_IMAGE_MODE:
      return PluginFilterRecord()->imageMode;
    case ANSWER_PLANES:
      return PluginFilterRecord()->planes;
    case ANSWER_WATCH:
      return CurrentCall()->watchSuspension;
    default:
      return row.constant;
  }
}

// The whole reader runs guarded: a bad out pointer from the plug-in becomes
// paramErr instead of a fault in the server.
OSErr HostGetProperty(OSType signature, OSType key, int32_t index, intptr_t* simpleProperty, Handle* complexProperty) {
  const PropertyRow* row = FindProperty(key);
  if (row == nullptr) return errPlugInPropertyUndefined;
  // A plain null is answered before a text handle is made for nobody.
  if ((row->answer == ANSWER_TEXT ? static_cast<void*>(complexProperty) : static_cast<void*>(simpleProperty)) ==
      nullptr)
    return paramErr;
  // Stored before the answer is written, so a fault there still finds it.
  Handle volatile text = nullptr;
  int completed = Guarded([&] {
    if (row->answer == ANSWER_TEXT) {
      text = MakeTextHandle(row->text);
      *reinterpret_cast<volatile Handle*>(complexProperty) = text;
    } else {
      // Only the low four bytes: the upper half of a 64-bit variable keeps
      // whatever the plug-in left there.
      *reinterpret_cast<volatile int32_t*>(simpleProperty) = SimpleAnswer(*row);
    }
  });
  if (!completed) {
    HostDisposeHandle(text);  // the plug-in never received it
    return paramErr;
  }
  // Every text here has characters: no handle means no memory.
  return row->answer == ANSWER_TEXT && text == nullptr ? memFullErr : noErr;
}

OSErr HostSetProperty(OSType signature, OSType key, int32_t index, intptr_t simpleProperty, Handle complexProperty) {
  if (key == FourCC("wtch")) {
    CurrentCall()->watchSuspension = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uintptr_t>(simpleProperty)));
    return noErr;
  }
  if (key == FourCC("plip")) return noErr;
  return errPlugInPropertyUndefined;
}

void FillPropertyProcs(PropertyProcs* procs) {
  *procs = PropertyProcs{};
  procs->propertyProcsVersion = 1;
  procs->numPropertyProcs = 2;
  procs->getPropertyProc = HostGetProperty;
  procs->setPropertyProc = HostSetProperty;
}
