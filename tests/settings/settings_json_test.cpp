#include <string>

#include "gtest/gtest.h"
#include "sdk/basic_types.h"
#include "settings/descriptor_bytes.h"
#include "settings/settings_json.h"
#include "tests/support/caller.h"

namespace {

// The example settings file people are shown, every type in it.
const char kExample[] = R"({"plugin": {"name": "Posterize", "entry": "PluginMain"},
 "descriptor": {"Lvls": 4, "Gmma": 1.5, "Nm  ": "warm", "Inv ": true,
                "Md  ": {"enum": ["Mthd", "Prcp"]}, "Rds ": {"unitFloat": 2.5, "unit": "#Pxl"},
                "Clr ": {"object": "RGBC", "descriptor": {"Rd  ": 255.0}},
                "Lyr ": {"class": "Lyr "}, "Pth ": {"alias": "C:\\data"},
                "Cnt ": {"count": 3}, "Str ": {"string": "Pascal text"}, "0x6C766C73": -2147483648},
 "parameters": "AQID"})";

RecordedSettings Read(const std::string& text, JsonError* error = nullptr, CallerLine caller = CallerLine::current()) {
  TRACE_CALLER(caller);
  RecordedSettings s;
  JsonError ignored;
  EXPECT_TRUE(SettingsFromJson(text, kUtf8SettingsCodec, &s, error != nullptr ? error : &ignored))
      << (error != nullptr ? error->message : ignored.message);
  return s;
}

}  // namespace

TEST(SettingsJson, TheExampleGivesEveryTypeInOrder) {
  RecordedSettings s = Read(kExample);
  EXPECT_EQ(u"Posterize", s.name);
  EXPECT_EQ(u"PluginMain", s.entry);
  EXPECT_TRUE(s.hasParameters);
  EXPECT_EQ(std::string("\x01\x02\x03", 3), s.parameters);
  ASSERT_TRUE(s.hasDescriptor);
  const uint8_t* d = reinterpret_cast<const uint8_t*>(s.descriptor.data());
  struct Row {
    const char* key;
    uint32_t kind;
  };
  const Row rows[] = {{"Lvls", DK_INTEGER}, {"Gmma", DK_FLOAT},      {"Nm  ", DK_TEXT},   {"Inv ", DK_BOOLEAN},
                      {"Md  ", DK_ENUMERATED}, {"Rds ", DK_UNIT_FLOAT}, {"Clr ", DK_OBJECT}, {"Lyr ", DK_CLASS},
                      {"Pth ", DK_ALIAS},   {"Cnt ", DK_COUNT},      {"Str ", DK_STRING}, {"lvls", DK_INTEGER}};
  size_t offset = 0;
  DescriptorItem item;
  for (const Row& row : rows) {
    ASSERT_TRUE(NextDescriptorItem(d, s.descriptor.size(), &offset, &item)) << row.key;
    EXPECT_EQ(FourCC(reinterpret_cast<const char(&)[5]>(*row.key)), item.key) << row.key;
    EXPECT_EQ(row.kind, item.kind) << row.key;
    const std::string value(reinterpret_cast<const char*>(item.value), item.length);
    switch (item.kind) {
      case DK_TEXT: EXPECT_EQ("warm", value); break;
      case DK_ALIAS: EXPECT_EQ("C:\\data", value); break;
      case DK_STRING: EXPECT_EQ("Pascal text", value); break;
      case DK_ENUMERATED: EXPECT_EQ(FourCC("Prcp"), ReadU32(item.value + 4)); break;
      case DK_OBJECT: EXPECT_EQ(FourCC("RGBC"), ReadU32(item.value)); break;
    }
  }
  EXPECT_EQ(INT32_MIN, ReadI32(item.value));
  EXPECT_FALSE(NextDescriptorItem(d, s.descriptor.size(), &offset, &item));
}

TEST(SettingsJson, WrittenFilesReadBackToTheSameSettings) {
  RecordedSettings s = Read(kExample);
  // Kinds a file writes only as raw bytes.
  std::string reference(DESCRIPTOR_REFERENCE_BYTES, '\x07');
  AppendDescriptorItem(&s.descriptor, FourCC("Ref "), DK_REFERENCE, reference.data(), reference.size());
  AppendDescriptorU32(&s.descriptor, FourCC("SCls"), DK_SCOPED_CLASS, FourCC("Cls "));
  AppendDescriptorObject(&s.descriptor, FourCC("SObj"), DK_SCOPED_OBJECT, FourCC("Obj "), nullptr, 0);
  // Text that is not UTF-8, a key that is not printable, a float with no fraction.
  AppendDescriptorItem(&s.descriptor, FourCC("Bin "), DK_TEXT, "\xFF\xFE", 2);
  AppendDescriptorU32(&s.descriptor, 0x00010203, DK_INTEGER, 1);
  AppendDescriptorF64(&s.descriptor, FourCC("Whol"), DK_FLOAT, 2.0);
  const std::string text = SettingsToJson(s, kUtf8SettingsCodec);
  RecordedSettings back = Read(text);
  EXPECT_EQ(s.name, back.name);
  EXPECT_EQ(s.entry, back.entry);
  EXPECT_EQ(s.descriptor, back.descriptor) << text;
  EXPECT_EQ(s.parameters, back.parameters);
  EXPECT_NE(std::string::npos, text.find("\"raw\": {\"type\": \"obj \"")) << text;
  EXPECT_NE(std::string::npos, text.find("\"0x00010203\": 1")) << text;
  EXPECT_NE(std::string::npos, text.find("\"Whol\": 2.0")) << text;

  // Parts that were not recorded stay out of the file, and out of the reading.
  RecordedSettings bare;
  EXPECT_EQ("{}\n", SettingsToJson(bare, kUtf8SettingsCodec));
  RecordedSettings none = Read("{}");
  EXPECT_FALSE(none.hasDescriptor);
  EXPECT_FALSE(none.hasParameters);
}

TEST(SettingsJson, FilesThatCannotBeReadNameTheirLineAndColumn) {
  struct Row {
    std::string text;
    int line, column;
    const char* message;  // a part of it
  };
  const Row rows[] = {
      {"", 1, 1, "value was expected"},
      {"{\"descriptor\": {\"Lvls\": 4,}}", 1, 27, "member name"},
      {"{\"descriptor\":\n  {\"Lvls\": null}}", 2, 12, "unknown type"},
      {"{\"descriptor\": {\"Lvls\": [1, 2]}}", 1, 25, "unknown type"},
      {"{\"descriptor\": {\"Level\": 4}}", 1, 26, "four-character code"},
      {"{\"descriptor\": {\"0x6C766C7\": 4}}", 1, 30, "four-character code"},
      {"{\"descriptor\": {\"Lvls\": 2147483648}}", 1, 25, "32 bits"},
      {"{\"descriptor\": {\"Lvls\": 99999999999999999999}}", 1, 25, "out of range"},
      {"{\"descriptor\": {\"Cnt \": {\"count\": -1}}}", 1, 25, "count"},
      {"{\"descriptor\": {\"Md  \": {\"enum\": [\"Mthd\"]}}}", 1, 25, "enumerated"},
      {"{\"descriptor\": {\"Md  \": {\"color\": 1}}}", 1, 25, "unknown type"},
      {"{\"descriptor\": {\"Rds \": {\"unitFloat\": 1.0}}}", 1, 25, "unit float"},
      {"{\"descriptor\": {\"Str \": {\"string\": \"" + std::string(256, 's') + "\"}}}", 1, 36, "255"},
      {"{\"descriptor\": {\"Ref \": {\"raw\": {\"type\": \"obj \", \"hex\": \"00\"}}}}", 1, 57, "do not form"},
      {"{\"descriptor\": {\"Ref \": {\"raw\": {\"type\": \"what\", \"hex\": \"\"}}}}", 1, 42, "unknown type"},
      {"{\"descriptor\": {\"Ref \": {\"raw\": {\"type\": \"obj \", \"hex\": \"0g\"}}}}", 1, 57, "hex"},
      {"{\"descriptor\": {\"Lvls\": 1, \"Lvls\": 2}}", 1, 28, "twice"},
      {"{\"descriptor\": {\"lvls\": 1, \"0x6C766C73\": 2}}", 1, 42, "key lvls appears twice"},
      {"{\"parameters\": \"AQI\"}", 1, 16, "base64"},
      {"{\"plugin\": {\"nmae\": \"x\"}}", 1, 21, "unknown member"},
      {"{\"settings\": {}}", 1, 14, "unknown member"},
      {"{\"descriptor\": 4}", 1, 16, "object of keyed values"},
      {"[]", 1, 1, "one JSON object"},
      {"{} {}", 1, 4, "after the end"},
      {"{\"descriptor\": {\"Nm  \": \"a\\qb\"}}", 1, 28, "escape"},
      {"{\"descriptor\": {\"Nm  \": \"\\ud800\"}}", 1, 32, "surrogate"},
  };
  for (const Row& row : rows) {
    RecordedSettings s;
    JsonError e;
    ASSERT_FALSE(SettingsFromJson(row.text, kUtf8SettingsCodec, &s, &e)) << row.text;
    EXPECT_EQ(row.line, e.line) << row.text << ": " << e.message;
    EXPECT_EQ(row.column, e.column) << row.text << ": " << e.message;
    EXPECT_NE(std::string::npos, e.message.find(row.message)) << row.text << ": " << e.message;
  }
}

TEST(SettingsJson, ObjectsNestAsDeepAsDescriptorsMay) {
  std::string text = "1", deeper;
  for (int i = 0; i < DESCRIPTOR_MAX_DEPTH; ++i)
    text = "{\"object\": \"Cls \", \"descriptor\": {\"Nest\": " + text + "}}";
  Read("{\"descriptor\": {\"Top \": " + text + "}}");
  RecordedSettings s;
  JsonError e;
  text = "{\"object\": \"Cls \", \"descriptor\": {\"Nest\": " + text + "}}";
  EXPECT_FALSE(SettingsFromJson("{\"descriptor\": {\"Top \": " + text + "}}", kUtf8SettingsCodec, &s, &e));
  EXPECT_NE(std::string::npos, e.message.find("nested too deeply")) << e.message;
}

TEST(SettingsText, FourCharacterCodesBase64AndUtf16) {
  uint32_t code = 0;
  EXPECT_TRUE(FourCharCodeFromText("Lvls", &code));
  EXPECT_EQ(FourCC("Lvls"), code);
  EXPECT_TRUE(FourCharCodeFromText("0x6C766C73", &code));
  EXPECT_EQ(FourCC("lvls"), code);
  for (const char* bad : {"Lvl", "Lvlss", "0x6C766C7Z", "Lv\x01s", ""}) EXPECT_FALSE(FourCharCodeFromText(bad, &code)) << bad;
  EXPECT_EQ("#Pxl", FourCharCodeText(FourCC("#Pxl")));
  EXPECT_EQ("0x0000000A", FourCharCodeText(10));

  for (const std::string& bytes : {std::string(), std::string("f"), std::string("fo"), std::string("foo"),
                                   std::string("\x00\xFF\x80\x7F", 4)}) {
    std::string back;
    ASSERT_TRUE(Base64Decode(Base64Encode(bytes), &back));
    EXPECT_EQ(bytes, back);
  }
  std::string out;
  for (const char* bad : {"A", "AQ=A", "A===", "!!!!", "AQ==AQ=="}) EXPECT_FALSE(Base64Decode(bad, &out)) << bad;

  std::u16string units;
  ASSERT_TRUE(Utf16FromUtf8("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", &units));
  EXPECT_EQ(std::u16string(u"a\u00E9\u20AC\U0001F600"), units);
  std::string utf8;
  ASSERT_TRUE(Utf8FromUtf16(units, &utf8));
  EXPECT_EQ("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", utf8);
  for (const char* bad : {"\xC3", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF"})
    EXPECT_FALSE(Utf16FromUtf8(bad, &units)) << "bytes " << static_cast<int>(static_cast<uint8_t>(bad[0]));
  EXPECT_FALSE(Utf8FromUtf16(std::u16string(1, u'\xD800'), &utf8));
}
