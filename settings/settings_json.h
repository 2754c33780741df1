// Recorded settings as a JSON file a person can write by hand, and back:
//   {"plugin": {"name": ..., "entry": ...},
//    "descriptor": {"Lvls": 4, "Gmma": 1.5, "Nm  ": "warm", "Inv ": true,
//                   "Md  ": {"enum": ["Mthd", "Prcp"]}, "Rds ": {"unitFloat": 2.5, "unit": "#Pxl"},
//                   "Clr ": {"object": "RGBC", "descriptor": {...}}, "Lyr ": {"class": "Lyr "},
//                   "Pth ": {"alias": "C:\\data"}, "Cnt ": {"count": 3}, "Str ": {"string": "text"},
//                   "Ref ": {"raw": {"type": "obj ", "hex": "..."}}},
//    "parameters": "base64 of the plug-in's own bytes"}
// Keys are four-character codes, exactly four characters, or "0x" and eight
// hex digits. Pure code; the text of descriptor values passes through a codec
// the caller gives (plug-ins read 8-bit text in the system code page).
#pragma once
#include <string>

#include "settings/json.h"
#include "settings/settings_block.h"

// Converts text between the file's UTF-8 and a plug-in's 8-bit characters;
// false when it cannot.
struct SettingsTextCodec {
  bool (*toPlugin)(const std::string& utf8, std::string* bytes);
  bool (*fromPlugin)(const std::string& bytes, std::string* utf8);
};
// Passes the bytes through unchanged; fromPlugin refuses bytes that are not UTF-8.
extern const SettingsTextCodec kUtf8SettingsCodec;

// Reads a settings file. On failure `error` names the line and column of the
// value at fault (0 when the fault has no place, such as a missing member).
bool SettingsFromJson(const std::string& text, const SettingsTextCodec& codec, RecordedSettings* settings,
                      JsonError* error);
// Writes a settings file that reads back to the same settings. Text the codec
// cannot convert is kept as raw bytes.
std::string SettingsToJson(const RecordedSettings& settings, const SettingsTextCodec& codec);

// Pieces, also used on their own.
bool FourCharCodeFromText(const std::string& text, uint32_t* code);
std::string FourCharCodeText(uint32_t code);
bool Utf16FromUtf8(const std::string& utf8, std::u16string* units);
bool Utf8FromUtf16(const std::u16string& units, std::string* utf8);
std::string Base64Encode(const std::string& bytes);
bool Base64Decode(const std::string& text, std::string* bytes);
