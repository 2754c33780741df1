#include <cstring>
#include <string>

#include "gtest/gtest.h"
#include "sdk/basic_types.h"
#include "settings/descriptor_bytes.h"
#include "settings/settings_block.h"
#include "tests/support/caller.h"

namespace {


RecordedSettings Sample() {
  RecordedSettings s;
  s.name = u"Posterize";
  s.entry = u"PluginMain";
  s.hasDescriptor = true;
  AppendDescriptorU32(&s.descriptor, FourCC("Lvls"), DK_INTEGER, 4);
  s.hasParameters = true;
  s.parameters = std::string("\x01\x00\x02", 3);
  return s;
}

std::string Block(const RecordedSettings& s, CallerLine caller = CallerLine::current()) {
  TRACE_CALLER(caller);
  std::string block;
  EXPECT_TRUE(BuildSettingsBlock(s, &block));
  return block;
}

SettingsBlockError Parse(const std::string& block, SettingsView* view = nullptr) {
  SettingsView ignored;
  return ParseSettingsBlock(reinterpret_cast<const uint8_t*>(block.data()), block.size(),
                            view != nullptr ? view : &ignored);
}

void SetU32(std::string* block, size_t offset, uint32_t value) { memcpy(&(*block)[offset], &value, 4); }

}  // namespace

TEST(SettingsBlock, BuildsAndParsesBackEveryPart) {
  const RecordedSettings s = Sample();
  const std::string block = Block(s);
  ASSERT_EQ(32u + 18 + 20 + 16 + 3, block.size());
  SettingsView view;
  ASSERT_EQ(SETTINGS_OK, Parse(block, &view));
  RecordedSettings back = SettingsFromView(view);
  EXPECT_EQ(s.name, back.name);
  EXPECT_EQ(s.entry, back.entry);
  EXPECT_TRUE(back.hasDescriptor);
  EXPECT_EQ(s.descriptor, back.descriptor);
  EXPECT_TRUE(back.hasParameters);
  EXPECT_EQ(s.parameters, back.parameters);

  // Recorded-but-empty differs from not recorded.
  RecordedSettings empty;
  empty.hasDescriptor = true;
  ASSERT_EQ(SETTINGS_OK, Parse(Block(empty), &view));
  EXPECT_EQ(SETTINGS_HAS_DESCRIPTOR, view.flags);
  EXPECT_EQ(0u, view.descriptorBytes);
}

TEST(SettingsBlock, MalformedBlocksAreRefusedWithTheirReason) {
  const std::string good = Block(Sample());
  struct Row {
    const char* name;
    std::string block;
    SettingsBlockError expected;
  };
  auto with = [&](size_t offset, uint32_t value) {
    std::string b = good;
    SetU32(&b, offset, value);
    return b;
  };
  auto withVersion = [&](uint16_t version, uint16_t header) {
    std::string b = good;
    memcpy(&b[4], &version, 2);
    memcpy(&b[6], &header, 2);
    return b;
  };
  std::string noDescriptorFlag = with(8, SETTINGS_HAS_PARAMETERS);
  std::string badDescriptor = good;
  badDescriptor[32 + 18 + 20 + 4] = 99;  // the item's kind
  RecordedSettings longName = Sample();
  longName.name.assign(255, u'n');
  const Row rows[] = {
      {"nothing", "", SETTINGS_SHORT},
      {"a header cut short", good.substr(0, 31), SETTINGS_SHORT},
      {"another magic", with(0, 0x12345678), SETTINGS_BAD_HEADER},
      {"version 2", withVersion(2, 32), SETTINGS_BAD_HEADER},
      {"a header of 36 bytes", withVersion(1, 36), SETTINGS_BAD_HEADER},
      {"an unknown flag", with(8, 7), SETTINGS_BAD_HEADER},
      {"descriptor bytes without its flag", noDescriptorFlag, SETTINGS_BAD_HEADER},
      {"reserved not zero", with(28, 1), SETTINGS_BAD_HEADER},
      {"one byte more than the parts", good + "x", SETTINGS_BAD_LENGTHS},
      {"one byte less than the parts", good.substr(0, good.size() - 1), SETTINGS_BAD_LENGTHS},
      {"lengths that wrap 32 bits", with(24, 0xFFFFFFFFu - 2), SETTINGS_BAD_LENGTHS},
      {"an odd name", with(12, 17), SETTINGS_BAD_LENGTHS},
      {"a name of 256 units", with(12, 512), SETTINGS_BAD_LENGTHS},
      {"a descriptor of an unknown kind", badDescriptor, SETTINGS_BAD_DESCRIPTOR},
      {"a name of 255 units", Block(longName), SETTINGS_OK},
  };
  for (const Row& row : rows) EXPECT_EQ(row.expected, Parse(row.block)) << row.name;
}

TEST(SettingsBlock, PartsTooLargeAreNotBuilt) {
  RecordedSettings s = Sample();
  s.name.assign(256, u'n');
  std::string block;
  EXPECT_FALSE(BuildSettingsBlock(s, &block));
  s = Sample();
  s.hasParameters = false;  // bytes without their flag
  EXPECT_FALSE(BuildSettingsBlock(s, &block));
}
