// plughost-cli: lists, shows and runs 8BF plug-ins through the plug-in
// server, from the command line. Also the client library's fullest example.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <set>

#include "editor/cli/cli_args.h"
#include "editor/cli/file_win32.h"
#include "editor/cli/json_text.h"
#include "editor/cli/ordered_work.h"
#include "editor/cli/server_link.h"
#include "editor/hidden_window.h"
#include "plughost_version.h"
#include "editor/cli/settings_codec_win32.h"
#include "sdk/pipl.h"
#include "settings/settings_json.h"

namespace {

enum ExitCode : int { EXIT_DONE = 0, EXIT_FAILED = 1, EXIT_USAGE = 2, EXIT_CANCELLED = 3 };

HANDLE gAbortEvent = nullptr;
HANDLE gForceEvent = nullptr;
std::atomic<int32_t> gInterrupts{0};

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
  int32_t n = ++gInterrupts;
  SetEvent(n == 1 ? gAbortEvent : gForceEvent);
  return TRUE;
}

// What a batch worker would print, kept until its file's turn comes.
struct OutputLine {
  bool error;  // stderr, else stdout
  std::string text;
};
thread_local std::vector<OutputLine>* tCaptured = nullptr;

void Out(const std::string& text) {
  if (tCaptured != nullptr) return tCaptured->push_back(OutputLine{false, text});
  fwrite(text.data(), 1, text.size(), stdout);
}

void ErrorLine(const std::string& line) {
  if (tCaptured != nullptr) return tCaptured->push_back(OutputLine{true, line});
  fflush(stdout);
  fputs(line.c_str(), stderr);
}

// Every failure ends in one line on stderr.
int Fail(int code, const std::string& text) {
  ErrorLine("plughost-cli: " + text + "\n");
  return code;
}

std::string U8(const std::wstring& text) { return Utf16ToUtf8(text.c_str()); }

// A file as the user named it; "-" is a standard stream.
std::string InputName(const std::wstring& path) { return path == kStandardStream ? "standard input" : U8(path); }
std::string OutputName(const std::wstring& path) { return path == kStandardStream ? "standard output" : U8(path); }

void Note(const std::string& kind, const std::string& text) { ErrorLine("plughost-cli: " + kind + ": " + text + "\n"); }

// Whether the progress bar is drawn: where a person watches standard error,
// or when asked for. In a log its carriage returns would only be clutter.
bool gShowProgress = false;

// The server's dialogs need an owner that keeps answering messages; the
// console's window would not do, the tool often runs without one (pipes,
// scripts). The library's hidden window also counts the modal boxes that
// disable it, which is how `about` learns a box was shown.
PlughostHiddenWindow gHost;

// The handle REQ_SET_HOST carries; the console's window when ours cannot be made.
uint32_t HostWindowHandle() {
  static bool tried = false;
  if (!tried) {
    tried = true;
    PlughostOpenHiddenWindow(&gHost);
  }
  return PlughostWireWindow(gHost.window != nullptr ? gHost.window : GetConsoleWindow());
}

std::wstring ServerPath(const CliOptions& o, int bits) {
  const std::wstring& given = bits == 64 ? o.server64 : o.server32;
  if (!given.empty()) return given;
  wchar_t folder[MAX_PATH];
  PlughostProgramFolder(folder, MAX_PATH);
  return std::wstring(folder) + (bits == 64 ? L"plughost64.exe" : L"plughost32.exe");
}

// The servers a folder needs and the plug-ins they list, 64-bit ones first.
struct Catalogue {
  ServerLink links[2];  // [0] 64-bit, [1] 32-bit
  std::vector<ListedPlugin> plugins;
  std::vector<SurveyedModule> modules;  // list --all: every module, judged
  std::string note32;  // why 32-bit plug-ins are missing, if they are
  std::wstring fullFolder;  // the folder as the servers were given it
  ~Catalogue() {
    StopServerLink(&links[0]);
    StopServerLink(&links[1]);
  }
  ServerLink* LinkFor(int bits) { return &links[bits == 64 ? 0 : 1]; }
};

std::string SkipText(const ModuleVerdict& v) {
  char machine[32];
  snprintf(machine, sizeof(machine), " (machine 0x%04X)", v.machine);
  switch (v.skip) {
    case MODULE_OTHER_PROCESSOR: return std::string(ModuleSkipText(v.skip)) + machine;
    case MODULE_NO_PIPL:
    case MODULE_NO_SERVER:
      return std::string(ModuleSkipText(v.skip)) + (v.machine == PE_MACHINE_X64 ? " (64-bit)" : " (32-bit)");
    default: return ModuleSkipText(v.skip);
  }
}

// The modules that gave no plug-in, and why: after the table, or as the
// JSON listing's "skipped" array.
void PrintSkipped(const Catalogue& c, bool json) {
  if (json) {
    Out("\"skipped\": [");
    bool first = true;
    for (const SurveyedModule& m : c.modules) {
      if (m.verdict.skip == MODULE_LISTED) continue;
      Out(std::string(first ? "" : ",\n ") + "{\"path\": " + JsonQuote(U8(m.path)) + ", \"reason\": \"" +
          ModuleSkipKey(m.verdict.skip) + "\", \"machine\": " + std::to_string(m.verdict.machine) + "}");
      first = false;
    }
    Out("]");
    return;
  }
  std::vector<std::pair<std::string, std::wstring>> rows;
  for (const SurveyedModule& m : c.modules)
    if (m.verdict.skip != MODULE_LISTED) rows.emplace_back(SkipText(m.verdict), PrintableText(m.path));
  if (rows.empty()) return;
  size_t width = 7;  // "Skipped"
  for (auto& r : rows) width = std::max(width, r.first.size());
  Out("\nSkipped" + std::string(width + 2 - 7, ' ') + "Path\n");
  for (auto& r : rows) Out(r.first + std::string(width + 2 - r.first.size(), ' ') + U8(r.second) + "\n");
}

int BuildCatalogue(const CliOptions& given, Catalogue* c) {
  if (!FolderExists(given.folder)) return Fail(EXIT_FAILED, "plug-in folder not found: " + U8(given.folder));
  // The server takes only full paths (it refuses a bare name) of at most 259
  // units (it would cut a longer one and scan some other folder).
  CliOptions o = given;
  wchar_t full[MAX_PATH];
  DWORD n = GetFullPathNameW(given.folder.c_str(), MAX_PATH, full, nullptr);
  if (n == 0 || n >= MAX_PATH)
    return Fail(EXIT_FAILED, "the plug-in folder's full path is longer than 259 characters: " + U8(given.folder));
  o.folder = full;
  c->fullFolder = full;
  // The processor of each module decides which server can load it.
  ModuleCensus census;
  SurveyPluginModules(o.folder, &census, o.all ? &c->modules : nullptr);
  bool want64 = census.x64 > 0 || census.x86 == 0;
  bool want32 = census.x86 > 0;
  uint32_t host = HostWindowHandle();
  if (host == 0) return Fail(EXIT_FAILED, "cannot create a window for the server's dialogs");
  std::string error64, error32;
  for (int bits : {64, 32}) {
    if (bits == 64 ? !want64 : !want32) continue;
    ServerLink* link = c->LinkFor(bits);
    std::string* error = bits == 64 ? &error64 : &error32;
    int r = StartServerLink(link, ServerPath(o, bits), bits, host, error);
    if (r != LINK_OK) {
      // A 32-bit server that cannot start only hides the 32-bit plug-ins.
      if (bits == 64) return Fail(EXIT_FAILED, *error);
      continue;
    }
    r = ScanWithServer(link, o.folder, &c->plugins, error);
    if (r != LINK_OK) StopServerLink(link);
    if (r != LINK_OK && r != LINK_NO_PLUGINS) return Fail(EXIT_FAILED, *error);
    error->clear();
  }
  if (want32 && !error32.empty()) {
    c->note32 = std::to_string(census.x86) + " 32-bit plug-in module(s) in " + U8(given.folder) +
                " cannot run here: " + error32;
    for (SurveyedModule& m : c->modules)
      if (m.verdict.skip == MODULE_LISTED && m.verdict.machine == PE_MACHINE_X86) m.verdict.skip = MODULE_NO_SERVER;
  }
  if (c->plugins.empty()) {
    // What was skipped is what a person asking for it needs most here.
    if (o.all && o.json) {
      Out("{\"plugins\": [],\n ");
      PrintSkipped(*c, true);
      Out("}\n");
    } else if (o.all) {
      PrintSkipped(*c, false);
    }
    if (!c->note32.empty()) return Fail(EXIT_FAILED, "no plug-ins can run: " + c->note32);
    return Fail(EXIT_FAILED, "no plug-ins found in " + U8(given.folder));
  }
  return EXIT_DONE;
}

int PickPlugin(const CliOptions& o, Catalogue* c, const ListedPlugin** chosen) {
  std::vector<int64_t> matches;
  int64_t i = ChoosePlugin(c->plugins, o.plugin, &matches);
  if (i == PLUGIN_AMBIGUOUS) {
    std::string list;
    for (int64_t m : matches) list += (list.empty() ? "" : ", ") + std::to_string(m);
    return Fail(EXIT_FAILED, "the name \"" + U8(o.plugin) + "\" is shared by plug-ins " + list + " in " +
                                 U8(o.folder) + "; give the index of one");
  }
  if (i < 0) {
    std::string text = "no plug-in named or numbered \"" + U8(o.plugin) + "\" in " + U8(o.folder);
    if (!c->note32.empty()) text += " (" + c->note32 + ")";
    return Fail(EXIT_FAILED, text);
  }
  *chosen = &c->plugins[static_cast<size_t>(i)];
  // Only the server that listed it is needed from here on.
  StopServerLink(c->LinkFor((*chosen)->bits == 64 ? 32 : 64));
  return EXIT_DONE;
}

int CommandList(const CliOptions& o) {
  Catalogue c;
  int r = BuildCatalogue(o, &c);
  if (r != EXIT_DONE) return r;
  if (o.json) {
    if (o.all) Out("{\"plugins\": ");
    Out("[");
    for (size_t i = 0; i < c.plugins.size(); ++i) {
      const ListedPlugin& p = c.plugins[i];
      Out(std::string(i ? ",\n " : "") + "{\"index\": " + std::to_string(i) + ", \"name\": " + JsonQuote(U8(p.name)) +
          ", \"entryPoint\": " + JsonQuote(U8(p.entryPoint)) + ", \"path\": " + JsonQuote(U8(p.path)) +
          ", \"bits\": " + std::to_string(p.bits) + "}");
    }
    Out("]");
    if (o.all) {
      Out(",\n ");
      PrintSkipped(c, true);
      Out("}");
    }
    Out("\n");
  } else {
    size_t nameWidth = 4, entryWidth = 11;
    // Names and paths come from plug-in files: nothing in them may steer the terminal.
    for (ListedPlugin& p : c.plugins) {
      p.name = PrintableText(p.name);
      p.entryPoint = PrintableText(p.entryPoint);
      p.path = PrintableText(p.path);
    }
    for (const ListedPlugin& p : c.plugins) {
      nameWidth = std::max(nameWidth, p.name.size());
      entryWidth = std::max(entryWidth, p.entryPoint.size());
    }
    auto pad = [](const std::string& s, size_t units, size_t width) {
      return s + std::string(width > units ? width - units : 0, ' ');
    };
    Out(pad("#", 1, 4) + pad("Name", 4, nameWidth + 2) + pad("Entry point", 11, entryWidth + 2) + "Bits  Path\n");
    for (size_t i = 0; i < c.plugins.size(); ++i) {
      const ListedPlugin& p = c.plugins[i];
      std::string index = std::to_string(i);
      Out(pad(index, index.size(), 4) + pad(U8(p.name), p.name.size(), nameWidth + 2) +
          pad(U8(p.entryPoint), p.entryPoint.size(), entryWidth + 2) + std::to_string(p.bits) + "    " + U8(p.path) +
          "\n");
    }
    if (o.all) PrintSkipped(c, false);
  }
  fflush(stdout);
  if (!c.note32.empty()) fprintf(stderr, "plughost-cli: note: %s\n", c.note32.c_str());
  return EXIT_DONE;
}

// Windows of the server seen while an About job runs: a box that does not
// disable its owner (a modeless one, or one owned by no window) shows here.
struct AboutWatch {
  DWORD serverProcess;
  bool windowSeen;
};

BOOL CALLBACK NoteServerWindow(HWND window, LPARAM context) {
  auto* watch = reinterpret_cast<AboutWatch*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == watch->serverProcess && IsWindowVisible(window)) watch->windowSeen = true;
  return !watch->windowSeen;
}

void LookForServerWindow(void* context, double) {
  auto* watch = static_cast<AboutWatch*>(context);
  if (!watch->windowSeen) EnumWindows(NoteServerWindow, reinterpret_cast<LPARAM>(watch));
}

int CommandAbout(const CliOptions& o) {
  Catalogue c;
  int r = BuildCatalogue(o, &c);
  if (r != EXIT_DONE) return r;
  const ListedPlugin* p = nullptr;
  if ((r = PickPlugin(o, &c, &p)) != EXIT_DONE) return r;
  std::string message;
  CancelSignals cancel{gAbortEvent, gForceEvent};
  ServerLink* link = c.LinkFor(p->bits);
  AboutWatch watch{GetProcessId(link->client.process), false};
  int32_t disabledBefore = gHost.disabled;
  r = RunAboutJob(link, p->serverIndex, cancel, LookForServerWindow, &watch, &message);
  std::string name = U8(PrintableText(p->name));
  if (r == LINK_CANCELLED) return Fail(EXIT_CANCELLED, "about " + name + ": " + message);
  if (r != LINK_OK) return Fail(EXIT_FAILED, "about " + name + ": " + message);
  // The server answers an About job as done whatever the plug-in did; a
  // plug-in without an About box returns at once and shows nothing.
  if (gHost.disabled == disabledBefore && !watch.windowSeen) {
    if (gHost.messageOnly) Out(name + " showed no About box: there is no display here, so none could appear\n");
    else Out(name + " has no About box: it showed no window\n");
  }
  return EXIT_DONE;
}

struct ProgressState {
  bool shown;
  int lastPercent;
};

void ShowProgress(void* context, double progress) {
  auto* s = static_cast<ProgressState*>(context);
  int percent = ProgressPercent(progress);
  if (!gShowProgress || (s->shown && percent == s->lastPercent)) return;
  s->shown = true;
  s->lastPercent = percent;
  fprintf(stderr, "\r%s", ProgressBarText(progress, 30).c_str());
  fflush(stderr);
}

void EndProgress(ProgressState* s) {
  if (s->shown) fprintf(stderr, "\n");
  s->shown = false;
  s->lastPercent = -1;
}

int LoadImageFile(const std::wstring& path, RasterImage* image, std::string* error) {
  std::vector<uint8_t> bytes;
  bool standard = path == kStandardStream;
  if (!standard && !FileExists(path)) {
    *error = "input not found: " + U8(path);
    return 0;
  }
  if (standard && IsTerminal(STANDARD_INPUT)) {
    *error = "standard input is a terminal: send the image through a pipe or give a file";
    return 0;
  }
  // Compressed files far beyond the pixel limit are not worth reading.
  int read = standard ? ReadStandardInput(MAX_IMAGE_PIXEL_BYTES, &bytes, error)
                      : ReadWholeFile(path, MAX_IMAGE_PIXEL_BYTES, &bytes, error);
  if (!read || !DecodeImage(bytes.data(), bytes.size(), image, error)) {
    *error = InputName(path) + ": " + *error;
    return 0;
  }
  if (image->bitsPerChannel == 16)
    Note("warning", InputName(path) + " has 16 bits per channel; the server works in 8, so they were rounded to 8");
  return 1;
}

int SaveImageFile(const std::wstring& path, const RasterImage& image, std::string* error) {
  std::vector<uint8_t> bytes;
  std::vector<std::string> notes;
  bool standard = path == kStandardStream;
  // Standard output gets a PNG: the one type that keeps everything.
  ImageFileType type = standard ? IMAGE_FILE_PNG : ImageTypeForPath(path);
  if (!EncodeImage(image, type, &bytes, error, &notes) ||
      !(standard ? WriteStandardOutput(bytes.data(), bytes.size(), error)
                 : WriteFileAtomically(path, bytes.data(), bytes.size(), error))) {
    *error = OutputName(path) + ": " + *error;
    return 0;
  }
  for (const std::string& n : notes) Note("note", OutputName(path) + ": " + n);
  return 1;
}

// The output's folder exists at the end, made if asked. EXIT_*; the failure printed.
int EnsureFolder(const std::wstring& folder, bool make) {
  if (folder.empty() || FolderExists(folder)) return EXIT_DONE;
  if (!make) return Fail(EXIT_FAILED, "output folder not found: " + U8(folder) + " (--mkdir creates it)");
  std::string error;
  if (!CreateFolderTree(folder, &error))
    return Fail(EXIT_FAILED, "cannot create the output folder " + U8(folder) + ": " + error);
  return EXIT_DONE;
}

// What a run does with recorded settings, settled before any server starts.
struct SettingsPlan {
  bool wanted = false;            // the server must keep settings: an option asked for them
  const StartSettings* start = nullptr;  // null: the plain start
  StartSettings startSettings{START_MODE_PLAIN, {}};
  RecordedSettings file;          // what --settings FILE held
};

// A settings file larger than this is no settings file.
constexpr uint64_t kSettingsFileLimit = 64u << 20;

int LoadSettingsFile(const std::wstring& path, RecordedSettings* settings) {
  if (!FileExists(path)) return Fail(EXIT_FAILED, "settings file not found: " + U8(path));
  std::vector<uint8_t> bytes;
  std::string error;
  if (!ReadWholeFile(path, kSettingsFileLimit, &bytes, &error)) return Fail(EXIT_FAILED, U8(path) + ": " + error);
  JsonError fault;
  if (SettingsFromJson(std::string(bytes.begin(), bytes.end()), kCodePageSettingsCodec, settings, &fault))
    return EXIT_DONE;
  std::string where = U8(path);
  if (fault.line > 0) where += ":" + std::to_string(fault.line) + ":" + std::to_string(fault.column);
  return Fail(EXIT_FAILED, where + ": " + fault.message);
}

int PlanSettings(const CliOptions& o, SettingsPlan* plan) {
  plan->wanted = o.dialog || !o.settingsFile.empty() || !o.saveSettingsFile.empty();
  if (!o.settingsFile.empty()) {
    int r = LoadSettingsFile(o.settingsFile, &plan->file);
    if (r != EXIT_DONE) return r;
    if (!BuildSettingsBlock(plan->file, &plan->startSettings.block))
      return Fail(EXIT_FAILED, U8(o.settingsFile) + ": the settings are too large");
  }
  if (o.dialog || !o.settingsFile.empty()) {
    plan->startSettings.mode = o.dialog ? START_MODE_DIALOG : START_MODE_REPLAY;
    plan->start = &plan->startSettings;
  }
  if (!o.saveSettingsFile.empty()) return EnsureFolder(ParentFolder(o.saveSettingsFile), o.makeFolders);
  return EXIT_DONE;
}

// Once the plug-in is chosen: the server must keep settings, and a file made
// for another plug-in is worth a word.
int CheckSettingsPlan(const CliOptions& o, const SettingsPlan& plan, ServerLink* link, const ListedPlugin& p) {
  if (!plan.wanted) return EXIT_DONE;
  std::string error;
  if (CheckSettingsServed(link, &error) != LINK_OK) return Fail(EXIT_FAILED, error);
  std::string name;
  if (!plan.file.name.empty() && Utf8FromUtf16(plan.file.name, &name) && name != U8(p.name))
    Note("warning", U8(o.settingsFile) + " holds the settings of " + name + ", not of " + U8(p.name));
  return EXIT_DONE;
}

int SaveSettingsFile(ServerLink* link, const std::wstring& path) {
  RecordedSettings settings;
  std::string error;
  if (FetchRecordedSettings(link, &settings, &error) != LINK_OK) return Fail(EXIT_FAILED, error);
  const std::string text = SettingsToJson(settings, kCodePageSettingsCodec);
  if (!WriteFileAtomically(path, reinterpret_cast<const uint8_t*>(text.data()), text.size(), &error))
    return Fail(EXIT_FAILED, U8(path) + ": " + error);
  return EXIT_DONE;
}

// One image through the chosen plug-in (a plain start when `start` is null),
// its progress to `progress` (null: the progress bar). EXIT_* code; the
// failure already printed.
int FilterOneFile(ServerLink* link, const ListedPlugin& p, const std::wstring& in, RasterImage* image,
                  const std::wstring& out, bool* serverLost, const StartSettings* start,
                  ProgressProc progress = nullptr, void* context = nullptr) {
  std::string error;
  ProgressState bar{false, -1};
  CancelSignals cancel{gAbortEvent, gForceEvent};
  std::string message;
  int r = progress != nullptr ? RunFilterJob(link, p.serverIndex, image, progress, context, cancel, &message, start)
                              : RunFilterJob(link, p.serverIndex, image, ShowProgress, &bar, cancel, &message, start);
  EndProgress(&bar);
  if (r == LINK_LOST) *serverLost = true;
  if (r == LINK_CANCELLED) {
    *serverLost = !link->started || WaitForSingleObject(link->client.process, 0) == WAIT_OBJECT_0;
    return Fail(EXIT_CANCELLED, InputName(in) + ": " + message);
  }
  if (r != LINK_OK) return Fail(EXIT_FAILED, InputName(in) + ": " + U8(p.name) + ": " + message);
  if (!SaveImageFile(out, *image, &error)) return Fail(EXIT_FAILED, error);
  return EXIT_DONE;
}

int CommandRun(const CliOptions& o) {
  // Check what can be checked before a server starts.
  bool toStandard = o.output == kStandardStream;
  if (!toStandard && ImageTypeForPath(o.output) == IMAGE_FILE_UNKNOWN)
    return Fail(EXIT_USAGE, "the output must end in .png or .bmp: " + U8(o.output));
  if (toStandard && IsTerminal(STANDARD_OUTPUT))
    return Fail(EXIT_USAGE, "standard output is a terminal: send the PNG through a pipe or give a file");
  int r = toStandard ? EXIT_DONE : EnsureFolder(ParentFolder(o.output), o.makeFolders);
  if (r != EXIT_DONE) return r;
  SettingsPlan plan;
  if ((r = PlanSettings(o, &plan)) != EXIT_DONE) return r;
  std::string error;
  RasterImage image;
  if (!LoadImageFile(o.input, &image, &error)) return Fail(EXIT_FAILED, error);
  Catalogue c;
  if ((r = BuildCatalogue(o, &c)) != EXIT_DONE) return r;
  const ListedPlugin* p = nullptr;
  if ((r = PickPlugin(o, &c, &p)) != EXIT_DONE) return r;
  ServerLink* link = c.LinkFor(p->bits);
  if ((r = CheckSettingsPlan(o, plan, link, *p)) != EXIT_DONE) return r;
  bool lost = false;
  r = FilterOneFile(link, *p, o.input, &image, o.output, &lost, plan.start);
  // Standard output holds the image itself.
  if (r == EXIT_DONE && !toStandard) Out("wrote " + U8(o.output) + "\n");
  if (r == EXIT_DONE && !o.saveSettingsFile.empty()) {
    r = SaveSettingsFile(link, o.saveSettingsFile);
    if (r == EXIT_DONE && !toStandard) Out("wrote " + U8(o.saveSettingsFile) + "\n");
  }
  return r;
}

// Batch: one file per item, each worker with a server of its own (the first
// one the catalogue's). With one worker everything is printed as it happens;
// with more, each file's lines wait for its turn in the order of the inputs.
struct BatchItem {
  std::wstring in, out;
  bool duplicate = false;  // its output is that of an earlier input
  bool ran = false;        // a batch that stopped early never runs the rest
  int code = EXIT_DONE;
  bool lost = false;  // the server was gone
  std::vector<OutputLine> lines;
};

struct BatchWorker {
  ServerLink own;
  ServerLink* link = nullptr;
  volatile double progress = 0;
  std::string startError;
};

struct Batch {
  const CliOptions* o;
  const ListedPlugin* plugin;
  Catalogue* catalogue;
  uint32_t host;
  bool parallel;
  const StartSettings* start;  // null: the plain start
  std::vector<BatchItem> items;
  std::vector<BatchWorker> workers;
  ProgressState bar{false, -1};
  size_t delivered = 0;
};

// A further server that lists the same plug-in at the same index.
bool StartBatchWorker(void* context, uint32_t index) {
  Batch* b = static_cast<Batch*>(context);
  BatchWorker& w = b->workers[index];
  if (index == 0) {
    w.link = b->catalogue->LinkFor(b->plugin->bits);
    return true;
  }
  std::vector<ListedPlugin> listed;
  const int bits = b->plugin->bits;
  int r = StartServerLink(&w.own, ServerPath(*b->o, bits), bits, b->host, &w.startError);
  if (r == LINK_OK) r = ScanWithServer(&w.own, b->catalogue->fullFolder, &listed, &w.startError);
  const size_t at = static_cast<size_t>(b->plugin->serverIndex);
  if (r == LINK_OK && (at >= listed.size() || listed[at].path != b->plugin->path ||
                       listed[at].entryPoint != b->plugin->entryPoint)) {
    w.startError = "it listed the plug-ins otherwise";
    r = LINK_FAILED;
  }
  if (r != LINK_OK) {
    StopServerLink(&w.own);
    return false;
  }
  w.link = &w.own;
  return true;
}

void StopBatchWorker(void* context, uint32_t index) {
  Batch* b = static_cast<Batch*>(context);
  if (index != 0) StopServerLink(&b->workers[index].own);
}

void NoteWorkerProgress(void* context, double progress) { static_cast<BatchWorker*>(context)->progress = progress; }

bool RunBatchItem(void* context, uint32_t worker, size_t index) {
  Batch* b = static_cast<Batch*>(context);
  BatchWorker& w = b->workers[worker];
  BatchItem& item = b->items[index];
  tCaptured = b->parallel ? &item.lines : nullptr;
  item.ran = true;
  if (item.duplicate) {
    item.code = Fail(EXIT_FAILED, U8(item.in) + ": skipped, its output " + U8(item.out) +
                                      " was written from an earlier input");
  } else {
    std::string error;
    RasterImage image;
    if (!LoadImageFile(item.in, &image, &error)) {
      item.code = Fail(EXIT_FAILED, error);
    } else {
      item.code = FilterOneFile(w.link, *b->plugin, item.in, &image, item.out, &item.lost, b->start,
                                b->parallel ? NoteWorkerProgress : nullptr, &w);
      if (item.code == EXIT_DONE) Out("wrote " + U8(item.out) + "\n");
    }
  }
  tCaptured = nullptr;
  w.progress = 0;
  // A cancel, or a server gone, ends the batch: no worker starts another file.
  return !item.lost && item.code != EXIT_CANCELLED;
}

void DeliverBatchItem(void* context, size_t index) {
  Batch* b = static_cast<Batch*>(context);
  BatchItem& item = b->items[index];
  if (!item.lines.empty()) EndProgress(&b->bar);
  for (const OutputLine& line : item.lines) {
    if (line.error) ErrorLine(line.text);
    else Out(line.text);
  }
  fflush(stdout);
  ++b->delivered;
}

// The bar of the whole batch: files done, and the parts of those under way.
void ShowBatchProgress(void* context) {
  Batch* b = static_cast<Batch*>(context);
  double sum = static_cast<double>(b->delivered);
  for (const BatchWorker& w : b->workers) sum += w.progress;
  ShowProgress(&b->bar, sum / static_cast<double>(b->items.size()));
}

int CommandBatch(const CliOptions& o) {
  int r = EnsureFolder(o.outputFolder, o.makeFolders);
  if (r != EXIT_DONE) return r;
  SettingsPlan plan;
  if ((r = PlanSettings(o, &plan)) != EXIT_DONE) return r;
  Catalogue c;
  if ((r = BuildCatalogue(o, &c)) != EXIT_DONE) return r;
  const ListedPlugin* p = nullptr;
  if ((r = PickPlugin(o, &c, &p)) != EXIT_DONE) return r;
  if ((r = CheckSettingsPlan(o, plan, c.LinkFor(p->bits), *p)) != EXIT_DONE) return r;
  Batch b{&o, p, &c, HostWindowHandle(), false, plan.start};
  std::set<std::wstring> written;
  for (const std::wstring& in : o.inputs) {
    BatchItem item;
    item.in = in;
    item.out = BatchOutputPath(o.outputFolder, in);
    std::wstring key = item.out;
    for (wchar_t& ch : key) ch = static_cast<wchar_t>(towlower(ch == L'/' ? L'\\' : ch));
    item.duplicate = !written.insert(key).second;
    b.items.push_back(std::move(item));
  }
  // Replayed settings show no dialog; without them any plug-in may show one,
  // and dialogs of several servers at once would only confuse.
  const bool mayShowDialog = plan.start == nullptr || plan.start->mode == START_MODE_DIALOG;
  uint32_t jobs = o.jobs != 0 ? o.jobs : DefaultBatchJobs(mayShowDialog, GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
  if (jobs > b.items.size()) jobs = static_cast<uint32_t>(b.items.size());
  b.parallel = jobs > 1;
  b.workers = std::vector<BatchWorker>(jobs);
  OrderedWork work{&b, StartBatchWorker, RunBatchItem, StopBatchWorker, DeliverBatchItem,
                   b.parallel ? ShowBatchProgress : nullptr, 100};
  RunOrderedWork(work, b.items.size(), jobs);
  EndProgress(&b.bar);
  for (size_t i = 1; i < b.workers.size(); ++i)
    if (!b.workers[i].startError.empty())
      Note("note", "server " + std::to_string(i + 1) + " of " + std::to_string(jobs) +
                       " did not start, the others did its share: " + b.workers[i].startError);
  size_t done = 0, failures = 0;
  for (const BatchItem& item : b.items) {
    done += item.ran && item.code == EXIT_DONE;
    failures += item.ran && item.code != EXIT_DONE;
  }
  // The first file, in the order given, that ended the batch decides how it ends.
  for (const BatchItem& item : b.items) {
    if (item.code == EXIT_CANCELLED) return EXIT_CANCELLED;
    if (item.lost)
      return Fail(EXIT_FAILED, "batch stopped after " + std::to_string(done) + " of " +
                                   std::to_string(o.inputs.size()) + " files: the server is gone");
  }
  if (failures > 0)
    return Fail(EXIT_FAILED, std::to_string(failures) + " of " + std::to_string(o.inputs.size()) + " files failed");
  return EXIT_DONE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // No system error boxes for missing drives and the like: this is a script tool.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  SetConsoleOutputCP(CP_UTF8);
  CliOptions options;
  std::string error;
  if (!ParseCliArguments(argc, argv, &options, &error)) {
    fprintf(stderr, "plughost-cli: %s (see plughost-cli --help)\n", error.c_str());
    return EXIT_USAGE;
  }
  // A named event opens the one its creator made, so setting it there
  // cancels here.
  gAbortEvent = CreateEventW(nullptr, TRUE, FALSE, options.cancelEvent.empty() ? nullptr : options.cancelEvent.c_str());
  gForceEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (gAbortEvent == nullptr || gForceEvent == nullptr) return Fail(EXIT_FAILED, "cannot create the cancel events");
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  gShowProgress = options.progress || (!options.quiet && IsTerminal(STANDARD_ERROR));
  int code = EXIT_FAILED;
  try {
    switch (options.command) {
      case CLI_HELP: Out(CliUsage(options.helpTopic)); code = EXIT_DONE; break;
      case CLI_VERSION: Out("plughost-cli " PLUGHOST_VERSION_TEXT "\n"); code = EXIT_DONE; break;
      case CLI_LIST: code = CommandList(options); break;
      case CLI_ABOUT: code = CommandAbout(options); break;
      case CLI_RUN: code = CommandRun(options); break;
      case CLI_BATCH: code = CommandBatch(options); break;
    }
  } catch (const std::exception& e) {
    code = Fail(EXIT_FAILED, std::string("internal failure: ") + e.what());
  }
  fflush(stdout);
  return code;
}
