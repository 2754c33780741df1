// The tool's file system edge: whole-file reads, atomic writes and the walk
// that finds out which processors a folder's plug-in modules are built for.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "editor/cli/pe_machine.h"

bool FolderExists(const std::wstring& path);
bool FileExists(const std::wstring& path);

// Reads a whole file of at most `limit` bytes. Answers 1, or 0 with a reason.
int ReadWholeFile(const std::wstring& path, uint64_t limit, std::vector<uint8_t>* bytes, std::string* error);

// Writes a temporary file beside `path` and renames it over `path` only once
// every byte is on disk; on any failure the temporary file is removed and
// `path` is left as it was. Answers 1, or 0 with a reason.
int WriteFileAtomically(const std::wstring& path, const uint8_t* bytes, size_t length, std::string* error);

enum StandardStream : int { STANDARD_INPUT = 0, STANDARD_OUTPUT = 1, STANDARD_ERROR = 2 };

// Whether a standard stream is a console, where a person watches: a file, a
// pipe or the NUL device is not.
bool IsTerminal(StandardStream stream);

// Reads standard input to its end, at most `limit` bytes. Answers 1, or 0 with a reason.
int ReadStandardInput(uint64_t limit, std::vector<uint8_t>* bytes, std::string* error);

// Writes every byte to standard output as it is (no text translation).
// Answers 1, or 0 with a reason.
int WriteStandardOutput(const uint8_t* bytes, size_t length, std::string* error);

// Creates `folder` and every missing folder above it. Answers 1 when the
// folder exists at the end, or 0 with a reason.
int CreateFolderTree(const std::wstring& folder, std::string* error);

// The machine of a module file, from its first bytes.
ModuleMachine ReadFileModuleMachine(const std::wstring& path);

struct ModuleCensus {
  uint32_t x64 = 0;
  uint32_t x86 = 0;
  uint32_t other = 0;  // other processors and files that are no module
};

struct SurveyedModule {
  std::wstring path;
  ModuleVerdict verdict;
};

// Finds the ".8bf" files below `folder` as the server's scan does, following
// shortcuts to folders; the depth is bounded and no folder is walked twice.
// Counts them by processor from their first bytes; with `modules`, also
// reads each one whole and judges it.
void SurveyPluginModules(const std::wstring& folder, ModuleCensus* census, std::vector<SurveyedModule>* modules);
void CountPluginModules(const std::wstring& folder, ModuleCensus* census);

// The system's text for an error code, one line, in UTF-8.
std::string SystemErrorText(uint32_t code);
