// Path editing of the folder walk.
#include <windows.h>

#include <string>

#include "catalogue/folder_scan.h"
#include "gtest/gtest.h"
#include "base/text.h"
#include "tests/catalogue/catalogue_support.h"

namespace {

std::wstring Join(const std::wstring& base, const wchar_t* rel, bool* ok = nullptr) {
  wchar_t buffer[PATH_WORK_UNITS] = {};
  wcsncpy(buffer, base.c_str(), PATH_WORK_UNITS - 1);
  bool result = JoinPath(buffer, rel);
  if (ok != nullptr) *ok = result;
  return buffer;
}

}  // namespace

TEST(PathJoin, ResolvesParentAndCurrentGroupsAndSeparators) {
  struct Case {
    const wchar_t* base;
    const wchar_t* rel;
    const wchar_t* expected;
  } cases[] = {
      {L"D:\\Plugins\\Sub", L"..\\Other\\x.8bf", L"D:\\Plugins\\Other\\x.8bf"},
      {L"D:\\Plugins\\", L"/x.8bf", L"D:\\Plugins\\x.8bf"},
      {L"\\\\server", L"..\\x", L"\\\\server\\x"},  // the network start is never cut
      {L"D:/Plugins/Sub/", L"./.\\a/b.8bf", L"D:\\Plugins\\Sub\\a\\b.8bf"},
      {L" \tD:\\Plugins\r\n", L"  x.8bf \r\n", L"D:\\Plugins\\x.8bf"},
      {L"D:\\A\\B", L"..\\..\\..\\..\\c", L"D:\\c"},
      {L"D:\\Plugins", L"*", L"D:\\Plugins\\*"},
      {L"D:\\Plugins\\", L".\\", L"D:\\Plugins"},  // nothing left: the normalised folder
  };
  for (const Case& c : cases) {
    bool ok = false;
    EXPECT_EQ(std::wstring(c.expected), Join(c.base, c.rel, &ok))
        << Narrow(c.base) << " + " << Narrow(c.rel);
    EXPECT_TRUE(ok) << Narrow(c.base) << " + " << Narrow(c.rel);
  }
}

TEST(PathJoin, EmptyOrBadRelativeFailsAndLeavesTheBase) {
  bool ok = true;
  EXPECT_EQ(L"D:\\Plugins\\", Join(L"D:\\Plugins\\", L"", &ok));
  EXPECT_FALSE(ok);
  EXPECT_EQ(L"D:\\Plugins\\", Join(L"D:\\Plugins\\", nullptr, &ok));
  EXPECT_FALSE(ok);
}

TEST(PathEdit, RemoveLastComponentAndStripTrailingSeparators) {
  wchar_t p[PATH_WORK_UNITS];
  wcscpy(p, L"C:\\a\\b");
  EXPECT_TRUE(RemoveLastComponent(p));
  EXPECT_STREQ(L"C:\\a", p);
  wcscpy(p, L"file.8bf");
  EXPECT_FALSE(RemoveLastComponent(p));
  EXPECT_STREQ(L"file.8bf", p);
  wcscpy(p, L"\\\\server");
  EXPECT_FALSE(RemoveLastComponent(p));
  EXPECT_STREQ(L"\\\\server", p);
  wcscpy(p, L"\\x");
  EXPECT_FALSE(RemoveLastComponent(p));

  wcscpy(p, L"C:\\a\\/ \t\r\n");
  EXPECT_TRUE(StripTrailingSeparators(p));
  EXPECT_STREQ(L"C:\\a", p);
  wcscpy(p, L"\\\\");
  EXPECT_TRUE(StripTrailingSeparators(p));
  EXPECT_STREQ(L"\\", p);  // never before the first character
  wcscpy(p, L"");
  EXPECT_FALSE(StripTrailingSeparators(p));
  EXPECT_FALSE(StripTrailingSeparators(nullptr));
}

TEST(PathEdit, ExistingFolderNeedsASeparatorAndAFolder) {
  ScratchFolder scratch;
  ASSERT_TRUE(WriteBytes(scratch / L"file.8bf", {1, 2, 3}));
  EXPECT_TRUE(IsExistingFolder(scratch.path.c_str()));
  EXPECT_TRUE(IsExistingFolder((scratch.path + L"\\ \r\n").c_str()));
  EXPECT_TRUE(IsExistingFolder((scratch.path + L"/").c_str()));
  EXPECT_FALSE(IsExistingFolder((scratch / L"file.8bf").c_str()));
  EXPECT_FALSE(IsExistingFolder((scratch / L"missing").c_str()));
  // A bare name is refused even when such a folder exists here.
  wchar_t saved[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, saved);
  ASSERT_TRUE(SetCurrentDirectoryW(scratch.path.c_str()));
  ASSERT_TRUE(MakeFolder(scratch / L"bare"));
  EXPECT_FALSE(IsExistingFolder(L"bare"));
  SetCurrentDirectoryW(saved);
  EXPECT_FALSE(IsExistingFolder((scratch.path + L"\\" + std::wstring(260, L'x')).c_str()));
  EXPECT_FALSE(IsExistingFolder(L""));
  EXPECT_FALSE(IsExistingFolder(nullptr));
}
