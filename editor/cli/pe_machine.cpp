#include "editor/cli/pe_machine.h"

static uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

ModuleMachine ReadModuleMachine(const uint8_t* bytes, size_t length) {
  // DOS header: "MZ", and at 0x3C the offset of the "PE\0\0" signature.
  if (bytes == nullptr || length < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') return MACHINE_NOT_A_MODULE;
  uint64_t pe = ReadU32(bytes + 0x3C);
  // Signature (4 bytes) then the machine field (2 bytes).
  if (pe + 6 > static_cast<uint64_t>(length)) return MACHINE_NOT_A_MODULE;
  const uint8_t* p = bytes + pe;
  if (p[0] != 'P' || p[1] != 'E' || p[2] != 0 || p[3] != 0) return MACHINE_NOT_A_MODULE;
  uint16_t machine = static_cast<uint16_t>(p[4] | p[5] << 8);
  if (machine == 0x014C) return MACHINE_X86;
  if (machine == 0x8664) return MACHINE_X64;
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
