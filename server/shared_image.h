// An image the editor hands over in a section of its own instead of in the
// request: the server maps it and works on the pixels where they lie.
#pragma once
#include <cstdint>

#include "base/memory.h"
#include "wire/protocol.h"

// Maps `section` (a handle the editor duplicated into this process) from
// `offset`, checks that the view really holds the header and every pixel the
// header announces, and copies the header into *header: the editor can still
// write to the section, so nothing but that copy is trusted afterwards. On
// ST_OK *block owns the view and the handle (BLOCK_MAPPING), its data at the
// header in the view. Otherwise (ST_NO_IMAGE) nothing is held: a section is
// closed; a handle of another kind is left alone, since it may be one of the
// server's own that the editor named by mistake. A view kept as SPARE_VIEW
// serves when `section` names the same section from the same granule; the
// editor's handle is then closed and the kept one used. A handle the server
// holds, the kept view's or `held` (the image in hand's), is refused and left
// open.
ReplyStatus MapSharedImage(uint64_t section, uint64_t offset, OwnedBlock* block, ImageBlockHeader* header,
                           const void* held = nullptr);
