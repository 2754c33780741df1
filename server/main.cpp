#include <windows.h>

#include "server/process_entry.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  int code = RunProcess(commandLine);
  // A job thread may still be inside a plug-in; ending the process here ends it
  // before it can touch anything the loop has released.
  ExitProcess(static_cast<UINT>(code));
}
