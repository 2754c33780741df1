// Runs plughost-cli.exe as a child process with its output captured, and
// small file helpers for the tool's tests.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "editor/cli/image_codec.h"
#include "tests/support/caller.h"
#include "tests/support/files.h"

struct ToolRun {
  bool finished = false;  // false: it did not end within the time limit and was stopped
  uint32_t exitCode = ~0u;
  std::string out;  // stdout, CR removed
  std::string err;  // stderr, CR removed
  std::string rawOut;  // stdout as written
  std::string rawErr;  // stderr as written
};

// Each argument is passed quoted. A run never outlives `timeoutMs`.
ToolRun RunTool(const std::vector<std::wstring>& args, uint32_t timeoutMs = 120000);
// The same with `input` on the tool's standard input (a pipe closed after it).
ToolRun RunToolWithInput(const std::vector<std::wstring>& args, const std::vector<uint8_t>& input,
                         uint32_t timeoutMs = 120000);

// The one line a failing run prints on stderr; it holds `fragment`.
void ExpectOneErrorLine(const ToolRun& run, const char* fragment, CallerLine caller = CallerLine::current());

// The image in `bytes`, or in the file at `path`; one that does not decode
// fails the calling test.
RasterImage DecodedBytes(const std::vector<uint8_t>& bytes, CallerLine caller = CallerLine::current());
RasterImage Decoded(const std::wstring& path, CallerLine caller = CallerLine::current());

// The first bytes of a module built for `machine` (0x8664, 0x14C, ...):
// enough for the tool's processor check, not loadable.
std::vector<uint8_t> ModuleHeaderBytes(uint16_t machine, uint32_t peOffset = 0x80);

// Encodes a width × height test image in blue, green, red, alpha order where
// every pixel differs, as PNG or BMP bytes.
std::vector<uint8_t> TestImageFile(uint32_t width, uint32_t height, bool png);

// A PNG assembled by hand, independent of the tool's encoder: signature,
// IHDR, the chunks given (type and body) before and after one IDAT holding
// `rows` (each row's filter byte included) in stored deflate blocks, IEND.
struct TestChunk {
  std::string type;
  std::vector<uint8_t> body;
};
std::vector<uint8_t> HandMadePng(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colourType,
                                 const std::vector<uint8_t>& rows, const std::vector<TestChunk>& before,
                                 const std::vector<TestChunk>& after = {});
// A zlib stream of stored blocks.
std::vector<uint8_t> StoredZlib(const std::vector<uint8_t>& data);

// The chunks of a PNG, each CRC checked bit by bit (not with the tool's
// table); a chunk with a wrong CRC is named "BAD!". Empty when the
// signature is wrong.
std::vector<TestChunk> PngChunksChecked(const std::vector<uint8_t>& png);
const TestChunk* FindChunk(const std::vector<TestChunk>& chunks, const char* type);

// A 132-byte colour profile: header of the given space ("GRAY", "RGB "), no tags.
std::vector<uint8_t> TestProfile(const char* space);

// The unix path of a Windows path (Wine's own call), or "" outside Wine.
std::wstring UnixPath(const std::wstring& windowsPath);
