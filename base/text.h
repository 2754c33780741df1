// Bounded UTF-16 text, paths and code-page conversion.
// Every routine respects a capacity counted in code units (terminator included)
// and always leaves a terminated string; none allocates.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdarg>

constexpr int32_t TEXT_OK = 0;
constexpr int32_t TEXT_INVALID_ARG = static_cast<int32_t>(0x80070057u);
constexpr int32_t TEXT_TRUNCATED = static_cast<int32_t>(0x8007007Au);
constexpr size_t TEXT_MAX_CAPACITY = 0x7FFFFFFF;

constexpr size_t PATH_UNITS = 260;
constexpr size_t NAME_UNITS = 256;
constexpr size_t PIPE_NAME_UNITS = 64;
constexpr size_t PATH_WORK_UNITS = 520;

// The trim sets the callers use.
extern const wchar_t kCommandLineTrimSet[];  // blank, quote, tab, CR, LF
extern const wchar_t kPathTrimSet[];         // blank, tab, CR, LF

int32_t BoundedCopyW(wchar_t* dst, size_t capacity, const wchar_t* src);
int32_t BoundedCopyNW(wchar_t* dst /* 260 units */, const wchar_t* src, size_t maxUnits);
int32_t BoundedAppendW(wchar_t* dst /* 520 units */, const wchar_t* src);
// The format is always our own literal: untrusted text goes in as an argument.
int32_t BoundedFormatW(wchar_t* dst, size_t capacity, const wchar_t* format, ...);
int32_t BoundedFormatVW(wchar_t* dst, size_t capacity, const wchar_t* format, va_list args);

bool IsBadPointerW(const wchar_t* text);
bool IsBadStringW(const wchar_t* text);

// Index of the last separator, or -1 for none.
ptrdiff_t FindLastSeparator(const wchar_t* path);
// -1 everything trimmed away, 0 bad or empty text, 1 otherwise. A null set
// means white space.
int TrimW(wchar_t* text, const wchar_t* set);
// -1 no "%1" (plain copy), 0 would not fit (bounded copy of the source), 1 done.
int ReplaceAllW(wchar_t* dst, size_t capacity, const wchar_t* src, const wchar_t* replacement);

// ANSI code page to UTF-16. Answers the units converted (terminator included),
// the units needed when dst is null, or the complement of the bytes widened
// one by one when the conversion failed.
int ToWideString(wchar_t* dst, size_t capacity, const char* src);
constexpr size_t NARROW_UNITS = 260;
int ToNarrowString(char* dst /* 260 bytes */, const wchar_t* src);

// Equal without regard to ASCII case.
bool EqualsAsciiNoCase(const wchar_t* a, const wchar_t* b);
