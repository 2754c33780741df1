// The processor a Windows module was built for, read from its PE header.
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
