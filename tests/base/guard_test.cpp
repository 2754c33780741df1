#include <windows.h>

#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "base/guard.h"
#include "tests/support/server_session.h"

namespace {

using FaultProc = int (*)();

struct FaultLibrary {
  HMODULE module = LoadLibraryW(BesideTest(L"fault_fixture.dll").c_str());
  ~FaultLibrary() {
    if (module != nullptr) FreeLibrary(module);
  }
  FaultProc Get(const char* name) const { return reinterpret_cast<FaultProc>(reinterpret_cast<void*>(GetProcAddress(module, name))); }
};

struct FaultCase {
  const char* exportName;
  uint32_t code;
  bool bare;  // built without unwind information
};

const FaultCase kFaults[] = {
    {"FaultBadWrite", EXCEPTION_ACCESS_VIOLATION, false},
    {"FaultBadRead", EXCEPTION_ACCESS_VIOLATION, false},
    {"FaultNullCall", EXCEPTION_ACCESS_VIOLATION, false},
    {"FaultDivideByZero", EXCEPTION_INT_DIVIDE_BY_ZERO, false},
    {"FaultIllegalInstruction", EXCEPTION_ILLEGAL_INSTRUCTION, false},
    {"FaultBreakpoint", EXCEPTION_BREAKPOINT, false},
    {"FaultPrivilegedInstruction", EXCEPTION_PRIV_INSTRUCTION, false},
    // No walk of the stack from these reaches the guard's frame.
    {"BareWriteInFrame", EXCEPTION_ACCESS_VIOLATION, true},
    {"FaultLyingFramePointer", EXCEPTION_ACCESS_VIOLATION, false},
    // A true leaf: the walk reaches the guard's frame.
    {"BareLeafWrite", EXCEPTION_ACCESS_VIOLATION, true},
};

// Runs every fault kind `rounds` times; answers the number caught as expected.
int RunFaults(const FaultLibrary& lib, int rounds, std::string* firstMismatch) {
  int good = 0;
  for (int i = 0; i < rounds; ++i) {
    for (const FaultCase& fault : kFaults) {
      FaultProc proc = lib.Get(fault.exportName);
      uint32_t code = 0;
      int returned = Guarded([&] { proc(); }, &code);
      if (returned == 0 && code == fault.code) {
        ++good;
      } else if (firstMismatch->empty()) {
        char text[160];
        snprintf(text, sizeof(text), "%s: expected caught 0x%08x, got returned=%d code=0x%08x", fault.exportName,
                 fault.code, returned, code);
        *firstMismatch = text;
      }
    }
  }
  return good;
}

}  // namespace

TEST(GuardedSection, ReturnsOneAndCodeZeroWhenNothingFaults) {
  uint32_t code = 0xdeadbeef;
  int ran = 0;
  EXPECT_EQ(1, Guarded([&] { ran = 1; }, &code));
  EXPECT_EQ(1, ran);
  EXPECT_EQ(0u, code);
}

TEST(GuardedSection, CatchesEveryFaultKindThousandsOfTimesOnTheMainThread) {
  FaultLibrary lib;
  ASSERT_NE(nullptr, lib.module);
#if defined(__x86_64__)
  for (const FaultCase& fault : kFaults) {
    DWORD64 base = 0;
    bool described = RtlLookupFunctionEntry(reinterpret_cast<DWORD64>(lib.Get(fault.exportName)), &base, nullptr);
    EXPECT_EQ(!fault.bare, described) << fault.exportName << ": unwind information expected " << !fault.bare << ", got "
                                      << described;
  }
#endif
  std::string mismatch;
  const int rounds = 500;
  EXPECT_EQ(rounds * static_cast<int>(std::size(kFaults)), RunFaults(lib, rounds, &mismatch)) << mismatch;
}

TEST(GuardedSection, CatchesFaultsOnASecondThread) {
  FaultLibrary lib;
  ASSERT_NE(nullptr, lib.module);
  std::string mismatch;
  int good = 0;
  const int rounds = 500;
  std::thread worker([&] { good = RunFaults(lib, rounds, &mismatch); });
  worker.join();
  EXPECT_EQ(rounds * static_cast<int>(std::size(kFaults)), good) << mismatch;
}

TEST(GuardedSection, NestedGuardsEachKeepTheirOwnCode) {
  FaultLibrary lib;
  uint32_t outer = 0, inner = 0;
  int innerReturned = -1;
  int outerReturned = Guarded(
      [&] {
        innerReturned = Guarded([&] { lib.Get("FaultDivideByZero")(); }, &inner);
        lib.Get("FaultBadRead")();
      },
      &outer);
  EXPECT_EQ(0, innerReturned);
  EXPECT_EQ(static_cast<uint32_t>(EXCEPTION_INT_DIVIDE_BY_ZERO), inner);
  EXPECT_EQ(0, outerReturned);
  EXPECT_EQ(static_cast<uint32_t>(EXCEPTION_ACCESS_VIOLATION), outer);
}

TEST(GuardedSection, APluginThatHandlesItsOwnFaultStillGetsIt) {
  FaultLibrary lib;
  // Each answers 1 when the handler nearest the fault took it.
  for (const char* name : {"FaultCaughtByItself", "LeafFaultCaughtByItself", "BareCallsOneThatCatchesItself",
                           "BareCallsOutputDebugString"}) {
    uint32_t code = 0x5C5C5C5C;
    int handled = 0;
    EXPECT_EQ(1, Guarded([&] { handled = lib.Get(name)(); }, &code)) << name;
    EXPECT_EQ(1, handled) << name;
    EXPECT_EQ(0u, code) << name;
  }
}

TEST(GuardedSection, AHandlerNamedOnlyByStaleStackIsNotCalled) {
  FaultLibrary lib;
  const int before = lib.Get("OwnHandlerSaw")();
  uint32_t code = 0;
  EXPECT_EQ(0, Guarded([&] { lib.Get("BareWriteOverAStaleHandler")(); }, &code));
  EXPECT_EQ(static_cast<uint32_t>(EXCEPTION_ACCESS_VIOLATION), code);
  EXPECT_EQ(before, lib.Get("OwnHandlerSaw")()) << "the handler of a frame that is not there was called";
}

TEST(GuardedSection, APluginsTerminationHandlerRunsWhenItsFaultIsCaught) {
  FaultLibrary lib;
  int before = lib.Get("OwnFinallyRuns")();
  uint32_t code = 0;
  EXPECT_EQ(0, Guarded([&] { lib.Get("FaultUnderItsOwnFinally")(); }, &code));
  EXPECT_EQ(static_cast<uint32_t>(EXCEPTION_ACCESS_VIOLATION), code);
  EXPECT_EQ(before + 1, lib.Get("OwnFinallyRuns")()) << "expected the termination handler to run once";
}

namespace {
// Runs the child with an exception code and returns what it printed.
std::string RunGuardChild(const wchar_t* code) {
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return "no pipe";
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  std::wstring exe = BesideTest(L"guard_child.exe");
  std::wstring line = L"\"" + exe + L"\" " + code;
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  PROCESS_INFORMATION pi{};
  std::string out;
  if (CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    CloseHandle(writeEnd);
    writeEnd = nullptr;
    char buffer[256];
    DWORD n = 0;
    while (ReadFile(readEnd, buffer, sizeof(buffer), &n, nullptr) && n > 0) out.append(buffer, n);
    WaitForSingleObject(pi.hProcess, 30000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  } else {
    out = "not started";
  }
  if (writeEnd != nullptr) CloseHandle(writeEnd);
  CloseHandle(readEnd);
  return out;
}
}  // namespace

TEST(GuardedSection, PassesOnGuardPageViolationsAndStackOverflows) {
  // The child's last-chance filter reports what the guard let through; only
  // its explicit markers count, never its exit code.
  std::string guardPage = RunGuardChild(L"80000001");
  EXPECT_NE(std::string::npos, guardPage.find("passed-on 0x80000001")) << guardPage;
  EXPECT_EQ(std::string::npos, guardPage.find("reached the end")) << guardPage;
  std::string overflow = RunGuardChild(L"C00000FD");
  EXPECT_NE(std::string::npos, overflow.find("passed-on 0xc00000fd")) << overflow;
  EXPECT_EQ(std::string::npos, overflow.find("reached the end")) << overflow;
}

TEST(GuardedSection, TakesOtherRaisedExceptionsIncludingForeignOnes) {
  std::string out = RunGuardChild(L"E06D7363");  // what a C++ throw escaping a plug-in raises
  EXPECT_NE(std::string::npos, out.find("caught 0xe06d7363")) << out;
  EXPECT_NE(std::string::npos, out.find("reached the end")) << out;
}
