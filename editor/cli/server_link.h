// The tool's conversation with one server process, on the client library:
// start, host settings, scan, About and Filter jobs with polls and abort.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "editor/cli/choices.h"
#include "editor/cli/image_codec.h"
#include "editor/plughost_client.h"
#include "settings/settings_block.h"

struct ServerLink {
  PlughostClient client{};
  int bits = 0;          // 64 or 32
  bool started = false;  // a server process is connected
};

enum LinkResult : int {
  LINK_OK = 0,
  LINK_FAILED = 1,     // the server answered with a failure; message set
  LINK_CANCELLED = 3,  // the job was cancelled (by us or by the plug-in)
  LINK_LOST = 4,       // the server stopped answering or ended
  LINK_NO_PLUGINS = 5, // the scan found none
};

// Starts `exe` and hands it the host window. LINK_OK, or LINK_FAILED with a reason.
int StartServerLink(ServerLink* link, const std::wstring& exe, int bits, uint32_t hostWindow, std::string* error);
// Asks the server to quit and waits briefly; kills it if it does not end.
void StopServerLink(ServerLink* link);

// Appends the server's catalogue to *plugins, tagged with the link's bits.
int ScanWithServer(ServerLink* link, const std::wstring& folder, std::vector<ListedPlugin>* plugins,
                   std::string* error);

// Called at every poll with the progress, 0.0 to 1.0.
typedef void (*ProgressProc)(void* context, double progress);

// Signalled by the tool's Ctrl+C handler: the first asks the job to stop,
// the second gives up on the server.
struct CancelSignals {
  void* abortEvent;  // manual-reset events, may be null
  void* forceEvent;
};

// Runs an About job and polls until it ends; `watch` (optional) is called
// after every poll that finds the job running. An About box cannot be asked
// to close, so a cancel stops the server (LINK_CANCELLED).
int RunAboutJob(ServerLink* link, int64_t index, const CancelSignals& cancel, ProgressProc watch, void* context,
                std::string* message);
// How a Filter job starts when not as a plain start: REQ_FILTER_START_EX's
// mode and settings block (empty for none).
struct StartSettings {
  uint32_t mode;
  std::string block;
};

// Runs a Filter job on `image` (a plain start when `start` is null), polls
// until it ends, and on success replaces the pixels with the filtered ones.
// *message gets the server's text.
int RunFilterJob(ServerLink* link, int64_t index, RasterImage* image, ProgressProc progress, void* context,
                 const CancelSignals& cancel, std::string* message, const StartSettings* start = nullptr);

// LINK_OK when the server knows recorded settings (protocol 2 or later);
// LINK_FAILED with a reason when it is older.
int CheckSettingsServed(ServerLink* link, std::string* error);
// The settings the last Filter job recorded.
int FetchRecordedSettings(ServerLink* link, RecordedSettings* settings, std::string* error);

// How often the job is polled; well inside the server's one-minute read limit.
constexpr uint32_t POLL_INTERVAL_MS = 100;
