// The descriptor procedures through which plug-ins write and read their
// scripting settings, and what the Filter call needs of them around a run.
// A descriptor lives in a handle of the server's descriptor kind, holding the
// bytes that settings/descriptor_bytes.h lays out, so a plug-in may keep,
// pass on or dispose of it like any handle.
#pragma once
#include <cstdint>

#include "sdk/basic_types.h"
#include "sdk/procs.h"
#include "settings/descriptor_bytes.h"

// The most bytes one descriptor may hold, written or read.
constexpr uint32_t DESCRIPTOR_LIMIT_BYTES = 64u << 20;
// How many read and write tokens may be open at once during one call.
constexpr int DESCRIPTOR_TOKEN_SLOTS = 64;

void FillWriteDescriptorProcs(WriteDescriptorProcs* procs);  // version 0, 16 procedures
void FillReadDescriptorProcs(ReadDescriptorProcs* procs);    // version 0, 18 procedures

// A descriptor handle holding `size` bytes (already checked to be a
// descriptor); null for none or when it cannot be allocated.
Handle NewDescriptorHandle(const uint8_t* bytes, uint32_t size);
// Copies the bytes of a handle that is a descriptor handle of ours and holds
// a well-formed descriptor into a fresh block (FreeBlock releases it; an
// empty descriptor gives none). False for anything else.
bool CopyDescriptorHandle(Handle h, uint8_t** bytes, uint32_t* size);
// One slot of the tokens a call's plug-in has open. A token is the slot's
// number with a generation, never an address.
struct TokenSlot {
  uint8_t kind;
  uint32_t generation;  // 1 to 0xFFFFFF; 24 bits fit beside the slot in a 32-bit token
  uint8_t* bytes;       // ours (AllocZeroed): the items written, or a copy of the descriptor read
  uint32_t capacity;    // writing: the block's size
  uint32_t used;        // writing: bytes written; reading: the descriptor's size
  size_t next;          // reading: where the item after the current one begins
  bool hasCurrent;      // reading: getKeyProc handed out `current`
  DescriptorItem current;
  OSErr firstError;     // reading: what closing answers
};

// The tokens of one Filter call (PluginCall::descriptorTokens).
struct DescriptorTokens {
  TokenSlot slots[DESCRIPTOR_TOKEN_SLOTS];
  uint32_t lastGeneration;
};

// Ends every token a plug-in left open; the Filter call ends with it.
void CloseDescriptorTokens(DescriptorTokens* tokens);
