#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "sdk/basic_types.h"
#include "settings/descriptor_bytes.h"

namespace {


const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

std::string Item(uint32_t key, uint32_t kind, const std::string& value) {
  std::string out;
  for (uint32_t v : {key, kind, static_cast<uint32_t>(value.size())})
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
  return out + value;
}

}  // namespace

TEST(DescriptorBytes, EveryKindIsWrittenAndReadBackInOrder) {
  std::string d, nested;
  ASSERT_TRUE(AppendDescriptorU32(&nested, FourCC("Rd  "), DK_INTEGER, 255));
  ASSERT_TRUE(AppendDescriptorU32(&d, FourCC("Lvls"), DK_INTEGER, static_cast<uint32_t>(-7)));
  ASSERT_TRUE(AppendDescriptorF64(&d, FourCC("Gmma"), DK_FLOAT, 1.5));
  ASSERT_TRUE(AppendDescriptorUnitFloat(&d, FourCC("Rds "), FourCC("#Pxl"), 2.5));
  const uint8_t yes = 1;
  ASSERT_TRUE(AppendDescriptorItem(&d, FourCC("Inv "), DK_BOOLEAN, &yes, 1));
  ASSERT_TRUE(AppendDescriptorItem(&d, FourCC("Nm  "), DK_TEXT, "warm", 4));
  ASSERT_TRUE(AppendDescriptorItem(&d, FourCC("Pth "), DK_ALIAS, "C:\\data", 7));
  ASSERT_TRUE(AppendDescriptorPair(&d, FourCC("Md  "), DK_ENUMERATED, FourCC("Mthd"), FourCC("Prcp")));
  ASSERT_TRUE(AppendDescriptorU32(&d, FourCC("Lyr "), DK_CLASS, FourCC("Lyr ")));
  std::string reference(DESCRIPTOR_REFERENCE_BYTES, '\x5A');
  ASSERT_TRUE(AppendDescriptorItem(&d, FourCC("Ref "), DK_REFERENCE, reference.data(), reference.size()));
  ASSERT_TRUE(AppendDescriptorObject(&d, FourCC("Clr "), DK_OBJECT, FourCC("RGBC"), nested.data(), nested.size()));
  ASSERT_TRUE(AppendDescriptorU32(&d, FourCC("Cnt "), DK_COUNT, 3));
  ASSERT_TRUE(AppendDescriptorItem(&d, FourCC("Str "), DK_STRING, "Pascal", 6));
  ASSERT_TRUE(AppendDescriptorU32(&d, FourCC("SCls"), DK_SCOPED_CLASS, FourCC("Cls ")));
  ASSERT_TRUE(AppendDescriptorObject(&d, FourCC("SObj"), DK_SCOPED_OBJECT, FourCC("Obj "), nullptr, 0));
  ASSERT_TRUE(DescriptorIsValid(Bytes(d), d.size()));

  struct Expected {
    uint32_t key, kind, typeCode, length;
  };
  const Expected rows[] = {
      {FourCC("Lvls"), DK_INTEGER, FourCC("long"), 4},       {FourCC("Gmma"), DK_FLOAT, FourCC("doub"), 8},      {FourCC("Rds "), DK_UNIT_FLOAT, FourCC("UntF"), 12},
      {FourCC("Inv "), DK_BOOLEAN, FourCC("bool"), 1},       {FourCC("Nm  "), DK_TEXT, FourCC("TEXT"), 4},       {FourCC("Pth "), DK_ALIAS, FourCC("alis"), 7},
      {FourCC("Md  "), DK_ENUMERATED, FourCC("enum"), 8},    {FourCC("Lyr "), DK_CLASS, FourCC("type"), 4},      {FourCC("Ref "), DK_REFERENCE, FourCC("obj "), 276},
      {FourCC("Clr "), DK_OBJECT, FourCC("Objc"), 4 + 16},   {FourCC("Cnt "), DK_COUNT, FourCC("long"), 4},      {FourCC("Str "), DK_STRING, FourCC("TEXT"), 6},
      {FourCC("SCls"), DK_SCOPED_CLASS, FourCC("GlbC"), 4},  {FourCC("SObj"), DK_SCOPED_OBJECT, FourCC("GlbO"), 4},
  };
  size_t offset = 0;
  DescriptorItem item;
  for (const Expected& row : rows) {
    ASSERT_TRUE(NextDescriptorItem(Bytes(d), d.size(), &offset, &item)) << std::hex << row.key;
    EXPECT_EQ(row.key, item.key);
    EXPECT_EQ(row.kind, item.kind);
    EXPECT_EQ(row.typeCode, DescriptorTypeCode(item.kind));
    EXPECT_EQ(row.length, item.length) << std::hex << row.key;
  }
  EXPECT_FALSE(NextDescriptorItem(Bytes(d), d.size(), &offset, &item));
  EXPECT_EQ(d.size(), offset);

  offset = 0;
  NextDescriptorItem(Bytes(d), d.size(), &offset, &item);
  EXPECT_EQ(-7, ReadI32(item.value));
  NextDescriptorItem(Bytes(d), d.size(), &offset, &item);
  EXPECT_EQ(1.5, ReadF64(item.value));
  NextDescriptorItem(Bytes(d), d.size(), &offset, &item);
  EXPECT_EQ(static_cast<uint32_t>(FourCC("#Pxl")), ReadU32(item.value));
  EXPECT_EQ(2.5, ReadF64(item.value + 4));
}

TEST(DescriptorBytes, MalformedDescriptorsAreRefused) {
  std::string tooDeep;
  for (int i = 0; i <= DESCRIPTOR_MAX_DEPTH; ++i) {
    std::string outer;
    AppendDescriptorObject(&outer, FourCC("Nest"), DK_OBJECT, FourCC("Cls "), tooDeep.data(), tooDeep.size());
    tooDeep = outer;
  }
  std::string deepEnough;
  for (int i = 0; i < DESCRIPTOR_MAX_DEPTH; ++i) {
    std::string outer;
    AppendDescriptorObject(&outer, FourCC("Nest"), DK_OBJECT, FourCC("Cls "), deepEnough.data(), deepEnough.size());
    deepEnough = outer;
  }
  const std::string integer = Item(FourCC("Int "), DK_INTEGER, std::string(4, '\0'));
  struct Row {
    const char* name;
    std::string bytes;
    bool valid;
  };
  const Row rows[] = {
      {"empty", "", true},
      {"one integer", integer, true},
      {"objects nested as deep as allowed", deepEnough, true},
      {"a short header", integer + std::string(11, '\0'), false},
      {"a length past the end", Item(FourCC("Txt "), DK_TEXT, "abc").substr(0, 14), false},
      {"an integer of five bytes", Item(FourCC("Int "), DK_INTEGER, std::string(5, '\0')), false},
      {"a float of four bytes", Item(FourCC("Flt "), DK_FLOAT, std::string(4, '\0')), false},
      {"a reference of 275 bytes", Item(FourCC("Ref "), DK_REFERENCE, std::string(275, '\0')), false},
      {"an object without its class", Item(FourCC("Obj "), DK_OBJECT, "abc"), false},
      {"an object holding junk", Item(FourCC("Obj "), DK_OBJECT, "Cls junk"), false},
      {"an unknown kind", Item(FourCC("Unk "), 99, ""), false},
      {"kind zero", Item(FourCC("Unk "), 0, ""), false},
      {"a key twice", integer + integer, false},
      {"a boolean of 2", Item(FourCC("Bool"), DK_BOOLEAN, "\x02"), false},
      {"a string of 256 characters", Item(FourCC("Str "), DK_STRING, std::string(256, 'a')), false},
      {"objects nested too deep", tooDeep, false},
  };
  for (const Row& row : rows)
    EXPECT_EQ(row.valid, DescriptorIsValid(Bytes(row.bytes), row.bytes.size())) << row.name;
}

TEST(DescriptorBytes, TypeCodesMapBackToKinds) {
  EXPECT_EQ(static_cast<uint32_t>(DK_REFERENCE), DescriptorKindFromTypeCode(FourCC("obj ")));
  EXPECT_EQ(static_cast<uint32_t>(DK_SCOPED_CLASS), DescriptorKindFromTypeCode(FourCC("GlbC")));
  EXPECT_EQ(static_cast<uint32_t>(DK_SCOPED_OBJECT), DescriptorKindFromTypeCode(FourCC("GlbO")));
  EXPECT_EQ(static_cast<uint32_t>(DK_TEXT), DescriptorKindFromTypeCode(FourCC("TEXT")));
  EXPECT_EQ(static_cast<uint32_t>(DK_INTEGER), DescriptorKindFromTypeCode(FourCC("long")));
  EXPECT_EQ(0u, DescriptorKindFromTypeCode(FourCC("none")));
  EXPECT_EQ(0u, DescriptorTypeCode(0));
  // Fixed sizes are kept on writing too.
  std::string d;
  EXPECT_FALSE(AppendDescriptorItem(&d, FourCC("Int "), DK_INTEGER, "abc", 3));
  EXPECT_FALSE(AppendDescriptorItem(&d, FourCC("Unk "), 77, "", 0));
  EXPECT_FALSE(AppendDescriptorObject(&d, FourCC("Int "), DK_INTEGER, 0, nullptr, 0));
  EXPECT_TRUE(d.empty());
}
