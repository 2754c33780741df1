// Small decisions of the tool that need no system calls: which listed
// plug-in a command means, where a batch writes, how progress looks.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct ListedPlugin {
  std::wstring name;
  std::wstring entryPoint;
  std::wstring path;
  int bits;           // 64 or 32: the server that listed it
  int64_t serverIndex;  // its index in that server's catalogue
};

constexpr int64_t PLUGIN_NOT_FOUND = -1;
constexpr int64_t PLUGIN_AMBIGUOUS = -2;

// An exact name first, then a name equal without regard to ASCII case, then
// a decimal index into the list. Among the names that match, a 64-bit
// plug-in is taken before a 32-bit one (the same plug-in built twice); two of
// the same processor are PLUGIN_AMBIGUOUS, with the indices of every match
// in *matches (optional). PLUGIN_NOT_FOUND: none.
int64_t ChoosePlugin(const std::vector<ListedPlugin>& plugins, const std::wstring& text,
                     std::vector<int64_t>* matches = nullptr);

enum ImageFileType : int {
  IMAGE_FILE_UNKNOWN = 0,
  IMAGE_FILE_PNG = 1,
  IMAGE_FILE_BMP = 2,
};

// The written type, by the path's extension (without regard to case).
ImageFileType ImageTypeForPath(const std::wstring& path);

// OUTDIR\name (or OUTDIR/name, as OUTDIR is written) of the input: the extension kept for .png and .bmp, else .png.
std::wstring BatchOutputPath(const std::wstring& outputFolder, const std::wstring& input);

// The folder part of a path as written ("" for a bare name; a root keeps
// its separator), for checking that an output's folder exists.
std::wstring ParentFolder(const std::wstring& path);

// "[##########----------]  50%" with `width` cells; out-of-range values clamp.
std::string ProgressBarText(double progress, int width);
// Whole percent shown for a progress value, 0 to 100.
int ProgressPercent(double progress);
