#include "editor/cli/cli_args.h"

#include <cwchar>

#include "editor/cli/json_text.h"

const char kCliUsage[] =
    "usage: plughost-cli COMMAND [options]\n"
    "\n"
    "commands:\n"
    "  list FOLDER [--json] [--all]      list the plug-ins found in a folder tree\n"
    "  about FOLDER PLUGIN               show a plug-in's About box\n"
    "  run FOLDER PLUGIN IN OUT          run a filter on an image file, write the result\n"
    "  batch FOLDER PLUGIN OUTDIR IN...  run a filter on many files with one server\n"
    "  help                              this text\n"
    "\n"
    "PLUGIN is a plug-in's name or its index in the list. A name that several\n"
    "plug-ins of one processor share is refused, with their indices. Images are\n"
    "read as PNG, BMP, JPEG or GIF and written as PNG or BMP, by the output's\n"
    "extension (batch keeps the input's name and writes PNG unless the input is BMP).\n"
    "\n"
    "options:\n"
    "  --json               list: one JSON array on stdout\n"
    "  --all, --verbose     list: also the .8bf modules that gave no plug-in, and why\n"
    "                       (with --json: {\"plugins\": [...], \"skipped\": [...]})\n"
    "  --quiet              no progress bar\n"
    "  --server64 EXE       use EXE instead of plughost64.exe beside the tool\n"
    "  --server32 EXE       use EXE instead of plughost32.exe beside the tool\n"
    "  --cancel-event NAME  cancel as Ctrl+C does once the named event NAME is set\n"
    "  -h, --help           this text\n"
    "\n"
    "The first Ctrl+C asks the running filter to stop; a second one stops the server.\n"
    "\n"
    "exit codes: 0 done, 1 failed, 2 bad command line, 3 cancelled (Ctrl+C or the plug-in)\n";

namespace {

struct CommandRow {
  const wchar_t* name;
  CliCommand command;
  size_t minimum;  // positional arguments after the command name
  size_t maximum;  // SIZE_MAX: any number
};

const CommandRow kCommands[] = {
    {L"list", CLI_LIST, 1, 1},
    {L"about", CLI_ABOUT, 2, 2},
    {L"run", CLI_RUN, 4, 4},
    {L"batch", CLI_BATCH, 4, SIZE_MAX},
    {L"help", CLI_HELP, 0, 0},
};

bool Fail(std::string* error, const std::string& text) {
  *error = text;
  return false;
}

}  // namespace

int ParseCliArguments(int argc, const wchar_t* const* argv, CliOptions* options, std::string* error) {
  *options = CliOptions();
  error->clear();
  std::vector<std::wstring> positional;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i] != nullptr ? argv[i] : L"";
    if (optionsEnded || a.size() < 2 || a[0] != L'-') {
      positional.push_back(a);
      continue;
    }
    if (a == L"--") {
      optionsEnded = true;
    } else if (a == L"-h" || a == L"--help") {
      options->command = CLI_HELP;
      return 1;
    } else if (a == L"--json") {
      options->json = true;
    } else if (a == L"--all" || a == L"--verbose") {
      options->all = true;
    } else if (a == L"--quiet" || a == L"-q") {
      options->quiet = true;
    } else if (a == L"--server64" || a == L"--server32" || a == L"--cancel-event") {
      if (i + 1 >= argc || argv[i + 1] == nullptr || argv[i + 1][0] == 0)
        return Fail(error, Utf16ToUtf8(a.c_str()) + " needs a value");
      (a == L"--server64"   ? options->server64
       : a == L"--server32" ? options->server32
                            : options->cancelEvent) = argv[++i];
    } else {
      return Fail(error, "unknown option " + Utf16ToUtf8(a.c_str()));
    }
  }
  if (positional.empty()) {
    options->command = CLI_HELP;
    return 1;
  }
  const CommandRow* row = nullptr;
  for (const CommandRow& r : kCommands)
    if (positional[0] == r.name) row = &r;
  if (row == nullptr) return Fail(error, "unknown command " + Utf16ToUtf8(positional[0].c_str()));
  size_t given = positional.size() - 1;
  if (given < row->minimum || given > row->maximum)
    return Fail(error, Utf16ToUtf8(row->name) + ": expected " + std::to_string(row->minimum) +
                           (row->maximum == SIZE_MAX       ? " or more"
                            : row->maximum != row->minimum ? " to " + std::to_string(row->maximum)
                                                           : std::string()) +
                           " arguments, got " + std::to_string(given));
  for (size_t i = 1; i < positional.size(); ++i)
    if (positional[i].empty()) return Fail(error, Utf16ToUtf8(row->name) + ": an argument is empty");
  if (options->json && row->command != CLI_LIST) return Fail(error, "--json applies to list only");
  if (options->all && row->command != CLI_LIST) return Fail(error, "--all applies to list only");
  options->command = row->command;
  switch (row->command) {
    case CLI_LIST:
      options->folder = positional[1];
      break;
    case CLI_ABOUT:
      options->folder = positional[1];
      options->plugin = positional[2];
      break;
    case CLI_RUN:
      options->folder = positional[1];
      options->plugin = positional[2];
      options->input = positional[3];
      options->output = positional[4];
      break;
    case CLI_BATCH:
      options->folder = positional[1];
      options->plugin = positional[2];
      options->outputFolder = positional[3];
      options->inputs.assign(positional.begin() + 4, positional.end());
      break;
    default:
      break;
  }
  return 1;
}
