// Files and folders for tests: scratch folders under the temporary folder,
// whole-file reads and writes, and the lines of a text.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// A fresh, empty folder under the temporary folder, made by this call.
std::wstring FreshFolder(const wchar_t* tag);
// Removes a folder with everything in it.
void RemoveTree(const std::wstring& folder);
// Names of the entries of a folder, without "." and "..".
std::vector<std::wstring> FolderEntries(const std::wstring& folder);
// A fresh file name in the temporary folder.
std::wstring TempFile(const wchar_t* stem);

bool WriteBytes(const std::wstring& path, const std::vector<uint8_t>& bytes);
// The file's bytes; empty when it cannot be read.
std::vector<uint8_t> ReadBytes(const std::wstring& path);
// All of a file, read until its end: a file another process is still writing.
std::string ReadWholeFile(const std::wstring& path);

// The lines of a text, without their line ends (LF or CR LF) and without
// empty ones.
std::vector<std::string> Lines(const std::string& text);
