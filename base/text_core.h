// The text routines' logic over any 16-bit code unit, free of Windows headers:
// the server uses it with wchar_t, the native fuzz build with char16_t. The
// callers check that the text is readable first; nothing here is guarded.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace textcore {

constexpr int32_t kOk = 0;
constexpr int32_t kInvalidArg = static_cast<int32_t>(0x80070057u);
constexpr int32_t kTruncated = static_cast<int32_t>(0x8007007Au);
constexpr size_t kMaxCapacity = 0x7FFFFFFF;

template <class U>
size_t Length(const U* s) {
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

template <class U>
int32_t BoundedCopy(U* dst, size_t capacity, const U* src) {
  if (capacity < 1 || capacity > kMaxCapacity || dst == nullptr) return kInvalidArg;
  size_t i = 0;
  if (src != nullptr)
    for (; i + 1 < capacity && src[i] != 0; ++i) dst[i] = src[i];
  dst[i] = 0;
  return (src != nullptr && src[i] != 0) ? kTruncated : kOk;
}

template <class U>
bool IsSeparator(U c) {
  return c == U('\\') || c == U('/');
}

// Index of the last separator at 1 or more, or -1; the second unit of a
// network prefix ("\\" or "//") never counts.
template <class U>
ptrdiff_t LastSeparator(const U* path) {
  const size_t len = Length(path);
  if (len < 2) return -1;
  for (size_t i = len - 1; i >= 1; --i) {
    if (!IsSeparator(path[i])) continue;
    if (i == 1 && IsSeparator(path[0]) && path[0] == path[1]) return -1;
    return static_cast<ptrdiff_t>(i);
  }
  return -1;
}

template <class U>
bool InSet(U c, const U* set) {
  for (const U* s = set; *s != 0; ++s)
    if (*s == c) return true;
  return false;
}

// -1 everything was in the set (the text is now empty), 0 empty text, 1 trimmed.
template <class U>
int Trim(U* text, const U* set) {
  if (text[0] == 0) return 0;
  size_t len = Length(text);
  size_t lead = 0;
  while (lead < len && InSet(text[lead], set)) ++lead;
  if (lead == len) {
    text[0] = 0;
    return -1;
  }
  if (lead > 0) {
    memmove(text, text + lead, (len - lead + 1) * sizeof(U));
    len -= lead;
  }
  for (size_t i = len; i-- > 0;) {
    if (!InSet(text[i], set)) break;
    text[i] = 0;
  }
  return 1;
}

template <class U>
const U* FindToken(const U* s) {  // the next "%1"
  for (; *s != 0; ++s)
    if (s[0] == U('%') && s[1] == U('1')) return s;
  return nullptr;
}

// -1 no "%1" (plain bounded copy), 0 would not fit (bounded copy of the
// unchanged source), 1 every "%1" replaced.
template <class U>
int ReplaceAll(U* dst, size_t capacity, const U* src, const U* replacement) {
  if (dst == nullptr || capacity < 1 || src == nullptr) return 0;
  static const U kEmpty[1] = {0};
  if (replacement == nullptr) replacement = kEmpty;
  const size_t replLen = Length(replacement);
  dst[0] = 0;
  const U* hit = FindToken(src);
  if (hit == nullptr) {
    BoundedCopy(dst, capacity, src);
    return -1;
  }
  size_t written = 0;
  const U* rest = src;
  while (hit != nullptr) {
    const size_t before = static_cast<size_t>(hit - rest);
    if (written + before >= capacity) break;
    memcpy(dst + written, rest, before * sizeof(U));
    written += before;
    dst[written] = 0;
    if (written + replLen >= capacity) break;
    memcpy(dst + written, replacement, replLen * sizeof(U));
    written += replLen;
    dst[written] = 0;
    rest = hit + 2;
    hit = FindToken(rest);
  }
  if (hit == nullptr) {
    const size_t tail = Length(rest);
    if (written + tail < capacity) {
      memcpy(dst + written, rest, (tail + 1) * sizeof(U));
      return 1;
    }
  }
  BoundedCopy(dst, capacity, src);
  return 0;
}

}  // namespace textcore
