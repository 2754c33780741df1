#include "server/shared_image.h"

#include "server/system_calls.h"
#include <cstring>

// Whether two handles name the same object. The call came with Windows 10;
// without it no view is reused.
static bool SameObject(HANDLE a, HANDLE b) {
  using Compare = BOOL(WINAPI*)(HANDLE, HANDLE);
  static const Compare compare = [] {
    HMODULE system = GetModuleHandleW(L"kernelbase.dll");
    FARPROC found = system != nullptr ? GetProcAddress(system, "CompareObjectHandles") : nullptr;
    return reinterpret_cast<Compare>(reinterpret_cast<void*>(found));
  }();
  return compare != nullptr && compare(a, b) != 0;
}

ReplyStatus MapSharedImage(uint64_t section, uint64_t offset, OwnedBlock* block, ImageBlockHeader* header,
                           const void* held) {
  ReleaseOwnedBlock(block);
  memset(header, 0, sizeof(*header));
  HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(section));
  // A handle of a 32-bit server fits in 32 bits; anything wider names none.
  if (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle)) != section || handle == nullptr) return ST_NO_IMAGE;
  // Our own handles are not the editor's to give: taken, they would be
  // closed twice.
  if (handle == held) return ST_NO_IMAGE;
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const uint64_t granularity = system.dwAllocationGranularity;
  const uint64_t start = offset - offset % granularity;
  const uint64_t lead = offset - start;
  OwnedBlock kept{};
  TakeSpare(&kept, SPARE_VIEW);
  if (handle == kept.section) {
    RecycleOwnedBlock(&kept, SPARE_VIEW);
    return ST_NO_IMAGE;
  }
  uint64_t viewBytes = 0;
  uint8_t* view = nullptr;
  if (kept.kind == BLOCK_MAPPING && kept.viewOffset == start && SameObject(kept.section, handle)) {
    osCloseHandle(handle);  // the kept one names the same section
    view = static_cast<uint8_t*>(kept.view);
    viewBytes = kept.reserved;
    handle = kept.section;
  } else {
    ReleaseOwnedBlock(&kept);
    uint32_t error = 0;
    view = static_cast<uint8_t*>(MapSectionView(handle, start, &viewBytes, &error));
    if (view == nullptr) {
      if (error != ERROR_INVALID_HANDLE) osCloseHandle(handle);
      return ST_NO_IMAGE;
    }
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
  block->reserved = viewBytes;
  block->view = view;
  block->section = handle;
  block->viewOffset = start;
  return ST_OK;
}
