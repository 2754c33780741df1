#include "engine/system_calls.h"

PLUGHOST_SYSTEM_CALL_ROWS(ENGINE_SYSTEM_CALLS, "engine", gEngineCalls)
