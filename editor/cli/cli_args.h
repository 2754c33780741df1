// The tool's command line, parsed into a plain record. No Win32 here.
#pragma once
#include <string>
#include <vector>

enum CliCommand : int {
  CLI_HELP = 0,
  CLI_LIST = 1,
  CLI_ABOUT = 2,
  CLI_RUN = 3,
  CLI_BATCH = 4,
};

struct CliOptions {
  CliCommand command = CLI_HELP;
  std::wstring folder;
  std::wstring plugin;  // index or name
  std::wstring input;   // run
  std::wstring output;  // run
  std::wstring outputFolder;        // batch
  std::vector<std::wstring> inputs;  // batch
  bool json = false;   // list
  bool all = false;    // list: also the modules that gave no entry, and why
  bool quiet = false;  // no progress bar
  // Server programs to use instead of the ones beside the tool.
  std::wstring server64;
  std::wstring server32;
  // A named event that cancels like Ctrl+C, for programs that drive the tool
  // without a console to send Ctrl+C through.
  std::wstring cancelEvent;
};

// argv[0] is the program. Options may stand anywhere; "--" ends them.
// Answers 1, or 0 with a one-line reason in *error.
int ParseCliArguments(int argc, const wchar_t* const* argv, CliOptions* options, std::string* error);

extern const char kCliUsage[];
