// REQ_SCAN_FOLDER: builds the catalogue of a folder tree, keeps it for the
// start requests and sends it to the editor.
#include <cstring>

#include "catalogue/folder_scan.h"
#include "catalogue/plugin_catalog.h"
#include "server/loop_state.h"
#include "base/memory.h"
#include "server/request_loop.h"
#include "base/guard.h"
#include "base/text.h"

void HandleScanFolder(LoopState* state) {
  if (!NeedPayload(state, 4)) return;
  // A running job still reads its entry of the held catalogue.
  if (AnyJobRunning(state)) {
    SetStatus(state, ST_NOT_READY);
    return;
  }

  wchar_t folder[PATH_UNITS];
  memset(folder, 0, sizeof(folder));
  const uint32_t units = state->request.payloadLength / 2;
  const uint8_t* payload = state->requestPayload.data;
  uint32_t pathUnits = 0;  // counted up to one unit more than fits
  for (; pathUnits < units && pathUnits < PATH_UNITS; ++pathUnits) {
    wchar_t c = static_cast<wchar_t>(payload[2 * pathUnits] | (payload[2 * pathUnits + 1] << 8));
    if (c == 0) break;
    if (pathUnits < PATH_UNITS - 1) folder[pathUnits] = c;
  }
  // A path cut to fit could name another, existing folder: one that does not
  // fit is refused whole.
  if (pathUnits >= PATH_UNITS || !IsExistingFolder(folder)) {
    SetStatus(state, ST_BAD_FOLDER);
    return;
  }

  FreeBlock(state->catalogue);
  state->catalogue = ScanPluginFolder(folder);
  PluginCatalog* catalog = state->catalogue;
  if (catalog == nullptr) {
    SetStatus(state, ST_BAD_INDEX);
    return;
  }

  const uint64_t length = CATALOGUE_HEADER_BYTES + static_cast<uint64_t>(catalog->count) * sizeof(PluginEntry);
  uint8_t* reply = length <= UINT32_MAX ? AttachReplyPayload(state, static_cast<uint32_t>(length)) : nullptr;
  if (reply == nullptr) {
    SetStatus(state, ST_NO_MEMORY);
    FreeBlock(state->catalogue);
    state->catalogue = nullptr;
    return;
  }
  CatalogueReplyHeader* header = reinterpret_cast<CatalogueReplyHeader*>(reply);
  header->count = 0;
  header->buildFlag = CATALOGUE_BUILD_FLAG;
  // A fault while copying ends the copy; the count says how far it got.
  Guarded([&] {
    PluginEntry* out = reinterpret_cast<PluginEntry*>(reply + CATALOGUE_HEADER_BYTES);
    for (uint32_t i = 0; i < catalog->count; ++i) {
      memcpy(&out[i], CatalogueEntry(catalog, i), sizeof(PluginEntry));
      ++header->count;
    }
  });
}
