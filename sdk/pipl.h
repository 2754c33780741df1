// PiPL property signatures as they appear in a module's bytes. Four-character
// codes are stored as little-endian integers, so each code reads reversed:
// vendor '8BIM' is "MIB8", key 'name' is "eman".
// Free of platform headers: the byte scanner is also built natively on Linux.
#pragma once
#include <cstdint>

constexpr uint32_t PIPL_SIGNATURE_BYTES = 8;
// vendor, key, number, length; the property data follow.
constexpr uint32_t PIPL_PROPERTY_HEADER_BYTES = 16;
constexpr uint32_t PIPL_LENGTH_OFFSET = 12;

// 'name': a length-prefixed string.
constexpr uint8_t kPiplNameSignature[PIPL_SIGNATURE_BYTES] = {'M', 'I', 'B', '8', 'e', 'm', 'a', 'n'};
// '8664': entry point of an x64 module, a NUL-terminated string.
constexpr uint8_t kPiplCode8664Signature[PIPL_SIGNATURE_BYTES] = {'M', 'I', 'B', '8', '4', '6', '6', '8'};
// 'wx86': entry point of an x86 module, a NUL-terminated string.
constexpr uint8_t kPiplCodeWx86Signature[PIPL_SIGNATURE_BYTES] = {'M', 'I', 'B', '8', '6', '8', 'x', 'w'};

// Each build reads only the code property of its own processor.
#if defined(_WIN64)
constexpr const uint8_t* kPiplBuildCodeSignature = kPiplCode8664Signature;
#else
constexpr const uint8_t* kPiplBuildCodeSignature = kPiplCodeWx86Signature;
#endif
