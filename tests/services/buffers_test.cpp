#include <cstring>

#include "gtest/gtest.h"
#include "sdk/procs.h"
#include "sdk/suites.h"
#include "services/host_services.h"
#include "tests/support/caller.h"
#include "tests/support/job_scope.h"

namespace {

const PSBufferSuite1* AcquireBufferSuite(CallerLine caller = CallerLine::current()) {
  TRACE_CALLER(caller);
  SPBasicSuite basic;
  FillSPBasic(&basic);
  const void* table = nullptr;
  EXPECT_EQ(kSPNoError, basic.AcquireSuite(kPSBufferSuite, 1, &table));
  return static_cast<const PSBufferSuite1*>(table);
}

}  // namespace

TEST(BufferProcs, AllocateRefusesBadArgumentsWithoutTouchingTheOutValue) {
  BufferProcs p;
  FillBufferProcs(&p);
  EXPECT_EQ(2, p.bufferProcsVersion);
  EXPECT_EQ(5, p.numBufferProcs);
  EXPECT_EQ(nullptr, p.reserveProc) << "slots past the count stay empty";

  BufferID sentinel = reinterpret_cast<BufferID>(static_cast<uintptr_t>(0x5EED));
  BufferID id = sentinel;
  EXPECT_EQ(paramErr, p.allocateProc(0, &id));
  EXPECT_EQ(paramErr, p.allocateProc(-10, &id));
  EXPECT_EQ(sentinel, id);
  EXPECT_EQ(paramErr, p.allocateProc(10, nullptr));
  EXPECT_EQ(0x40000000, p.spaceProc());
}

TEST(BufferProcs, MovableBufferKeepsItsBytesAcrossLocks) {
  BufferProcs p;
  FillBufferProcs(&p);
  BufferID id = nullptr;
  ASSERT_EQ(noErr, p.allocateProc(4096, &id));
  ASSERT_NE(nullptr, id);
  Ptr data = p.lockProc(id, 1);
  ASSERT_NE(nullptr, data);
  EXPECT_NE(static_cast<void*>(id), static_cast<void*>(data)) << "an ID is a movable handle, not the address";
  memset(data, 0x5A, 4096);
  p.unlockProc(id);
  Ptr again = p.lockProc(id, 0);
  ASSERT_NE(nullptr, again);
  EXPECT_EQ(0x5A, static_cast<uint8_t>(again[0]));
  EXPECT_EQ(0x5A, static_cast<uint8_t>(again[4095]));
  p.unlockProc(id);
  p.freeProc(id);
}

TEST(BufferSuite, NewChoosesTheSizeAndReportsWhatItGot) {
  const PSBufferSuite1* suite = AcquireBufferSuite();
  ASSERT_NE(nullptr, suite);

  uint32_t requested = 100;
  Ptr a = suite->New(&requested, 200);  // the minimum wins when it is larger
  ASSERT_NE(nullptr, a);
  EXPECT_GE(requested, 200u);
  EXPECT_EQ(requested, suite->GetSize(a));

  Ptr b = suite->New(nullptr, 64);  // no preference: the minimum
  ASSERT_NE(nullptr, b);
  EXPECT_GE(suite->GetSize(b), 64u);
  EXPECT_LT(suite->GetSize(b), 1000u);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(0, b[i]) << "byte " << i;

  requested = 100000;
  Ptr c;
  {
    AllocationFailure fail(1);  // the preferred size cannot be had
    c = suite->New(&requested, 10);
  }
  ASSERT_NE(nullptr, c) << "falls back to the minimum";
  EXPECT_GE(requested, 10u);
  EXPECT_LT(requested, 100000u);

  EXPECT_EQ(0x40000000u, suite->GetSpace());
  suite->Dispose(&a);
  suite->Dispose(&b);
  suite->Dispose(&c);
  EXPECT_EQ(nullptr, a) << "Dispose clears the plug-in's pointer";
  suite->Dispose(&a);  // already null: nothing happens
  suite->Dispose(nullptr);
}
