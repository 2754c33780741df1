#include "editor/cli/cli_args.h"

#include <cstdint>
#include <cwchar>

#include "editor/cli/json_text.h"

const wchar_t kStandardStream[] = L"-";

namespace {

const char kToolUsage[] =
    "usage: plughost-cli COMMAND [options]\n"
    "\n"
    "commands:\n"
    "  list FOLDER [--json] [--all]      list the plug-ins found in a folder tree\n"
    "  about FOLDER PLUGIN               show a plug-in's About box\n"
    "  run FOLDER PLUGIN IN OUT          run a filter on an image file, write the result\n"
    "  batch FOLDER PLUGIN OUTDIR IN...  run a filter on many files, -j N servers at once\n"
    "  help [COMMAND]                    this text, or one command's\n"
    "\n"
    "PLUGIN is a plug-in's name or its index in the list. A name that several\n"
    "plug-ins of one processor share is refused, with their indices. Images are\n"
    "read as PNG, BMP, JPEG or GIF and written as PNG or BMP, by the output's\n"
    "extension (batch keeps the input's name and writes PNG unless the input is BMP).\n"
    "The output keeps the input's resolution, colour profile and text, and its\n"
    "grey or alpha-less layout where the result allows. For run, - as IN reads\n"
    "standard input and - as OUT writes a PNG to standard output.\n"
    "\n"
    "options:\n"
    "  --json               list: one JSON array on stdout\n"
    "  --all, --verbose     list: also the .8bf modules that gave no plug-in, and why\n"
    "                       (with --json: {\"plugins\": [...], \"skipped\": [...]})\n"
    "  --mkdir              run, batch: create the output's folder when it is missing\n"
    "  --settings FILE      run, batch: replay the settings in FILE (JSON), no dialog\n"
    "  --dialog             run: show the plug-in's dialog, opened with --settings' values\n"
    "  --save-settings FILE run: write the settings the run recorded to FILE\n"
    "  -j, --jobs N         batch: run N servers at once (default: one per processor\n"
    "                       with --settings, else 1)\n"
    "  --progress           a progress bar even when stderr is not a terminal\n"
    "  --quiet              no progress bar\n"
    "  --server64 EXE       use EXE instead of plughost64.exe beside the tool\n"
    "  --server32 EXE       use EXE instead of plughost32.exe beside the tool\n"
    "  --cancel-event NAME  cancel as Ctrl+C does once the named event NAME is set\n"
    "  -h, --help           this text; after a command, that command's\n"
    "  --version            the tool's version\n"
    "\n"
    "The first Ctrl+C asks the running filter to stop; a second one stops the server.\n"
    "\n"
    "exit codes: 0 done, 1 failed, 2 bad command line, 3 cancelled (Ctrl+C or the plug-in)\n";

const char kServerOptions[] =
    "  --server64 EXE       use EXE instead of plughost64.exe beside the tool\n"
    "  --server32 EXE       use EXE instead of plughost32.exe beside the tool\n";

const std::string kListUsage = std::string(
    "usage: plughost-cli list FOLDER [--json] [--all]\n"
    "\n"
    "Lists the plug-ins in the .8bf modules below FOLDER, with the index that\n"
    "stands for each in the other commands.\n"
    "\n"
    "options:\n"
    "  --json               one JSON array on stdout\n"
    "  --all, --verbose     also the modules that gave no plug-in, and why\n"
    "                       (with --json: {\"plugins\": [...], \"skipped\": [...]})\n") + kServerOptions;

const std::string kAboutUsage = std::string(
    "usage: plughost-cli about FOLDER PLUGIN\n"
    "\n"
    "Shows the About box of PLUGIN (a name or an index from list) and waits until\n"
    "it is closed; says so when the plug-in shows none.\n"
    "\n"
    "options:\n") + kServerOptions +
    "  --cancel-event NAME  stop the server (and so the box) once the named event is set\n";

const char kImageOptions[] =
    "  --mkdir              create the output's folder when it is missing\n"
    "  --progress           a progress bar even when stderr is not a terminal\n"
    "  --quiet              no progress bar\n"
    "  --cancel-event NAME  cancel as Ctrl+C does once the named event NAME is set\n";

const char kSettings[] =
    "Settings: --settings FILE replays recorded settings without the plug-in's\n"
    "dialog (a plug-in that needs its dialog may still show it); FILE is JSON, as\n"
    "--save-settings writes it or a person writes it by hand:\n"
    "  {\"plugin\": {\"name\": \"Posterize\"}, \"descriptor\": {\"Lvls\": 4, \"Chnl\": \"RGB\"}}\n"
    "Keys are four-character codes; a whole number is an integer, one with a\n"
    "fraction a float, a string text, true and false booleans; objects name the\n"
    "other types ({\"enum\": [type, value]}, {\"unitFloat\": 2.5, \"unit\": \"#Pxl\"},\n"
    "{\"object\": class, \"descriptor\": {...}}, {\"class\": c}, {\"alias\": path},\n"
    "{\"count\": n}, {\"string\": text}). A file that does not read is refused with\n"
    "its line and column before any server starts.\n";

const char kKeeps[] =
    "The output keeps the input's resolution (the filter is told it; 72 dpi where\n"
    "the file gives none), its colour profile and text chunks (PNG output), and\n"
    "stays grey, or without alpha, while the filtered pixels allow. A 16-bit input\n"
    "is rounded to 8 bits, with a warning: the server works in 8 bits.\n";

const std::string kRunUsage = std::string(
    "usage: plughost-cli run FOLDER PLUGIN IN OUT [options]\n"
    "\n"
    "Runs the filter PLUGIN (a name or an index from list) on the image IN and\n"
    "writes the result to OUT. IN is read as PNG, BMP, JPEG or GIF; - reads it\n"
    "from standard input. OUT is written as PNG or BMP by its extension; - writes\n"
    "a PNG to standard output.\n"
    "\n") + kKeeps + "\n" + kSettings + "\noptions:\n" + kImageOptions +
    "  --settings FILE      replay the settings in FILE without the dialog\n"
    "  --dialog             show the plug-in's dialog (with --settings: opened with FILE's values)\n"
    "  --save-settings FILE write the settings the run recorded to FILE, to replay later\n" + kServerOptions;

const std::string kBatchUsage = std::string(
    "usage: plughost-cli batch FOLDER PLUGIN OUTDIR IN... [options]\n"
    "\n"
    "Runs the filter PLUGIN on every IN and writes each result to OUTDIR under the\n"
    "input's name: as BMP for a .bmp input, else as PNG. With -j N, N servers work\n"
    "at once, each on one file at a time; the results are printed in the order of\n"
    "the inputs. Ctrl+C stops them all.\n"
    "\n") + kKeeps + "\n" + kSettings + "\noptions:\n" +
    "  -j, --jobs N         run N servers at once, 1 to 64 (default: one per processor\n"
    "                       with --settings, else 1, since a plug-in may show a dialog)\n" + kImageOptions +
    "  --settings FILE      replay the settings in FILE on every image, without the dialog\n" + kServerOptions;

const std::string kHelpUsage =
    "usage: plughost-cli help [COMMAND]\n"
    "\n"
    "The tool's usage, or that of COMMAND (list, about, run, batch).\n";

// One row per command: its name, the positional arguments it takes after
// its name, and its usage.
struct CommandRow {
  const wchar_t* name;
  CliCommand command;
  size_t minimum;  // positional arguments after the command name
  size_t maximum;  // SIZE_MAX: any number
  const std::string* usage;
};

const CommandRow kCommands[] = {
    {L"list", CLI_LIST, 1, 1, &kListUsage},
    {L"about", CLI_ABOUT, 2, 2, &kAboutUsage},
    {L"run", CLI_RUN, 4, 4, &kRunUsage},
    {L"batch", CLI_BATCH, 4, SIZE_MAX, &kBatchUsage},
    {L"help", CLI_HELP, 0, 1, &kHelpUsage},
};

const CommandRow* FindCommand(const std::wstring& name) {
  for (const CommandRow& r : kCommands)
    if (name == r.name) return &r;
  return nullptr;
}

constexpr uint32_t For(CliCommand c) { return 1u << c; }
constexpr uint32_t FOR_ANY = ~0u;

// One row per option: its names, the field it sets (a switch, or a value
// taken from the next argument), and the commands it applies to, named in
// the refusal elsewhere. An option that answers on its own, as --help does,
// is handled before this table.
struct OptionRow {
  const wchar_t* name;
  const wchar_t* alias;  // or null
  bool CliOptions::*flag;
  std::wstring CliOptions::*value;
  uint32_t commands;
  const char* appliesTo;
};

const OptionRow kOptions[] = {
    {L"--json", nullptr, &CliOptions::json, nullptr, For(CLI_LIST), "list only"},
    {L"--all", L"--verbose", &CliOptions::all, nullptr, For(CLI_LIST), "list only"},
    {L"--mkdir", nullptr, &CliOptions::makeFolders, nullptr, For(CLI_RUN) | For(CLI_BATCH), "run and batch only"},
    {L"--settings", nullptr, nullptr, &CliOptions::settingsFile, For(CLI_RUN) | For(CLI_BATCH), "run and batch only"},
    {L"--dialog", nullptr, &CliOptions::dialog, nullptr, For(CLI_RUN), "run only"},
    {L"--save-settings", nullptr, nullptr, &CliOptions::saveSettingsFile, For(CLI_RUN), "run only"},
    {L"--quiet", L"-q", &CliOptions::quiet, nullptr, FOR_ANY, nullptr},
    {L"--progress", nullptr, &CliOptions::progress, nullptr, FOR_ANY, nullptr},
    {L"--server64", nullptr, nullptr, &CliOptions::server64, FOR_ANY, nullptr},
    {L"--server32", nullptr, nullptr, &CliOptions::server32, FOR_ANY, nullptr},
    {L"--cancel-event", nullptr, nullptr, &CliOptions::cancelEvent, FOR_ANY, nullptr},
    {L"--jobs", L"-j", nullptr, &CliOptions::jobsText, For(CLI_BATCH), "batch only"},
};
constexpr size_t kOptionCount = sizeof(kOptions) / sizeof(kOptions[0]);

bool Fail(std::string* error, const std::string& text) {
  *error = text;
  return false;
}

std::string U8(const std::wstring& text) { return Utf16ToUtf8(text.c_str()); }

// A whole number from 1 to MAX_BATCH_JOBS in plain digits, or 0.
uint32_t JobCount(const std::wstring& text) {
  if (text.empty() || text.size() > 2) return 0;
  uint32_t n = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return 0;
    n = n * 10 + static_cast<uint32_t>(c - L'0');
  }
  return n <= MAX_BATCH_JOBS ? n : 0;
}

}  // namespace

uint32_t DefaultBatchJobs(bool mayShowDialog, uint32_t processors) {
  if (mayShowDialog || processors < 1) return 1;
  return processors < MAX_BATCH_JOBS ? processors : MAX_BATCH_JOBS;
}

const char* CliUsage(CliCommand topic) {
  for (const CommandRow& r : kCommands)
    if (r.command == topic && topic != CLI_HELP) return r.usage->c_str();
  return kToolUsage;
}

int ParseCliArguments(int argc, const wchar_t* const* argv, CliOptions* options, std::string* error) {
  *options = CliOptions();
  error->clear();
  std::vector<std::wstring> positional;
  bool given[kOptionCount] = {};
  bool optionsEnded = false, help = false, version = false;
  // The first fault is reported only once no --help has turned up after it.
  std::string fault;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i] != nullptr ? argv[i] : L"";
    if (optionsEnded || a.size() < 2 || a[0] != L'-') {
      positional.push_back(a);
      continue;
    }
    if (a == L"--") {
      optionsEnded = true;
      continue;
    }
    if (a == L"-h" || a == L"--help") {
      help = true;
      continue;
    }
    if (a == L"--version") {
      version = true;
      continue;
    }
    const OptionRow* row = nullptr;
    for (const OptionRow& r : kOptions)
      if (a == r.name || (r.alias != nullptr && a == r.alias)) row = &r;
    if (row == nullptr) {
      if (fault.empty()) fault = "unknown option " + U8(a);
      continue;
    }
    given[row - kOptions] = true;
    if (row->flag != nullptr) {
      options->*row->flag = true;
    } else if (i + 1 >= argc || argv[i + 1] == nullptr || argv[i + 1][0] == 0) {
      if (fault.empty()) fault = U8(a) + " needs a value";
    } else {
      options->*row->value = argv[++i];
    }
  }
  const CommandRow* command = positional.empty() ? nullptr : FindCommand(positional[0]);
  if (version && !help) {
    *options = CliOptions();
    options->command = CLI_VERSION;
    return 1;
  }
  if (help || positional.empty()) {
    // "run --help" is run's usage; help on its own, or on what is no command, the tool's.
    *options = CliOptions();
    if (command != nullptr) options->helpTopic = command->command;
    return 1;
  }
  if (!fault.empty()) return Fail(error, fault);
  if (command == nullptr) return Fail(error, "unknown command " + U8(positional[0]));
  size_t count = positional.size() - 1;
  if (count < command->minimum || count > command->maximum)
    return Fail(error, U8(command->name) + ": expected " + std::to_string(command->minimum) +
                           (command->maximum == SIZE_MAX       ? " or more"
                            : command->maximum != command->minimum ? " to " + std::to_string(command->maximum)
                                                                   : std::string()) +
                           " arguments, got " + std::to_string(count));
  for (size_t i = 1; i < positional.size(); ++i)
    if (positional[i].empty()) return Fail(error, U8(command->name) + ": an argument is empty");
  for (size_t i = 0; i < kOptionCount; ++i)
    if (given[i] && (kOptions[i].commands & For(command->command)) == 0)
      return Fail(error, U8(kOptions[i].name) + " applies to " + kOptions[i].appliesTo);
  if (options->quiet && options->progress) return Fail(error, "--quiet and --progress cannot go together");
  options->command = command->command;
  switch (command->command) {
    case CLI_VERSION:
      break;
    case CLI_HELP:
      if (positional.size() > 1) {
        const CommandRow* topic = FindCommand(positional[1]);
        if (topic == nullptr) return Fail(error, "help: unknown command " + U8(positional[1]));
        options->helpTopic = topic->command;
      }
      break;
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
      for (size_t i = 3; i < positional.size(); ++i)
        if (positional[i] == kStandardStream)
          return Fail(error, "batch: - (standard input or output) works with run only");
      if (!options->jobsText.empty() && (options->jobs = JobCount(options->jobsText)) == 0)
        return Fail(error, "-j takes a number of servers from 1 to " + std::to_string(MAX_BATCH_JOBS) + ", not " +
                               U8(options->jobsText));
      break;
  }
  return 1;
}
