// The PiPL resource as a Windows plug-in module carries it: resource type
// "PIPL", a 16-bit leading word, a 32-bit version and a 32-bit property count
// (10 bytes), then the properties. Each property is a vendor code, a key, an
// id and a data length (16 bytes), then the data padded with zeros to a
// multiple of four. Four-character codes are stored as little-endian
// integers, so each reads reversed: vendor '8BIM' is "MIB8", key 'name' is
// "eman".
// Free of platform headers: the resource reader is also built natively.
#pragma once
#include <cstdint>

constexpr uint32_t PIPL_HEADER_BYTES = 10;
constexpr uint32_t PIPL_COUNT_OFFSET = 6;
constexpr uint32_t PIPL_SIGNATURE_BYTES = 8;  // vendor and key
constexpr uint32_t PIPL_PROPERTY_HEADER_BYTES = 16;
constexpr uint32_t PIPL_LENGTH_OFFSET = 12;

// 'name': a length-prefixed string.
constexpr uint8_t kPiplNameSignature[PIPL_SIGNATURE_BYTES] = {'M', 'I', 'B', '8', 'e', 'm', 'a', 'n'};
// '8664': entry point of an x64 module, a NUL-terminated string.
constexpr uint8_t kPiplCode8664Signature[PIPL_SIGNATURE_BYTES] = {'M', 'I', 'B', '8', '4', '6', '6', '8'};
// 'wx86': entry point of an x86 module, a NUL-terminated string.
constexpr uint8_t kPiplCodeWx86Signature[PIPL_SIGNATURE_BYTES] = {'M', 'I', 'B', '8', '6', '8', 'x', 'w'};

// The machine field of a module's PE header.
constexpr uint16_t PE_MACHINE_X86 = 0x014C;
constexpr uint16_t PE_MACHINE_X64 = 0x8664;

// Each build lists only modules of its own processor, by their own code
// property.
#if defined(_WIN64)
constexpr uint16_t kPiplBuildMachine = PE_MACHINE_X64;
#else
constexpr uint16_t kPiplBuildMachine = PE_MACHINE_X86;
#endif
