// The editor's section as the server takes it: geometry checked against what
// the view really spans, the header copied once, the handle owned.
#include <windows.h>

#include <cstring>

#include "gtest/gtest.h"
#include "base/memory.h"
#include "server/shared_image.h"

namespace {

// A section as an editor makes it, with a header written at `offset`.
struct EditorSection {
  HANDLE handle = nullptr;
  uint8_t* view = nullptr;
  EditorSection(uint64_t bytes, uint64_t offset, uint32_t width, uint32_t height) {
    handle = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, static_cast<DWORD>(bytes >> 32),
                                static_cast<DWORD>(bytes), nullptr);
    if (handle == nullptr) return;
    view = static_cast<uint8_t*>(MapViewOfFile(handle, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ImageBlockHeader header{width, height, 300.0, 150.0};
    if (view != nullptr && offset + sizeof(header) <= bytes) memcpy(view + offset, &header, sizeof(header));
  }
  ~EditorSection() {
    if (view != nullptr) UnmapViewOfFile(view);
    if (handle != nullptr) CloseHandle(handle);
  }
  // What the editor duplicates into the server: a handle the server owns.
  HANDLE Duplicate() const {
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
    return copy;
  }
};

uint64_t Value(HANDLE h) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(h)); }
bool Open(HANDLE h) {
  DWORD flags = 0;
  return GetHandleInformation(h, &flags) != 0;
}

}  // namespace

TEST(SharedImage, TakenOnlyWhenTheViewHoldsEveryAnnouncedPixel) {
  struct Row {
    uint64_t sectionBytes, offset;
    uint32_t width, height;
    ReplyStatus expected;
  };
  const Row rows[] = {
      {24 + 3 * 2 * 4, 0, 3, 2, ST_OK},
      {200000, 70000, 64, 64, ST_OK},   // past the first allocation granule, not on a boundary
      {8192, 0, 64, 64, ST_NO_IMAGE},   // the section, rounded to pages, is smaller than the geometry
      {4096, 0, 0, 5, ST_NO_IMAGE},
      {4096, 0, 5, 0, ST_NO_IMAGE},
      {4096, 0, 0x80000000u, 0x80000000u, ST_NO_IMAGE},  // 2^64 bytes: wraps when multiplied
      {4096, 4090, 1, 1, ST_NO_IMAGE},  // the header itself runs past the view
      {4096, 70000, 1, 1, ST_NO_IMAGE}, // an offset past the section's end
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.width << " x " << r.height << " at " << r.offset << " in "
                                    << r.sectionBytes);
    EditorSection editor(r.sectionBytes, r.offset, r.width, r.height);
    ASSERT_NE(nullptr, editor.view);
    HANDLE given = editor.Duplicate();
    const int64_t before = OutstandingBlocks();
    OwnedBlock block{};
    ImageBlockHeader header;
    ASSERT_EQ(r.expected, MapSharedImage(Value(given), r.offset, &block, &header));
    if (r.expected != ST_OK) {
      EXPECT_EQ(nullptr, block.data);
      EXPECT_EQ(before, OutstandingBlocks()) << "a view was kept";
      EXPECT_FALSE(Open(given)) << "the section's handle was kept";
      continue;
    }
    EXPECT_EQ(BLOCK_MAPPING, block.kind);
    EXPECT_EQ(r.width, header.width);
    EXPECT_EQ(300.0, header.horizontalResolution);
    // The server works on the editor's pixels where they lie.
    block.data[IMAGE_HEADER_BYTES] = 0xA7;
    EXPECT_EQ(0xA7, editor.view[r.offset + IMAGE_HEADER_BYTES]);
    ReleaseOwnedBlock(&block);
    EXPECT_EQ(before, OutstandingBlocks());
    EXPECT_FALSE(Open(given)) << "released without closing the section's handle";
  }
}

// Only the copy taken at the start counts: the editor may rewrite the
// header, or close its own handle, while the server holds the view.
TEST(SharedImage, TheHeaderIsCopiedOnceAndTheViewOutlivesTheEditorsHandle) {
  auto* editor = new EditorSection(24 + 4 * 4 * 4, 0, 4, 4);
  HANDLE given = editor->Duplicate();
  OwnedBlock block{};
  ImageBlockHeader header;
  ASSERT_EQ(ST_OK, MapSharedImage(Value(given), 0, &block, &header));
  ImageBlockHeader lie{0x10000, 0x10000, 1.0, 1.0};
  memcpy(editor->view, &lie, sizeof(lie));
  EXPECT_EQ(4u, header.width);
  EXPECT_EQ(4u, header.height);
  EXPECT_EQ(24u + 4 * 4 * 4, block.length);
  delete editor;  // unmaps and closes the editor's side
  block.data[block.length - 1] = 0x5E;  // the pages are still there
  EXPECT_EQ(0x5E, block.data[block.length - 1]);
  ReleaseOwnedBlock(&block);
}

// The view of a fetched image is kept for the next start: on the same
// section from the same granule it serves again, with the header read anew;
// anything else releases it. The server's own handle is never taken.
TEST(SharedImage, AKeptViewServesOnlyTheSameSectionFromTheSameGranule) {
  struct Row {
    const char* what;
    bool sameSection;
    uint64_t offset;
    bool reused;
  };
  const Row rows[] = {
      {"the same section", true, 0, true},
      {"the same section, another granule", true, 70000, false},
      {"another section", false, 0, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const int64_t before = OutstandingBlocks();
    EditorSection first(200000, 0, 8, 8), other(200000, 0, 8, 8);
    HANDLE given = first.Duplicate();
    OwnedBlock block{};
    ImageBlockHeader header;
    ASSERT_EQ(ST_OK, MapSharedImage(Value(given), 0, &block, &header));
    void* view = block.view;
    RecycleOwnedBlock(&block, SPARE_VIEW);
    EXPECT_TRUE(Open(given)) << "the kept view's handle was closed";
    // Our own handle, named back to us, is refused and leaves the view kept.
    EXPECT_EQ(ST_NO_IMAGE, MapSharedImage(Value(given), 0, &block, &header));
    EXPECT_TRUE(Open(given));

    // The editor puts a shorter image where the next start looks.
    ImageBlockHeader shorter{8, 4, 300.0, 150.0};
    memcpy(first.view + r.offset, &shorter, sizeof(shorter));
    memcpy(other.view + r.offset, &shorter, sizeof(shorter));
    HANDLE next = (r.sameSection ? first : other).Duplicate();
    ASSERT_EQ(ST_OK, MapSharedImage(Value(next), r.offset, &block, &header));
    EXPECT_EQ(4u, header.height) << "the header is read again";
    EXPECT_EQ(r.reused ? given : next, block.section) << "the handle the image holds";
    if (r.reused) {
      EXPECT_EQ(view, block.view);
      EXPECT_FALSE(Open(next)) << "the editor's handle was kept beside ours";
    }
    EXPECT_EQ(before + 1, OutstandingBlocks()) << "one view: a kept one not used is released";
    block.data[IMAGE_HEADER_BYTES] = 0x3C;
    EXPECT_EQ(0x3C, (r.sameSection ? first : other).view[r.offset + IMAGE_HEADER_BYTES]);
    RecycleOwnedBlock(&block, SPARE_VIEW);
    ReleaseSpareRegion(SPARE_VIEW);
    EXPECT_EQ(before, OutstandingBlocks());
  }
}

TEST(SharedImage, AHandleOfAnotherKindIsRefusedAndLeftOpen) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const int64_t before = OutstandingBlocks();
  OwnedBlock block{};
  ImageBlockHeader header;
  EXPECT_EQ(ST_NO_IMAGE, MapSharedImage(Value(event), 0, &block, &header));
  EXPECT_EQ(ST_NO_IMAGE, MapSharedImage(0, 0, &block, &header));
  EXPECT_EQ(ST_NO_IMAGE, MapSharedImage(Value(GetCurrentProcess()), 0, &block, &header));
  EXPECT_EQ(before, OutstandingBlocks());
  EXPECT_TRUE(Open(event)) << "a handle the server may own for itself was closed";
  CloseHandle(event);
}
