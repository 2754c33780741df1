// Runs plughost-cli.exe as a child process with its output captured, and
// small file helpers for the tool's tests.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct ToolRun {
  bool finished = false;  // false: it did not end within the time limit and was stopped
  uint32_t exitCode = ~0u;
  std::string out;  // stdout, CR removed
  std::string err;  // stderr, CR removed
};

// Each argument is passed quoted. A run never outlives `timeoutMs`.
ToolRun RunTool(const std::vector<std::wstring>& args, uint32_t timeoutMs = 120000);

// A fresh, empty folder under the temporary folder, made by this call.
std::wstring FreshFolder(const wchar_t* tag);
bool WriteBytes(const std::wstring& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::wstring& path);
// Names of the entries of a folder, without "." and "..".
std::vector<std::wstring> FolderEntries(const std::wstring& folder);

// The first bytes of a module built for `machine` (0x8664, 0x14C, ...):
// enough for the tool's processor check, not loadable.
std::vector<uint8_t> ModuleHeaderBytes(uint16_t machine, uint32_t peOffset = 0x80);

// Encodes a width × height test image in blue, green, red, alpha order where
// every pixel differs, as PNG or BMP bytes.
std::vector<uint8_t> TestImageFile(uint32_t width, uint32_t height, bool png);

// Lines of text, without empty ones.
std::vector<std::string> Lines(const std::string& text);
