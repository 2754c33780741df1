// The tool's text codec for recorded settings: a settings file is UTF-8, and
// plug-ins read and write 8-bit text in the system's code page.
#pragma once
#include "settings/settings_json.h"

// Refuses characters the code page cannot hold rather than guess at them.
extern const SettingsTextCodec kCodePageSettingsCodec;
