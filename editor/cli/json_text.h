// Text for the machine-readable listing: UTF-16 to UTF-8 and JSON strings.
#pragma once
#include <string>

// UTF-16 (up to the first 0 unit) to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const wchar_t* text);

// A JSON string literal, quotes included: `"` and `\` escaped, control
// characters as \n, \t, \r, \b, \f or \u00XX. Expects UTF-8 input and
// passes other bytes through.
std::string JsonQuote(const std::string& utf8);

// Text from plug-ins and the server made safe for a terminal: C0 and C1
// control characters (escape sequences, line breaks, tabs) become '?'.
std::wstring PrintableText(const std::wstring& text);
