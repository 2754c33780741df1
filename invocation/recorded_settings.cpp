#include "invocation/recorded_settings.h"

#include "call/plugin_records.h"
#include "call/job_record.h"
#include "base/memory.h"
#include "wire/protocol.h"
#include "services/descriptor_procs.h"
#include "services/handles.h"
#include "services/host_services.h"

// The most parameter bytes a run records; plug-ins keep a few hundred.
constexpr uint32_t kParametersLimit = 64u << 20;

bool SendsParametersSelector(const JobRecord* job) {
  return job->startMode == START_MODE_PLAIN || job->startMode == START_MODE_DIALOG;
}

bool OfferSettings(const JobRecord* job, PluginRecords* r) {
  static const int16_t kPlayInfo[] = {0, 1, 0, 2};  // don't display, display, don't display, silent
  PIDescriptorParameters* dp = &r->descriptorParameters;
  dp->playInfo = job->startMode < 4 ? kPlayInfo[job->startMode] : 0;
  // The plain start hands over nothing, as the start that came before it.
  if (job->startMode == START_MODE_PLAIN) return true;
  const SettingsView& v = job->replay;
  // An empty descriptor or parameter bytes give no handle: none can be empty.
  if ((v.flags & SETTINGS_HAS_DESCRIPTOR) != 0 && v.descriptorBytes != 0) {
    dp->descriptor = NewDescriptorHandle(v.descriptor, v.descriptorBytes);
    if (dp->descriptor == nullptr) return false;
  }
  if ((v.flags & SETTINGS_HAS_PARAMETERS) != 0 && v.parametersBytes != 0) {
    r->filter.parameters = NewHandleWithBytes(v.parameters, v.parametersBytes);
    if (r->filter.parameters == nullptr) return false;
  }
  return true;
}

// UTF-16 units of a catalogue field, up to its terminator.
static uint32_t FieldBytes(const wchar_t* field) {
  uint32_t n = 0;
  while (n < SETTINGS_NAME_MAX_UNITS && field[n] != 0) ++n;
  return 2 * n;
}

void RecordSettings(JobRecord* job, const PluginEntry* entry, PluginRecords* r) {
  Handle descriptor = r->descriptorParameters.descriptor;
  r->descriptorParameters.descriptor = nullptr;
  uint8_t* descriptorBytes = nullptr;
  uint32_t descriptorSize = 0;
  const bool hasDescriptor = CopyDescriptorHandle(descriptor, &descriptorBytes, &descriptorSize);
  // Anything else left there is the plug-in's own, or already gone.
  if (descriptor != nullptr && HandleKind(descriptor) == HANDLE_KIND_DESCRIPTOR) HostDisposeHandle(descriptor);
  uint8_t* parameterBytes = nullptr;
  uint32_t parameterSize = 0;
  const bool hasParameters = r->filter.parameters != nullptr &&
                             CopyHandleBytes(r->filter.parameters, kParametersLimit, &parameterBytes, &parameterSize);

  SettingsView v{(hasDescriptor ? SETTINGS_HAS_DESCRIPTOR : 0) | (hasParameters ? SETTINGS_HAS_PARAMETERS : 0),
                 reinterpret_cast<const uint8_t*>(entry->name), FieldBytes(entry->name),
                 reinterpret_cast<const uint8_t*>(entry->entryPoint), FieldBytes(entry->entryPoint),
                 descriptorBytes, descriptorSize, parameterBytes, parameterSize};
  const uint64_t size = SettingsBlockSize(v);
  job->recorded = size != 0 ? static_cast<uint8_t*>(AllocZeroed(size)) : nullptr;
  job->recordedBytes = job->recorded != nullptr ? static_cast<uint32_t>(size) : 0;
  if (job->recorded != nullptr) WriteSettingsBlock(v, job->recorded);
  FreeBlock(descriptorBytes);
  FreeBlock(parameterBytes);
}
