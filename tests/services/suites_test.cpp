#include <cstring>
#include <string>

#include "gtest/gtest.h"
#include "call/plugin_records.h"
#include "sdk/procs.h"
#include "sdk/suites.h"
#include "services/host_services.h"
#include "tests/support/job_scope.h"

namespace {

SPBasicSuite Basic() {
  SPBasicSuite basic;
  FillSPBasic(&basic);
  return basic;
}

const void* const kUntouched = reinterpret_cast<const void*>(static_cast<uintptr_t>(0x5EED));

struct AcquireCase {
  const char* name;
  int32_t version;
  bool served;
};

const AcquireCase kAcquireCases[] = {
    {"SP Blocks Suite", 2, true},
    {"SP Blocks Suite", 3, false},
    {"Photoshop Buffer Suite for Plug-ins", 1, true},
    {"Photoshop Buffer Suite for Plug-ins", 2, false},
    {"photoshop buffer suite for plug-ins", 1, false},
    {"Photoshop UIHooks Suite for Plug-ins", 3, true},
    {"Photoshop UIHooks Suite for Plug-ins", 4, false},
    {"Photoshop Handle Suite for Plug-ins", 0, true},
    {"Photoshop Handle Suite for Plug-ins", 1, true},
    {"Photoshop Handle Suite for Plug-ins", 2, false},
    {"Photoshop Property Suite for Plug-ins", 1, true},
    {"Photoshop Image Services Suite for Plug-ins", 1, true},
    {"Photoshop Resource Suite for Plug-ins", 3, true},
    {"Photoshop Resource Suite for Plug-ins", 4, false},
    {"Photoshop ColorSpace Suite for Plug-ins", 1, false},
    {"ADM Basic Suite", 0, false},
    {"SP Blocks Suite ", 1, false},
};

}  // namespace

TEST(SPBasic, AcquireServesExactNamesUpToTheirVersion) {
  SPBasicSuite basic = Basic();
  for (const AcquireCase& c : kAcquireCases) {
    const void* table = kUntouched;
    SPErr result = basic.AcquireSuite(c.name, c.version, &table);
    if (c.served) {
      EXPECT_EQ(kSPNoError, result) << c.name << " v" << c.version;
      EXPECT_NE(kUntouched, table) << c.name << " v" << c.version;
      EXPECT_NE(nullptr, table) << c.name << " v" << c.version;
    } else {
      EXPECT_EQ(kSPUnimplementedError, result) << c.name << " v" << c.version;
      EXPECT_EQ(kUntouched, table) << c.name << " v" << c.version << ": out pointer written on refusal";
    }
  }
  EXPECT_EQ(kSPNoError, basic.ReleaseSuite("SP Blocks Suite", 2));
}

TEST(SPBasic, RefusalForWantOfTheSuiteRecordsItsName) {
  SPBasicSuite basic = Basic();
  const void* table = nullptr;
  EXPECT_EQ(kSPUnimplementedError, basic.AcquireSuite("ADM Basic Suite", 7, &table));
  EXPECT_STREQ("ADM Basic Suite", MissingServiceName());
  // A known suite at too new a version is no missing service.
  EXPECT_EQ(kSPUnimplementedError, basic.AcquireSuite("SP Blocks Suite", 3, &table));
  EXPECT_STREQ("ADM Basic Suite", MissingServiceName());
  // Served suites leave the name alone too.
  EXPECT_EQ(kSPNoError, basic.AcquireSuite("SP Blocks Suite", 2, &table));
  EXPECT_STREQ("ADM Basic Suite", MissingServiceName());

  std::string longName(300, 'n');
  longName[0] = 'L';
  EXPECT_EQ(kSPUnimplementedError, basic.AcquireSuite(longName.c_str(), 1, &table));
  EXPECT_EQ(longName.substr(0, 255), std::string(MissingServiceName()));

  EXPECT_EQ(kSPBadParameterError, basic.AcquireSuite(nullptr, 1, &table));
  EXPECT_EQ(kSPBadParameterError, basic.AcquireSuite("SP Blocks Suite", 1, nullptr));
  EXPECT_EQ(longName.substr(0, 255), std::string(MissingServiceName()));
}

TEST(SPBasic, BlocksReallocateCopiesTheSmallerSize) {
  SPBasicSuite basic = Basic();
  void* block = nullptr;
  ASSERT_EQ(kSPNoError, basic.AllocateBlock(100, &block));
  ASSERT_NE(nullptr, block);
  memset(block, 0x77, 100);

  void* small = nullptr;
  ASSERT_EQ(kSPNoError, basic.ReallocateBlock(block, 10, &small));
  for (int i = 0; i < 10; ++i) ASSERT_EQ(0x77, static_cast<uint8_t*>(small)[i]) << "byte " << i;

  void* big = nullptr;
  ASSERT_EQ(kSPNoError, basic.AllocateBlock(100, &block));
  memset(block, 0x66, 100);
  ASSERT_EQ(kSPNoError, basic.ReallocateBlock(block, 1000, &big));
  for (int i = 0; i < 100; ++i) ASSERT_EQ(0x66, static_cast<uint8_t*>(big)[i]) << "byte " << i;
  for (int i = 100; i < 1000; ++i) ASSERT_EQ(0, static_cast<uint8_t*>(big)[i]) << "byte " << i;

  // A failed reallocation leaves the old block whole.
  void* failed = big;  // a sentinel the failure must overwrite with null
  {
    AllocationFailure fail(1);
    EXPECT_EQ(kSPOutOfMemoryError, basic.ReallocateBlock(big, 2000, &failed));
  }
  EXPECT_EQ(nullptr, failed);
  EXPECT_EQ(0x66, static_cast<uint8_t*>(big)[99]);
  {
    AllocationFailure fail(1);
    void* none = big;
    EXPECT_EQ(kSPOutOfMemoryError, basic.AllocateBlock(8, &none));
    EXPECT_EQ(nullptr, none);
  }
  EXPECT_EQ(kSPNoError, basic.FreeBlock(small));
  EXPECT_EQ(kSPNoError, basic.FreeBlock(big));
  EXPECT_EQ(kSPNoError, basic.Undefined());

  EXPECT_EQ(1, basic.IsEqual("", ""));
  EXPECT_EQ(1, basic.IsEqual("SP Blocks Suite", "SP Blocks Suite"));
  EXPECT_EQ(0, basic.IsEqual("SP Blocks Suite", "SP Blocks suite"));
  EXPECT_EQ(0, basic.IsEqual("abc", "abcd"));
}

TEST(SPBasic, BlocksSuiteIgnoresTheDebugText) {
  const void* table = nullptr;
  ASSERT_EQ(kSPNoError, Basic().AcquireSuite(kSPBlocksSuite, 2, &table));
  const SPBlocksSuite* blocks = static_cast<const SPBlocksSuite*>(table);
  void* block = nullptr;
  ASSERT_EQ(kSPNoError, blocks->AllocateBlock(16, "debug", &block));
  static_cast<uint8_t*>(block)[15] = 9;
  void* moved = nullptr;
  ASSERT_EQ(kSPNoError, blocks->ReallocateBlock(block, 32, nullptr, &moved));
  EXPECT_EQ(9, static_cast<uint8_t*>(moved)[15]);
  EXPECT_EQ(kSPNoError, blocks->FreeBlock(moved));
}

// Plug-ins declare these three suites as the procs records, header first.
TEST(SPBasic, ProcsSuitesCarryTheirHeader) {
  SPBasicSuite basic = Basic();
  const void* table = nullptr;
  ASSERT_EQ(kSPNoError, basic.AcquireSuite(kPSPropertySuite, 1, &table));
  const PropertyProcs* properties = static_cast<const PropertyProcs*>(table);
  EXPECT_EQ(1, properties->propertyProcsVersion);
  EXPECT_EQ(2, properties->numPropertyProcs);
  intptr_t value = 0;
  EXPECT_EQ(noErr, properties->getPropertyProc(kHostSignature, FourCC("nuly"), 0, &value, nullptr));
  EXPECT_EQ(1, static_cast<int32_t>(value));

  ASSERT_EQ(kSPNoError, basic.AcquireSuite(kPSResourceSuite, 3, &table));
  const ResourceProcs* resources = static_cast<const ResourceProcs*>(table);
  EXPECT_EQ(3, resources->resourceProcsVersion);
  EXPECT_EQ(4, resources->numResourceProcs);
  EXPECT_EQ(0, resources->countProc(FourCC("PIPL")));
  EXPECT_EQ(nullptr, resources->getProc(FourCC("PIPL"), 1));
}

TEST(UIHooksSuite, EntriesReachTheHostProcedures) {
  JobScope scope;
  scope.job.hostWindow = 0x12345678;
  const void* table = nullptr;
  ASSERT_EQ(kSPNoError, Basic().AcquireSuite(kPSUIHooksSuite, 3, &table));
  const PSUIHooksSuite3* hooks = static_cast<const PSUIHooksSuite3*>(table);

  EXPECT_EQ(0x12345678, hooks->MainAppWindow());
  PublishJob(nullptr);
  ThePluginRecords()->platformData.hwnd = 0x4321;  // as the About call leaves it
  EXPECT_EQ(0x4321, hooks->MainAppWindow());
  ThePluginRecords()->platformData.hwnd = 0;

  // The engine's displayPixels: bad arguments are refused, not drawn.
  EXPECT_EQ(filterBadParameters, hooks->displayPixels(nullptr, nullptr, 0, 0, nullptr));
  EXPECT_EQ(kSPNoError, hooks->SetCursor("Photoshop Cursor Watch"));
  EXPECT_EQ(kSPNoError, hooks->SetCursor(nullptr));
  EXPECT_EQ(kSPOutOfMemoryError, hooks->GetPluginName(nullptr, nullptr));
  EXPECT_EQ(kSPOutOfMemoryError, hooks->SetPluginMenuEntry(nullptr, nullptr, 0));
  EXPECT_EQ(kSPOutOfMemoryError, hooks->GetLocalizedFileName(nullptr, nullptr));
  hooks->processEvent(nullptr);

  CurrentCall()->abortFlag = 0;
  EXPECT_EQ(0, hooks->testAbort());
}
