// The wire requests themselves, through the C++ layer under plughost.h: runs
// plug-in `index` of `folder` on `block` (an ImageBlockHeader and its pixels)
// and puts the filtered image back in it. Answers true when it did.
#include <windows.h>

#include <cstring>
#include <vector>

#include "editor/plughost_client.h"

// One request whose reply must be ST_OK; the reply's payload goes to *payload.
static bool Ask(PlughostClient* client, uint32_t kind, int64_t argument, const void* bytes, uint32_t length,
                std::vector<uint8_t>* payload = nullptr) {
  PlughostReply reply;
  if (!PlughostRequest(client, kind, argument, bytes, length, &reply)) return false;
  bool ok = reply.header.argument == ST_OK;
  if (ok && payload != nullptr) payload->assign(reply.payload, reply.payload + reply.length);
  PlughostFreeReply(&reply);
  return ok;
}

bool FilterThroughTheWire(const wchar_t* server, HWND window, const wchar_t* folder, int64_t index,
                          std::vector<uint8_t>* block) {
  PlughostClient client;
  if (!PlughostStart(&client, server)) return false;
  // Window handles carry 32 significant bits in both builds.
  HostSettings host{static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window)), 0x000000, 0xFFFFFF};
  std::vector<uint8_t> catalogue;  // CatalogueReplyHeader, then PluginEntry records
  bool ok = Ask(&client, REQ_SET_HOST, 0, &host, sizeof(host)) &&
            Ask(&client, REQ_SCAN_FOLDER, 0, folder, static_cast<uint32_t>((wcslen(folder) + 1) * 2), &catalogue) &&
            Ask(&client, REQ_FILTER_START, index, block->data(), static_cast<uint32_t>(block->size()));
  JobStatusRecord status{};
  status.state = JOB_RUNNING;
  while (ok && status.state == JOB_RUNNING) {
    Sleep(100);  // the server ends after a minute without requests; poll well within it
    std::vector<uint8_t> poll;
    ok = Ask(&client, REQ_FILTER_POLL, 0, &status, sizeof(status), &poll) && poll.size() >= sizeof(status);
    if (ok) memcpy(&status, poll.data(), sizeof(status));  // state, progress, resultCode, message
  }
  // The filtered ImageBlock; the server also releases its copy with this.
  if (ok) ok = Ask(&client, REQ_FETCH_IMAGE, 0, nullptr, 0, block) && status.state == JOB_DONE;
  PlughostQuit(&client);
  uint32_t exitCode = 0;
  if (!PlughostWaitExit(&client, 20000, &exitCode)) PlughostKill(&client);
  PlughostClose(&client);
  return ok;
}
