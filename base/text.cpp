#include "base/text.h"
#include "base/guard.h"
#include "base/text_core.h"

#include <windows.h>
#include <cwchar>

const wchar_t kCommandLineTrimSet[] = L" \"\t\r\n";
const wchar_t kPathTrimSet[] = L" \t\r\n";

static const wchar_t kWhiteSpace[] = L"\x0020\x000C\x000B\x0009\x000D\x000A\x00A0\x1680"
                                     L"\x2000\x2001\x2002\x2003\x2004\x2005\x2006\x2007"
                                     L"\x2008\x2009\x200A\x200B\x202F\x205F\x2060\x3000";

int32_t BoundedCopyW(wchar_t* dst, size_t capacity, const wchar_t* src) {
  return textcore::BoundedCopy(dst, capacity, src);
}

int32_t BoundedCopyNW(wchar_t* dst, const wchar_t* src, size_t maxUnits) {
  if (dst == nullptr) return TEXT_INVALID_ARG;
  if (maxUnits > TEXT_MAX_CAPACITY - 1) {
    dst[0] = 0;
    return TEXT_INVALID_ARG;
  }
  size_t i = 0;
  if (src != nullptr) {
    for (; i + 1 < PATH_UNITS && i < maxUnits && src[i] != 0; ++i) dst[i] = src[i];
  }
  dst[i] = 0;
  return (src != nullptr && i < maxUnits && src[i] != 0) ? TEXT_TRUNCATED : TEXT_OK;
}

int32_t BoundedAppendW(wchar_t* dst, const wchar_t* src) {
  if (dst == nullptr) return TEXT_INVALID_ARG;
  size_t len = 0;
  while (len < PATH_WORK_UNITS && dst[len] != 0) ++len;
  if (len == PATH_WORK_UNITS) return TEXT_INVALID_ARG;
  return BoundedCopyW(dst + len, PATH_WORK_UNITS - len, src);
}

int32_t BoundedFormatVW(wchar_t* dst, size_t capacity, const wchar_t* format, va_list args) {
  if (capacity < 1 || capacity > TEXT_MAX_CAPACITY || dst == nullptr || format == nullptr)
    return TEXT_INVALID_ARG;
  // msvcrt's counted form leaves the buffer unterminated when it cuts.
  int n = _vsnwprintf(dst, capacity - 1, format, args);
  if (n < 0 || static_cast<size_t>(n) > capacity - 1) {
    dst[capacity - 1] = 0;
    return TEXT_TRUNCATED;
  }
  dst[n] = 0;
  return TEXT_OK;
}

int32_t BoundedFormatW(wchar_t* dst, size_t capacity, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int32_t r = BoundedFormatVW(dst, capacity, format, args);
  va_end(args);
  return r;
}

bool IsBadPointerW(const wchar_t* text) {
  if (text == nullptr) return true;
  volatile wchar_t sink = 0;
  int ok = Guarded([&] {
    sink = text[0];
    sink = text[1];
  });
  (void)sink;
  return !ok;
}

bool IsBadStringW(const wchar_t* text) {
  if (IsBadPointerW(text)) return true;
  int ok = Guarded([&] {
    const volatile wchar_t* p = text;
    while (*p != 0) ++p;
  });
  return !ok;
}

ptrdiff_t FindLastSeparator(const wchar_t* path) {
  if (IsBadStringW(path)) return -1;
  return textcore::LastSeparator(path);
}

int TrimW(wchar_t* text, const wchar_t* set) {
  if (IsBadStringW(text)) return 0;
  return textcore::Trim(text, set != nullptr ? set : kWhiteSpace);
}

int ReplaceAllW(wchar_t* dst, size_t capacity, const wchar_t* src, const wchar_t* replacement) {
  return textcore::ReplaceAll(dst, capacity, src, replacement);
}

int ToWideString(wchar_t* dst, size_t capacity, const char* src) {
  if (src == nullptr) return 0;
  if (dst == nullptr || capacity == 0) return MultiByteToWideChar(CP_ACP, 0, src, -1, nullptr, 0);
  if (capacity > TEXT_MAX_CAPACITY) capacity = TEXT_MAX_CAPACITY;
  int result = 0;
  Guarded([&] {
    result = MultiByteToWideChar(CP_ACP, 0, src, -1, dst, static_cast<int>(capacity));
  });
  if (result > 0) {
    dst[static_cast<size_t>(result) < capacity ? result : capacity - 1] = 0;
  } else {
    // Too small a destination, or bytes the code page refuses: widen byte by byte.
    size_t n = 0;
    Guarded([&] {
      for (; n + 1 < capacity && src[n] != 0; ++n)
        dst[n] = static_cast<wchar_t>(static_cast<unsigned char>(src[n]));
    });
    dst[n] = 0;
    result = ~static_cast<int>(n);
  }
  size_t i = 0;
  while (i + 1 < capacity && dst[i] != 0) ++i;
  dst[i] = 0;
  return result;
}

int ToNarrowString(char* dst, const wchar_t* src) {
  if (src == nullptr) return 0;
  if (dst == nullptr) return WideCharToMultiByte(CP_ACP, 0, src, -1, nullptr, 0, nullptr, nullptr);
  const size_t capacity = NARROW_UNITS;
  int result = 0;
  Guarded([&] {
    result = WideCharToMultiByte(CP_ACP, 0, src, -1, dst, static_cast<int>(capacity), nullptr, nullptr);
  });
  if (result > 0) {
    dst[static_cast<size_t>(result) < capacity ? result : capacity - 1] = 0;
  } else {
    size_t n = 0;
    Guarded([&] {
      for (; n + 1 < capacity && src[n] != 0; ++n) dst[n] = static_cast<char>(src[n] & 0xFF);
    });
    dst[n] = 0;
    result = ~static_cast<int>(n);
  }
  size_t i = 0;
  while (i + 1 < capacity && dst[i] != 0) ++i;
  dst[i] = 0;
  return result;
}

static wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

bool EqualsAsciiNoCase(const wchar_t* a, const wchar_t* b) {
  if (a == nullptr || b == nullptr) return false;
  for (; *a != 0 && *b != 0; ++a, ++b)
    if (AsciiLower(*a) != AsciiLower(*b)) return false;
  return *a == *b;
}
