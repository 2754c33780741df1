#include <windows.h>

#include <cstring>
#include <string>

#include "gtest/gtest.h"
#include "base/text.h"

TEST(BoundedCopy, CutsAndReportsTruncation) {
  wchar_t dst[8];
  EXPECT_EQ(TEXT_TRUNCATED, BoundedCopyW(dst, 4, L"abcdef"));
  EXPECT_STREQ(L"abc", dst);
  EXPECT_EQ(TEXT_OK, BoundedCopyW(dst, 8, L"abc"));
  EXPECT_STREQ(L"abc", dst);
}

TEST(BoundedCopy, RefusesBadCapacityAndLeavesDestination) {
  wchar_t dst[4] = {L'x', L'y', 0, 0};
  EXPECT_EQ(TEXT_INVALID_ARG, BoundedCopyW(dst, 0, L"abc"));
  EXPECT_STREQ(L"xy", dst);
  EXPECT_EQ(TEXT_INVALID_ARG, BoundedCopyW(dst, 0x80000000u, L"abc"));
  EXPECT_STREQ(L"xy", dst);
}

TEST(BoundedCopy, CountedCopyStopsAfterN) {
  wchar_t dst[PATH_UNITS];
  EXPECT_EQ(TEXT_OK, BoundedCopyNW(dst, L"abcdef", 3));
  EXPECT_STREQ(L"abc", dst);
  std::wstring longText(400, L'q');
  EXPECT_EQ(TEXT_TRUNCATED, BoundedCopyNW(dst, longText.c_str(), 1000));
  EXPECT_EQ(259u, wcslen(dst));
  dst[0] = L'z';
  EXPECT_EQ(TEXT_INVALID_ARG, BoundedCopyNW(dst, L"abc", 0x7FFFFFFFu));
  EXPECT_STREQ(L"", dst);
}

TEST(BoundedAppend, AppendsWithin520Units) {
  wchar_t dst[PATH_WORK_UNITS] = L"C:\\dir";
  EXPECT_EQ(TEXT_OK, BoundedAppendW(dst, L"\\file"));
  EXPECT_STREQ(L"C:\\dir\\file", dst);
  std::wstring longText(600, L'a');
  EXPECT_EQ(TEXT_TRUNCATED, BoundedAppendW(dst, longText.c_str()));
  EXPECT_EQ(PATH_WORK_UNITS - 1, wcslen(dst));
}

TEST(BoundedFormat, CutsAndTerminates) {
  wchar_t dst[16];
  EXPECT_EQ(TEXT_TRUNCATED, BoundedFormatW(dst, 1, L"%ls", L"x"));
  EXPECT_STREQ(L"", dst);
  EXPECT_EQ(TEXT_OK, BoundedFormatW(dst, 1, L"%ls", L""));
  EXPECT_EQ(TEXT_OK, BoundedFormatW(dst, 16, L"n=%d", -32768));
  EXPECT_STREQ(L"n=-32768", dst);
  EXPECT_EQ(TEXT_TRUNCATED, BoundedFormatW(dst, 5, L"%ls", L"abcdefgh"));
  EXPECT_STREQ(L"abcd", dst);
  // Exactly filling the buffer still leaves room for the terminator.
  EXPECT_EQ(TEXT_OK, BoundedFormatW(dst, 5, L"%ls", L"abcd"));
  EXPECT_STREQ(L"abcd", dst);
  EXPECT_EQ(TEXT_INVALID_ARG, BoundedFormatW(dst, 0, L"%ls", L"a"));
}

TEST(Trim, CommandLineSet) {
  wchar_t text[32] = L"  \"pipe1\"\r\n";
  EXPECT_EQ(1, TrimW(text, kCommandLineTrimSet));
  EXPECT_STREQ(L"pipe1", text);
  wchar_t blank[8] = L" \" ";
  EXPECT_EQ(-1, TrimW(blank, kCommandLineTrimSet));
  EXPECT_STREQ(L"", blank);
  EXPECT_EQ(0, TrimW(nullptr, kCommandLineTrimSet));
  wchar_t empty[2] = L"";
  EXPECT_EQ(0, TrimW(empty, kCommandLineTrimSet));
}

TEST(Trim, DefaultWhiteSpaceIncludesUnicodeSpaces) {
  wchar_t text[16] = L"\x3000\x00A0 x y\x2009";
  EXPECT_EQ(1, TrimW(text, nullptr));
  EXPECT_STREQ(L"x y", text);
}

TEST(FindLastSeparator, Cases) {
  EXPECT_EQ(6, FindLastSeparator(L"D:\\dir\\file.exe"));
  EXPECT_EQ(6, FindLastSeparator(L"D:/dir/file.exe"));
  EXPECT_EQ(-1, FindLastSeparator(L"file.exe"));
  EXPECT_EQ(-1, FindLastSeparator(L"\\x"));
  EXPECT_EQ(-1, FindLastSeparator(L"\\\\server"));
  EXPECT_EQ(1, FindLastSeparator(L"\\/x"));  // not a network prefix: the units differ
  EXPECT_EQ(-1, FindLastSeparator(L""));
  EXPECT_EQ(-1, FindLastSeparator(nullptr));
}

TEST(ReplaceAll, Cases) {
  wchar_t dst[64];
  EXPECT_EQ(1, ReplaceAllW(dst, 64, L"Cannot open %1", L"a.8bf"));
  EXPECT_STREQ(L"Cannot open a.8bf", dst);
  EXPECT_EQ(-1, ReplaceAllW(dst, 64, L"no token", L"a.8bf"));
  EXPECT_STREQ(L"no token", dst);
  EXPECT_EQ(1, ReplaceAllW(dst, 64, L"%1 and %1!", L"x"));
  EXPECT_STREQ(L"x and x!", dst);
  // Would not fit: the unchanged source, cut to the capacity.
  EXPECT_EQ(0, ReplaceAllW(dst, 12, L"open %1 now", L"a-very-long-name"));
  EXPECT_STREQ(L"open %1 now", dst);
}

TEST(WideConversion, CutsWithNegativeResultAndWidensBytes) {
  wchar_t dst[4];
  int r = ToWideString(dst, 4, "abcdef");
  EXPECT_LT(r, 0);
  EXPECT_STREQ(L"abc", dst);
  wchar_t wide[8];
  const char e[] = {static_cast<char>(0xE9), 0};
  ToWideString(wide, 8, e);
  // Code page 1252 and the byte fallback agree on this one.
  EXPECT_EQ(0x00E9, wide[0]);
  EXPECT_EQ(0, ToWideString(wide, 8, nullptr));
  EXPECT_EQ(4, ToWideString(nullptr, 0, "abc"));
}

TEST(NarrowConversion, BoundedTo260Bytes) {
  char dst[NARROW_UNITS];
  EXPECT_EQ(4, ToNarrowString(dst, L"abc"));
  EXPECT_STREQ("abc", dst);
  std::wstring longText(400, L'a');
  EXPECT_LT(ToNarrowString(dst, longText.c_str()), 0);
  EXPECT_EQ(NARROW_UNITS - 1, strlen(dst));
}

TEST(GuardedStringTests, UnmappedMemoryIsBadWithoutEndingTheProcess) {
  void* page = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_NE(nullptr, page);
  EXPECT_TRUE(IsBadStringW(static_cast<const wchar_t*>(page)));
  EXPECT_TRUE(IsBadPointerW(static_cast<const wchar_t*>(page)));
  VirtualFree(page, 0, MEM_RELEASE);
  EXPECT_TRUE(IsBadStringW(nullptr));
  EXPECT_FALSE(IsBadStringW(L"ok"));
}

TEST(GuardedStringTests, StringRunningIntoNoAccessPageIsBad) {
  uint8_t* pages = static_cast<uint8_t*>(VirtualAlloc(nullptr, 8192, MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(nullptr, pages);
  DWORD old = 0;
  VirtualProtect(pages + 4096, 4096, PAGE_NOACCESS, &old);
  wchar_t* tail = reinterpret_cast<wchar_t*>(pages + 4096 - 8);
  for (int i = 0; i < 4; ++i) tail[i] = L'x';  // no terminator before the guard
  EXPECT_FALSE(IsBadPointerW(tail));
  EXPECT_TRUE(IsBadStringW(tail));
  VirtualFree(pages, 0, MEM_RELEASE);
}
