// Request kind → handler. Kinds not listed are answered ST_OK without a payload.
#include "server/loop_state.h"

struct DispatchRow {
  uint32_t kind;
  RequestHandler handler;
};

static const DispatchRow kDispatch[] = {
    {REQ_QUIT, HandleQuit},
    {REQ_SCAN_FOLDER, HandleScanFolder},
    {REQ_SET_HOST, HandleSetHost},
    {REQ_ABOUT_START, HandleAboutStart},
    {REQ_ABOUT_POLL, HandleAboutPoll},
    {REQ_FILTER_START, HandleFilterStart},
    {REQ_FILTER_POLL, HandleFilterPoll},
    {REQ_FETCH_IMAGE, HandleFetchImage},
    {REQ_FILTER_ABORT, HandleFilterAbort},
    {REQ_SERVER_INFO, HandleServerInfo},
    {REQ_FILTER_START_EX, HandleFilterStartEx},
    {REQ_FETCH_SETTINGS, HandleFetchSettings},
    {REQ_JOB_WAIT, HandleJobWait},
};

RequestHandler FindRequestHandler(uint32_t kind) {
  for (const DispatchRow& row : kDispatch)
    if (row.kind == kind) return row.handler;
  return nullptr;
}

uint64_t ServedKindsMask() {
  uint64_t mask = 0;
  for (const DispatchRow& row : kDispatch)
    if (row.kind < 64) mask |= uint64_t{1} << row.kind;
  return mask;
}
