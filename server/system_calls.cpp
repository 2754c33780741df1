#include "server/system_calls.h"

PLUGHOST_SYSTEM_CALL_ROWS(SERVER_SYSTEM_CALLS, "server", gServerCalls)
