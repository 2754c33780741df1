#include "server/process_entry.h"

#include "server/system_calls.h"

#include "engine/runtime.h"
#include "server/request_loop.h"
#include "base/text.h"

int RunProcess(const wchar_t* commandLine) {
  // No system box for a missing medium, a plug-in's fault or a file that
  // cannot be opened: the editor learns everything through the pipe.
  osSetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOALIGNMENTFAULTEXCEPT | SEM_NOOPENFILEERRORBOX);

  wchar_t modulePath[PATH_UNITS];
  if (osGetModuleFileNameW(nullptr, modulePath, PATH_UNITS) == 0) return EXIT_STARTUP_FAILED;
  if (IsBadStringW(modulePath) || modulePath[0] == 0) return EXIT_STARTUP_FAILED;
  wchar_t folder[PATH_UNITS];
  BoundedCopyW(folder, PATH_UNITS, modulePath);
  ptrdiff_t separator = FindLastSeparator(folder);
  if (separator < 0) return EXIT_STARTUP_FAILED;
  folder[separator] = 0;

  if (EngineRuntimeStartup() < 1) return EXIT_STARTUP_FAILED;
  bool served = RunServer(commandLine);
  // A job still running uses its engine records; ending the process, which
  // follows at once, ends the job and frees everything together.
  if (!JobRunningAtLoopEnd()) EngineRuntimeShutdown();
  return served ? EXIT_SERVED : EXIT_PIPE_NOT_OPENED;
}
