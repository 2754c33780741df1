#include "editor/cli/pe_machine.h"

#include "catalogue/pipl_resources.h"
#include "sdk/pipl.h"

ModuleMachine ReadModuleMachine(const uint8_t* bytes, size_t length) {
  const uint16_t machine = ReadPeMachine(bytes, length);
  if (machine == 0) return MACHINE_NOT_A_MODULE;
  if (machine == PE_MACHINE_X86) return MACHINE_X86;
  if (machine == PE_MACHINE_X64) return MACHINE_X64;
  return MACHINE_OTHER;
}

const char* ModuleMachineText(ModuleMachine machine) {
  switch (machine) {
    case MACHINE_X86: return "32-bit";
    case MACHINE_X64: return "64-bit";
    case MACHINE_OTHER: return "other processor";
    default: return "not a module";
  }
}

ModuleVerdict JudgeModule(const uint8_t* bytes, size_t length) {
  PiplModuleReport report;
  // Read for the module's own processor: the server built for it decides.
  const uint16_t machine = ReadPeMachine(bytes, length);
  const uint32_t plugins = ReadModulePipls(bytes, length, machine, nullptr, nullptr, &report);
  ModuleVerdict v{report.machine, MODULE_LISTED, plugins};
  if (report.status == PIPL_NOT_A_MODULE) v.skip = MODULE_NOT_A_MODULE;
  else if (machine != PE_MACHINE_X64 && machine != PE_MACHINE_X86) v.skip = MODULE_OTHER_PROCESSOR;
  else if (plugins == 0) v.skip = MODULE_NO_PIPL;
  return v;
}

const char* ModuleSkipText(ModuleSkip skip) {
  switch (skip) {
    case MODULE_LISTED: return "listed";
    case MODULE_NOT_A_MODULE: return "not a module";
    case MODULE_OTHER_PROCESSOR: return "other processor";
    case MODULE_NO_PIPL: return "no PiPL for its processor";
    case MODULE_NO_SERVER: return "its processor's server cannot run here";
    case MODULE_UNREADABLE: return "cannot be read";
  }
  return "unknown";
}

const char* ModuleSkipKey(ModuleSkip skip) {
  switch (skip) {
    case MODULE_LISTED: return "listed";
    case MODULE_NOT_A_MODULE: return "not-a-module";
    case MODULE_OTHER_PROCESSOR: return "other-processor";
    case MODULE_NO_PIPL: return "no-pipl";
    case MODULE_NO_SERVER: return "no-server";
    case MODULE_UNREADABLE: return "unreadable";
  }
  return "unknown";
}
