// Shell shortcuts made at run time, for the folder walks that follow them.
// On its own, so the tool's tests can use it without the rest of the
// catalogue's helpers.
#pragma once
#include <string>

// A shell shortcut at `link` pointing to `target`, saved with IPersistFile.
bool MakeShortcut(const std::wstring& link, const std::wstring& target);
