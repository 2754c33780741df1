// The request handlers in-process: each row presets the loop's state, asks
// one request through the dispatch and checks the reply's status and payload
// and what the handler left in the state. The pipe is tested apart.
#include <windows.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/folder_scan.h"
#include "catalogue/plugin_catalog.h"
#include "gtest/gtest.h"
#include "server/loop_state.h"
#include "base/memory.h"
#include "base/text.h"
#include "tests/catalogue/catalogue_support.h"
#include "tests/support/caller.h"
#include "tests/support/conversation.h"
#include "tests/support/job_scope.h"
#include "tests/support/loop_run.h"

namespace {

using Bytes = std::vector<uint8_t>;

// What a row's loop holds before its request.
enum Preset : unsigned {
  FRESH = 0,
  HOST = 1,       // a host window was set
  CATALOGUE = 2,  // a catalogue of one entry, the Invert sample
  IMAGE = 4,      // a 2 x 2 image is held
  RUNNING = 8,    // a Filter job is running
  FAULTY = 16,    // the catalogue pointer leads nowhere
};

struct Row {
  const char* name;
  unsigned preset;
  uint32_t kind;
  int64_t argument;
  Bytes payload;
  int64_t status;
  int64_t replyBytes;  // -1: not checked
  std::function<void(LoopState*, const Bytes& reply)> check;
};

// A real window: the 1 x 1 job hands it to the plug-in.
uint32_t HostWindow() { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(GetDesktopWindow())); }

Bytes Zeros(size_t n) { return Bytes(n, 0); }

Bytes HostBytes(size_t n) {
  Bytes b(n, 0xEE);
  HostSettings host{HostWindow(), 0x00FF8000, 0x00336699};
  memcpy(b.data(), &host, n < sizeof(host) ? n : sizeof(host));
  return b;
}

// An image block announcing width x height, cut or padded to `length` bytes.
Bytes ImageBytes(uint32_t width, uint32_t height, size_t length) {
  Bytes b(length, 0);
  ImageBlockHeader header{width, height, 72.0, 72.0};
  memcpy(b.data(), &header, length < sizeof(header) ? length : sizeof(header));
  for (size_t i = sizeof(header); i < length; ++i) b[i] = static_cast<uint8_t>(i * 11);
  return b;
}

Bytes PathBytes(const std::wstring& path) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(path.c_str());
  Bytes b(p, p + path.size() * 2);
  b.insert(b.end(), {0, 0});
  return b;
}

std::wstring TextOf(const Bytes& reply) {
  std::wstring text;
  for (size_t i = 0; i + 1 < reply.size(); i += 2) {
    wchar_t c = static_cast<wchar_t>(reply[i] | reply[i + 1] << 8);
    if (c == 0) break;
    text += c;
  }
  return text;
}

const PluginEntry& InvertEntry() {
  static PluginEntry invert{};
  if (invert.name[0] == 0) {
    PluginCatalog* samples = ScanPluginFolder(SamplesFolder().c_str());
    for (uint32_t i = 0; samples != nullptr && i < samples->count; ++i)
      if (wcscmp(CatalogueEntry(samples, i)->name, L"Invert") == 0) invert = *CatalogueEntry(samples, i);
    FreeBlock(samples);
  }
  return invert;
}

bool Prepare(LoopRun& run, unsigned preset) {
  LoopState* state = run.state;
  if (preset & HOST) {
    state->hostWindow = HostWindow();
    state->hostSettings.hostWindow = HostWindow();
  }
  if (preset & CATALOGUE) {
    if (InvertEntry().name[0] == 0) return false;
    state->catalogue = static_cast<PluginCatalog*>(AllocZeroed(CatalogueBlockBytes(1)));
    if (state->catalogue == nullptr) return false;
    state->catalogue->count = state->catalogue->capacity = 1;
    *CatalogueEntry(state->catalogue, 0) = InvertEntry();
  }
  if (preset & FAULTY) state->catalogue = static_cast<PluginCatalog*>(NoAccessAddress());
  if (preset & IMAGE) {
    Bytes image = ImageBytes(2, 2, IMAGE_HEADER_BYTES + 16);
    if (!OwnZeroedBlock(&state->image, image.size())) return false;
    memcpy(state->image.data, image.data(), image.size());
  }
  if ((preset & RUNNING) && !run.HoldJob(&state->filter)) return false;
  return true;
}

void RunRows(const std::vector<Row>& rows, CallerLine caller = CallerLine::current()) {
  TRACE_CALLER(caller);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    LoopRun run;
    ASSERT_TRUE(Prepare(run, row.preset));
    Bytes reply{0xEE};
    EXPECT_EQ(row.status, run.Ask(row.kind, row.argument, row.payload, &reply));
    EXPECT_EQ(row.kind | REPLY_FLAG, run.state->reply.kind);
    EXPECT_EQ(reply.size(), run.state->reply.payloadLength);
    if (row.replyBytes >= 0) {
      EXPECT_EQ(static_cast<size_t>(row.replyBytes), reply.size());
    }
    if (row.check) row.check(run.state, reply);
    if (row.preset & FAULTY) run.state->catalogue = nullptr;
  }
}

void HostIs(LoopState* s, uint32_t window, CallerLine caller = CallerLine::current()) {
  TRACE_CALLER(caller);
  EXPECT_EQ(window, s->hostWindow);
  EXPECT_EQ(window, s->hostSettings.hostWindow);
}
void ImageHeld(LoopState* s, bool held, CallerLine caller = CallerLine::current()) {
  TRACE_CALLER(caller);
  EXPECT_EQ(held, s->image.data != nullptr);
}

const Bytes kStatusRecord = Zeros(JOB_STATUS_BYTES);
const Bytes kOnePixel = ImageBytes(1, 1, IMAGE_HEADER_BYTES + 4);

}  // namespace

TEST(RequestHandlers, SetHostTakesTwelveBytesAtMostAndClearsTheWindowFirst) {
  RunRows({
      {"12 bytes", FRESH, REQ_SET_HOST, 0, HostBytes(12), ST_OK, 0,
       [](LoopState* s, const Bytes&) {
         HostIs(s, HostWindow());
         EXPECT_EQ(0x00FF8000u, s->hostSettings.foreground);
         EXPECT_EQ(0x00336699u, s->hostSettings.background);
       }},
      {"20 bytes: the tail is not the server's to take", FRESH, REQ_SET_HOST, 0, HostBytes(20), ST_OK, 0,
       [](LoopState* s, const Bytes&) {
         HostIs(s, HostWindow());
         EXPECT_EQ(0x00336699u, s->hostSettings.background);
       }},
      {"8 bytes: the rest reads zero", HOST, REQ_SET_HOST, 0, HostBytes(8), ST_OK, 0,
       [](LoopState* s, const Bytes&) {
         HostIs(s, HostWindow());
         EXPECT_EQ(0u, s->hostSettings.background);
       }},
      {"2 bytes clear the window set before", HOST, REQ_SET_HOST, 0, HostBytes(2), ST_BAD_PAYLOAD, 0,
       [](LoopState* s, const Bytes&) { EXPECT_EQ(0u, s->hostWindow); }},
      {"no payload clears it too", HOST, REQ_SET_HOST, 0, {}, ST_BAD_PAYLOAD, 0,
       [](LoopState* s, const Bytes&) { EXPECT_EQ(0u, s->hostWindow); }},
  });
}

TEST(RequestHandlers, ScanFolderRefusesWhatItCannotScanAndKeepsTheHeldCatalogue) {
  ScratchFolder empty;
  std::wstring tooLong = SamplesFolder();
  tooLong.resize(PATH_UNITS - 1, L'\\');  // 259 units would still name the samples
  tooLong += L"x";
  auto kept = [](LoopState* s, const Bytes&) {
    ASSERT_NE(nullptr, s->catalogue);
    EXPECT_EQ(1u, s->catalogue->count);
  };
  RunRows({
      {"2 bytes", CATALOGUE, REQ_SCAN_FOLDER, 0, {'C', 0}, ST_BAD_PAYLOAD, 0, kept},
      {"no payload", FRESH, REQ_SCAN_FOLDER, 0, {}, ST_BAD_PAYLOAD, 0, nullptr},
      {"missing folder", CATALOGUE, REQ_SCAN_FOLDER, 0, PathBytes(empty / L"missing"), ST_BAD_FOLDER, 0, kept},
      {"a path one unit too long", CATALOGUE, REQ_SCAN_FOLDER, 0, PathBytes(tooLong), ST_BAD_FOLDER, 0, kept},
      {"while a job runs", CATALOGUE | RUNNING, REQ_SCAN_FOLDER, 0, PathBytes(SamplesFolder()), ST_NOT_READY, 0,
       kept},
      {"an empty tree drops the catalogue", CATALOGUE, REQ_SCAN_FOLDER, 0, PathBytes(empty.path), ST_BAD_INDEX, 0,
       [](LoopState* s, const Bytes&) { EXPECT_EQ(nullptr, s->catalogue); }},
      {"a tree of broken modules", FRESH, REQ_SCAN_FOLDER, 0, PathBytes(FixturePath(L"broken")), ST_BAD_INDEX, 0,
       nullptr},
      {"the samples", FRESH, REQ_SCAN_FOLDER, 0, PathBytes(SamplesFolder()), ST_OK, -1,
       [](LoopState* s, const Bytes& reply) {
         ASSERT_NE(nullptr, s->catalogue);
         ASSERT_GE(reply.size(), CATALOGUE_HEADER_BYTES);
         CatalogueReplyHeader header;
         memcpy(&header, reply.data(), sizeof(header));
         EXPECT_EQ(s->catalogue->count, header.count);
         EXPECT_EQ(CATALOGUE_BUILD_FLAG, header.buildFlag);
         EXPECT_EQ(CATALOGUE_HEADER_BYTES + uint64_t{header.count} * sizeof(PluginEntry), reply.size());
       }},
  });
}

// Each row carries the faults of the rows after it, so the order of the
// checks shows: readiness, index, payload, image.
TEST(RequestHandlers, FilterStartChecksInOrder) {
  const uint32_t big = 0x80000000u;
  auto released = [](LoopState* s, const Bytes&) { ImageHeld(s, false); };
  RunRows({
      {"no host", CATALOGUE, REQ_FILTER_START, -1, Zeros(3), ST_NOT_READY, 0, nullptr},
      {"nothing catalogued", HOST, REQ_FILTER_START, -1, Zeros(3), ST_NOT_READY, 0, nullptr},
      {"index -1", HOST | CATALOGUE, REQ_FILTER_START, -1, Zeros(3), ST_BAD_INDEX, 0, nullptr},
      {"index = count", HOST | CATALOGUE, REQ_FILTER_START, 1, Zeros(3), ST_BAD_INDEX, 0, nullptr},
      {"23 bytes", HOST | CATALOGUE, REQ_FILTER_START, 0, ImageBytes(1, 1, 23), ST_BAD_PAYLOAD, 0, nullptr},
      {"2 x 2 in 39 bytes releases the held image", HOST | CATALOGUE | IMAGE, REQ_FILTER_START, 0,
       ImageBytes(2, 2, 39), ST_NO_IMAGE, 0, released},
      {"0 x 3", HOST | CATALOGUE | IMAGE, REQ_FILTER_START, 0, ImageBytes(0, 3, 64), ST_NO_IMAGE, 0, released},
      {"3 x 0", HOST | CATALOGUE | IMAGE, REQ_FILTER_START, 0, ImageBytes(3, 0, 64), ST_NO_IMAGE, 0, released},
      {"the pixel count wraps in 32 bits", HOST | CATALOGUE, REQ_FILTER_START, 0, ImageBytes(0x10000, 0x10001, 64),
       ST_NO_IMAGE, 0, nullptr},
      {"the byte count wraps in 64 bits", HOST | CATALOGUE, REQ_FILTER_START, 0, ImageBytes(big, big, 32),
       ST_NO_IMAGE, 0, nullptr},
      {"a refused image keeps the one a running job uses", HOST | CATALOGUE | IMAGE | RUNNING, REQ_FILTER_START, 0,
       ImageBytes(2, 2, 39), ST_NO_IMAGE, 0, [](LoopState* s, const Bytes&) { ImageHeld(s, true); }},
      {"while a job runs", HOST | CATALOGUE | RUNNING, REQ_FILTER_START, 0, kOnePixel, ST_THREAD_FAILED, 2 * (30 + 4),
       [](LoopState*, const Bytes& reply) { EXPECT_EQ(L"A plug-in job is still running", TextOf(reply)); }},
      {"1 x 1 runs", HOST | CATALOGUE | IMAGE, REQ_FILTER_START, 0, kOnePixel, ST_OK, 0,
       [](LoopState* s, const Bytes&) {
         ASSERT_NE(nullptr, s->filter.thread);
         ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(s->filter.thread, 60000));
         EXPECT_EQ(1, s->filter.record.succeeded);
         ASSERT_EQ(IMAGE_HEADER_BYTES + 4u, s->image.length) << "the start's image replaced the held one";
         const uint8_t* pixel = s->image.data + IMAGE_HEADER_BYTES;
         for (int c = 0; c < 3; ++c) EXPECT_EQ(255 - kOnePixel[IMAGE_HEADER_BYTES + c], pixel[c]) << "channel " << c;
         EXPECT_EQ(kOnePixel[IMAGE_HEADER_BYTES + 3], pixel[3]) << "alpha";
       }},
  });
}

TEST(RequestHandlers, AboutStartChecksInOrder) {
  RunRows({
      {"no host", CATALOGUE, REQ_ABOUT_START, -1, {}, ST_NOT_READY, 0, nullptr},
      {"nothing catalogued", HOST, REQ_ABOUT_START, -1, {}, ST_NOT_READY, 0, nullptr},
      {"index -1", HOST | CATALOGUE, REQ_ABOUT_START, -1, {}, ST_BAD_INDEX, 0, nullptr},
      {"index = count", HOST | CATALOGUE, REQ_ABOUT_START, 1, {}, ST_BAD_INDEX, 0, nullptr},
      {"while a job runs", HOST | CATALOGUE | RUNNING, REQ_ABOUT_START, 0, {}, ST_THREAD_FAILED, 2 * (30 + 4),
       nullptr},
  });
}

TEST(RequestHandlers, PollFetchAndAbortWithAndWithoutAJob) {
  auto held = [](LoopState* s, const Bytes&) { ImageHeld(s, true); };
  RunRows({
      {"filter poll, 535 bytes", IMAGE, REQ_FILTER_POLL, 0, Zeros(535), ST_BAD_PAYLOAD, 0, nullptr},
      {"about poll, 535 bytes", FRESH, REQ_ABOUT_POLL, 0, Zeros(535), ST_BAD_PAYLOAD, 0, nullptr},
      {"filter poll, no image", FRESH, REQ_FILTER_POLL, 0, kStatusRecord, ST_NO_IMAGE, 0, nullptr},
      {"filter poll, no job", IMAGE, REQ_FILTER_POLL, 0, kStatusRecord, ST_BAD_INDEX, 0, held},
      {"about poll, no job", FRESH, REQ_ABOUT_POLL, 0, kStatusRecord, ST_BAD_INDEX, 0, nullptr},
      {"filter poll, running", IMAGE | RUNNING, REQ_FILTER_POLL, 0, kStatusRecord, ST_OK, JOB_STATUS_BYTES,
       [](LoopState*, const Bytes& reply) { EXPECT_EQ(JOB_RUNNING, reply[0]); }},
      {"fetch, no image", FRESH, REQ_FETCH_IMAGE, 0, {}, ST_NO_IMAGE, 0, nullptr},
      {"fetch hands the image over", IMAGE, REQ_FETCH_IMAGE, 0, {}, ST_OK, IMAGE_HEADER_BYTES + 16,
       [](LoopState* s, const Bytes& reply) {
         EXPECT_EQ(ImageBytes(2, 2, IMAGE_HEADER_BYTES + 16), reply);
         ImageHeld(s, false);
       }},
      {"fetch while the job writes the image", IMAGE | RUNNING, REQ_FETCH_IMAGE, 0, {}, ST_NOT_READY, 0, held},
      {"abort, no job", FRESH, REQ_FILTER_ABORT, 0, {}, ST_BAD_INDEX, 0, nullptr},
      {"abort, running", IMAGE | RUNNING, REQ_FILTER_ABORT, 0, {}, ST_OK, 0,
       [](LoopState* s, const Bytes&) { EXPECT_EQ(1, static_cast<int>(s->filter.record.abortRequest)); }},
  });
}

TEST(RequestHandlers, UnknownKindsAndQuitAreAnsweredOkWithoutPayload) {
  RunRows({
      {"kind 5 with a payload", HOST, 5, 0, Zeros(10), ST_OK, 0, nullptr},
      {"kind 0x7FFFFFFF", FRESH, 0x7FFFFFFF, -1, {}, ST_OK, 0, nullptr},
      {"quit", HOST | IMAGE, REQ_QUIT, 0, {}, ST_OK, 0, nullptr},
  });
}

TEST(RequestHandlers, AFaultInAHandlerIsAnsweredAsOne) {
  RunRows({
      {"a catalogue that cannot be read", HOST | FAULTY, REQ_FILTER_START, 0, kOnePixel, ST_FAULT, 0, nullptr},
  });
}
