// Fuzz target for settings files: any text. Reading must never fault, and a
// file that reads must write out to a file that reads back to the same
// settings as a plug-in sees them (the tool's --save-settings and --settings
// meet there): a Pascal string that is not UTF-8 is written as raw 'TEXT'
// bytes and comes back as text, which plug-ins read alike. Writing what was
// read back gives the same file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "settings/descriptor_bytes.h"
#include "settings/settings_json.h"

// Item by item: the same key, type code and value bytes, objects compared inside.
static bool SameForPlugins(const uint8_t* a, size_t aSize, const uint8_t* b, size_t bSize) {
  size_t ia = 0, ib = 0;
  DescriptorItem x, y;
  for (;;) {
    const bool more = NextDescriptorItem(a, aSize, &ia, &x);
    if (more != NextDescriptorItem(b, bSize, &ib, &y)) return false;
    if (!more) return true;
    if (x.key != y.key || DescriptorTypeCode(x.kind) != DescriptorTypeCode(y.kind) || x.length != y.length) return false;
    const bool object = x.kind == DK_OBJECT || x.kind == DK_SCOPED_OBJECT;
    if (object ? ReadU32(x.value) != ReadU32(y.value) ||
                     !SameForPlugins(x.value + 4, x.length - 4, y.value + 4, y.length - 4)
               : memcmp(x.value, y.value, x.length) != 0)
      return false;
  }
}

static bool Same(const RecordedSettings& a, const RecordedSettings& b) {
  return a.name == b.name && a.entry == b.entry && a.hasDescriptor == b.hasDescriptor &&
         SameForPlugins(reinterpret_cast<const uint8_t*>(a.descriptor.data()), a.descriptor.size(),
                        reinterpret_cast<const uint8_t*>(b.descriptor.data()), b.descriptor.size()) &&
         a.hasParameters == b.hasParameters && a.parameters == b.parameters;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  JsonValue value;
  JsonError error;
  ParseJson(text, &value, &error);
  RecordedSettings settings;
  if (!SettingsFromJson(text, kUtf8SettingsCodec, &settings, &error)) {
    if (error.message.empty()) {
      fprintf(stderr, "settings_json_fuzz: a refusal without a reason\n");
      abort();
    }
    return 0;
  }
  const std::string written = SettingsToJson(settings, kUtf8SettingsCodec);
  RecordedSettings back;
  if (!SettingsFromJson(written, kUtf8SettingsCodec, &back, &error) || !Same(settings, back)) {
    fprintf(stderr, "settings_json_fuzz: the written file does not read back the same: %s\n%s\n",
            error.message.c_str(), written.c_str());
    abort();
  }
  if (SettingsToJson(back, kUtf8SettingsCodec) != written) {
    fprintf(stderr, "settings_json_fuzz: writing what was read back gives another file:\n%s\n", written.c_str());
    abort();
  }
  return 0;
}
