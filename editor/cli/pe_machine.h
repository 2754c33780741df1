// What a plug-in module file is to the catalogue: the processor it was built
// for, and whether it declares plug-ins for it. Read with the server's own
// PiPL resource reader, so the tool's explanations match the server's lists.
#pragma once
#include <cstddef>
#include <cstdint>

enum ModuleMachine : int {
  MACHINE_NOT_A_MODULE = 0,  // no DOS or PE signature, or the header lies outside the bytes given
  MACHINE_X86 = 1,           // 0x014C
  MACHINE_X64 = 2,           // 0x8664
  MACHINE_OTHER = 3,         // a PE file for some other processor
};

// How many leading bytes of a file ReadModuleMachine needs in practice: the
// PE header follows the DOS stub, which linkers keep well inside this.
constexpr size_t MODULE_HEADER_PROBE_BYTES = 4096;

// Reads the machine field of the PE header from the first `length` bytes of a
// file. Bounds are checked in 64 bits; a header beyond `length` counts as none.
ModuleMachine ReadModuleMachine(const uint8_t* bytes, size_t length);

// "32-bit", "64-bit", "other processor", "not a module".
const char* ModuleMachineText(ModuleMachine machine);

// Why a module gives no catalogue entry, as its server would decide.
enum ModuleSkip : int {
  MODULE_LISTED = 0,           // it declares plug-ins for its own processor
  MODULE_NOT_A_MODULE = 1,     // no PE image in the file
  MODULE_OTHER_PROCESSOR = 2,  // neither x64 nor x86: no server of ours runs it
  MODULE_NO_PIPL = 3,          // no PiPL with a name and an entry point for its processor
  MODULE_NO_SERVER = 4,        // declared, but its processor's server cannot run here
  MODULE_UNREADABLE = 5,       // the file could not be read whole
};

struct ModuleVerdict {
  uint16_t machine;   // the PE header's machine, 0 when none
  ModuleSkip skip;
  uint32_t plugins;   // PiPLs that its server would list
};

// The whole file's bytes, read as the server of the module's processor reads them.
ModuleVerdict JudgeModule(const uint8_t* bytes, size_t length);

// "not a module", "other processor", ... for people; "not-a-module",
// "other-processor", ... for the JSON listing.
const char* ModuleSkipText(ModuleSkip skip);
const char* ModuleSkipKey(ModuleSkip skip);
