#include "server/shared_image.h"

#include "server/system_calls.h"
#include <cstring>

ReplyStatus MapSharedImage(uint64_t section, uint64_t offset, OwnedBlock* block, ImageBlockHeader* header) {
  ReleaseOwnedBlock(block);
  memset(header, 0, sizeof(*header));
  HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(section));
  // A handle of a 32-bit server fits in 32 bits; anything wider names none.
  if (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle)) != section || handle == nullptr) return ST_NO_IMAGE;
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const uint64_t granularity = system.dwAllocationGranularity;
  const uint64_t start = offset - offset % granularity;
  const uint64_t lead = offset - start;
  uint64_t viewBytes = 0;
  uint32_t error = 0;
  uint8_t* view = static_cast<uint8_t*>(MapSectionView(handle, start, &viewBytes, &error));
  if (view == nullptr) {
    if (error != ERROR_INVALID_HANDLE) osCloseHandle(handle);
    return ST_NO_IMAGE;
  }
  // Whole rows from the block's start to the view's end, counted by division
  // so that no announced size can wrap.
  const uint64_t available = viewBytes > lead ? viewBytes - lead : 0;
  if (available >= IMAGE_HEADER_BYTES) memcpy(header, view + lead, sizeof(*header));
  const bool complete = available >= IMAGE_HEADER_BYTES && header->width != 0 && header->height != 0 &&
                        (available - IMAGE_HEADER_BYTES) / 4 / header->width >= header->height;
  if (!complete) {
    UnmapSectionView(view);
    osCloseHandle(handle);
    memset(header, 0, sizeof(*header));
    return ST_NO_IMAGE;
  }
  block->data = view + lead;
  block->length = IMAGE_HEADER_BYTES + static_cast<uint64_t>(header->width) * header->height * 4;
  block->kind = BLOCK_MAPPING;
  block->view = view;
  block->section = handle;
  return ST_OK;
}
