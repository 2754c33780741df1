#include "catalogue/system_calls.h"

PLUGHOST_SYSTEM_CALL_ROWS(CATALOGUE_SYSTEM_CALLS, "catalogue", gCatalogueCalls)
