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
  CLI_VERSION = 5,
};

struct CliOptions {
  CliCommand command = CLI_HELP;
  CliCommand helpTopic = CLI_HELP;  // help: whose usage (CLI_HELP: the whole tool's)
  std::wstring folder;
  std::wstring plugin;  // index or name
  std::wstring input;   // run; "-" is standard input
  std::wstring output;  // run; "-" is standard output
  std::wstring outputFolder;        // batch
  std::vector<std::wstring> inputs;  // batch
  std::wstring jobsText;             // batch: -j as given
  uint32_t jobs = 0;                 // batch: servers at once; 0 for the default
  bool json = false;   // list
  bool all = false;    // list: also the modules that gave no entry, and why
  bool quiet = false;  // no progress bar
  bool progress = false;  // the progress bar even where standard error is no terminal
  bool makeFolders = false;  // run, batch: create the output's missing folders
  bool dialog = false;           // run: the plug-in's dialog, opened with --settings' values
  std::wstring settingsFile;     // run, batch: recorded settings to replay (JSON)
  std::wstring saveSettingsFile; // run: where to write what the run recorded (JSON)
  // Server programs to use instead of the ones beside the tool.
  std::wstring server64;
  std::wstring server32;
  // A named event that cancels like Ctrl+C, for programs that drive the tool
  // without a console to send Ctrl+C through.
  std::wstring cancelEvent;
};

// The most servers batch runs at once.
constexpr uint32_t MAX_BATCH_JOBS = 64;

// How many servers batch runs when -j is not given: one per processor, but
// only one where a plug-in may show a dialog, since dialogs of several
// servers at once would all wait for the same person.
uint32_t DefaultBatchJobs(bool mayShowDialog, uint32_t processors);

// The file name that stands for standard input or output.
extern const wchar_t kStandardStream[];

// argv[0] is the program. Options may stand anywhere; "--" ends them.
// -h or --help anywhere asks for the usage of the command given, if any;
// --version anywhere, short of a help, for the version.
// Answers 1, or 0 with a one-line reason in *error.
int ParseCliArguments(int argc, const wchar_t* const* argv, CliOptions* options, std::string* error);

// The usage text of one command, or of the whole tool for CLI_HELP.
const char* CliUsage(CliCommand topic);
