#include "tests/reliability/protocol_fuzz.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "settings/descriptor_bytes.h"
#include "settings/settings_block.h"
#include "server/loop_state.h"
#include "tests/support/conversation.h"

namespace {

struct Random {
  uint64_t state;
  explicit Random(uint64_t seed) : state(seed * 6364136223846793005ull + 1442695040888963407ull) {}
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<uint32_t>(state >> 16);
  }
  uint32_t Below(uint32_t n) { return n == 0 ? 0 : Next() % n; }
  bool Chance(uint32_t percent) { return Below(100) < percent; }
};

struct Fuzzer {
  Random rng;
  ProtocolFuzzResult result;
  uint64_t budget;
  ServerSession* s = nullptr;
  int64_t catalogueCount = -1;  // -1 none held
  bool hostSet = false;

  Fuzzer(uint64_t seed, uint64_t requests) : rng(seed), budget(requests) {}

  void Violation(const char* what, uint32_t kind, int64_t status, size_t length) {
    ++result.violations;
    if (result.firstViolation.empty()) {
      char text[256];
      snprintf(text, sizeof(text), "request %llu: kind %u: %s (status %lld, %zu payload bytes)",
               static_cast<unsigned long long>(result.requests), kind, what, static_cast<long long>(status), length);
      result.firstViolation = text;
    }
  }

  static bool In(int64_t status, std::initializer_list<int64_t> allowed) {
    for (int64_t a : allowed)
      if (status == a) return true;
    return false;
  }

  // Sends one request and checks the reply against the protocol's rules.
  // Answers false when the server gave no reply (the session is over).
  bool Send(uint32_t kind, int64_t argument, const std::vector<uint8_t>& payload) {
    ++result.requests;
    PlughostReply reply;
    if (!PlughostRequest(&s->client, kind, argument, payload.data(), static_cast<uint32_t>(payload.size()), &reply)) {
      Violation("no reply", kind, -1, 0);
      return false;
    }
    const int64_t st = reply.header.argument;
    const size_t n = reply.length;
    if (reply.header.kind != (kind | REPLY_FLAG)) Violation("reply kind", kind, st, n);
    if (n != reply.header.payloadLength) Violation("payload length", kind, st, n);
    bool ok = true;
    switch (kind) {
      case REQ_SCAN_FOLDER:
        ok = In(st, {ST_OK, ST_BAD_PAYLOAD, ST_BAD_FOLDER, ST_BAD_INDEX, ST_NO_MEMORY, ST_NOT_READY});
        if (st == ST_OK) {
          uint32_t count = 0;
          if (n >= 4) memcpy(&count, reply.payload, 4);
          ok = ok && n == 8 + static_cast<size_t>(count) * sizeof(PluginEntry);
          catalogueCount = count;
        } else {
          ok = ok && n == 0;
          if (st == ST_BAD_INDEX || st == ST_NO_MEMORY) catalogueCount = -1;
        }
        break;
      case REQ_SET_HOST:
        ok = In(st, {ST_OK, ST_BAD_PAYLOAD}) && n == 0;
        hostSet = st == ST_OK && payload.size() >= 4 && (payload[0] | payload[1] | payload[2] | payload[3]) != 0;
        break;
      case REQ_ABOUT_START:
      case REQ_FILTER_START:
      case REQ_FILTER_START_EX:
        ok = In(st, {ST_OK, ST_NOT_READY, ST_BAD_INDEX, ST_BAD_PAYLOAD, ST_NO_IMAGE, ST_THREAD_FAILED});
        ok = ok && (n == 0 || (st == ST_THREAD_FAILED && n % 2 == 0 && n >= 8));
        if (kind == REQ_ABOUT_START) ok = ok && !In(st, {ST_BAD_PAYLOAD, ST_NO_IMAGE});
        // Nothing starts before a host window and a catalogue are held.
        if (!hostSet || catalogueCount < 0) ok = ok && st == ST_NOT_READY;
        break;
      case REQ_ABOUT_POLL:
      case REQ_FILTER_POLL:
      case REQ_JOB_WAIT:
        ok = In(st, {ST_OK, ST_BAD_PAYLOAD, ST_BAD_INDEX, ST_NO_IMAGE, ST_NO_MEMORY});
        ok = ok && (st == ST_OK ? n == JOB_STATUS_BYTES : n == 0);
        if (st == ST_OK && n == JOB_STATUS_BYTES) {
          JobStatusRecord r;
          memcpy(&r, reply.payload, sizeof(r));
          ok = ok && r.state >= JOB_RUNNING && r.state <= JOB_CANCELLED;
          // Bytes the server never sets come back as sent.
          ok = ok && memcmp(r.untouched1, payload.data() + 528, 8) == 0;
        }
        break;
      case REQ_FETCH_IMAGE:
        ok = In(st, {ST_OK, ST_NO_IMAGE, ST_NOT_READY});
        if (st == ST_OK) {
          ImageBlockHeader h{};
          if (n >= sizeof(h)) memcpy(&h, reply.payload, sizeof(h));
          const uint64_t pixelBytes = static_cast<uint64_t>(h.width) * h.height * 4;
          ok = ok && n >= IMAGE_HEADER_BYTES + 4 && n >= IMAGE_HEADER_BYTES + pixelBytes;
        } else {
          ok = ok && n == 0;
        }
        break;
      case REQ_FILTER_ABORT:
        ok = In(st, {ST_OK, ST_BAD_INDEX}) && n == 0;
        break;
      case REQ_SERVER_INFO: {
        ServerInfoReply info{};
        if (n == sizeof(info)) memcpy(&info, reply.payload, sizeof(info));
        const uint64_t extensions = 1ull << REQ_SERVER_INFO | 1ull << REQ_FILTER_START_EX | 1ull << REQ_FETCH_SETTINGS;
        ok = st == ST_OK && n == SERVER_INFO_BYTES && info.protocolVersion == PROTOCOL_VERSION &&
             (info.servedKinds & extensions) == extensions;
        break;
      }
      case REQ_FETCH_SETTINGS:
        ok = In(st, {ST_OK, ST_BAD_INDEX, ST_NOT_READY, ST_NO_MEMORY});
        if (st == ST_OK) {
          SettingsView view;
          ok = ok && ParseSettingsBlock(reply.payload, n, &view) == SETTINGS_OK;
        } else {
          ok = ok && n == 0;
        }
        break;
      default:
        ok = st == ST_OK && n == 0;
    }
    if (!ok) Violation("status or payload outside the protocol", kind, st, n);
    PlughostFreeReply(&reply);
    return true;
  }

  std::vector<uint8_t> RandomBytes(uint32_t n) {
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng.Next());
    return bytes;
  }

  std::vector<uint8_t> Image(uint32_t w, uint32_t h, int lie) {
    TestImage image = TestImage::Pattern(w, h);
    std::vector<uint8_t> block = image.Block();
    if (lie == 1) block.resize(block.size() - 1 - rng.Below(static_cast<uint32_t>(block.size() - 24)));
    if (lie == 2) {
      uint32_t big = 0x10000 + rng.Below(0x10000);
      memcpy(block.data() + (rng.Chance(50) ? 0 : 4), &big, 4);
    }
    return block;
  }

  // A start-ex header, settings (a block, junk or none) and an image, with
  // any of them bent now and then.
  std::vector<uint8_t> StartExPayload() {
    std::vector<uint8_t> settings;
    if (rng.Chance(60)) {
      RecordedSettings r;
      r.name = u"Posterize";
      r.hasDescriptor = true;
      AppendDescriptorU32(&r.descriptor, 0x4C766C73, DK_INTEGER, rng.Below(300));
      std::string block;
      BuildSettingsBlock(r, &block);
      settings.assign(block.begin(), block.end());
      if (rng.Chance(20)) settings[rng.Below(static_cast<uint32_t>(settings.size()))] ^= 0x40;
    } else if (rng.Chance(30)) {
      settings = RandomBytes(rng.Below(80));
    }
    FilterStartExHeader h{START_EX_HEADER_BYTES, rng.Below(5), rng.Chance(90) ? 0u : rng.Below(3),
                          static_cast<uint32_t>(settings.size())};
    if (rng.Chance(10)) h.settingsBytes = rng.Next();
    if (rng.Chance(5)) h.headerBytes = rng.Below(40);
    std::vector<uint8_t> payload(sizeof(h));
    memcpy(payload.data(), &h, sizeof(h));
    if (h.headerBytes > sizeof(h) && h.headerBytes < 64) payload.resize(h.headerBytes);
    payload.insert(payload.end(), settings.begin(), settings.end());
    std::vector<uint8_t> image = Image(1 + rng.Below(20), 1 + rng.Below(20), rng.Chance(10) ? 1 : 0);
    payload.insert(payload.end(), image.begin(), image.end());
    return payload;
  }

  std::vector<uint8_t> PollPayload(uint32_t n) {
    std::vector<uint8_t> p = RandomBytes(n);
    return p;
  }

  std::vector<uint8_t> FolderPayload() {
    std::wstring folder;
    switch (rng.Below(5)) {
      case 0: folder = SamplesFolder(); break;
      case 1: folder = BesideTest(L"no-such-folder"); break;
      case 2: folder = BesideTest(L"samples\\..\\samples\\"); break;
      case 3: folder = L"relative"; break;
      default: {
        std::vector<uint8_t> junk = RandomBytes(rng.Below(1200));
        return junk;
      }
    }
    std::vector<uint8_t> p(folder.size() * 2 + (rng.Chance(50) ? 2 : 0));
    memcpy(p.data(), folder.data(), folder.size() * 2);
    return p;
  }

  int64_t Index() {
    int64_t count = catalogueCount < 0 ? 4 : catalogueCount;
    switch (rng.Below(6)) {
      case 0: return -1;
      case 1: return count;
      case 2: return static_cast<int64_t>(rng.Next()) << 20;
      default: return count > 0 ? rng.Below(static_cast<uint32_t>(count)) : 0;
    }
  }

  // One request of a random shape; false when the session ended.
  bool Step() {
    uint32_t pick = rng.Below(100);
    if (pick < 8) return Send(REQ_SET_HOST, 0, RandomBytes(rng.Chance(80) ? 12 : rng.Below(24)));
    if (pick < 14) return Send(REQ_SCAN_FOLDER, 0, FolderPayload());
    if (pick < 22) {
      uint32_t w = 1 + rng.Below(40), h = 1 + rng.Below(40);
      int lie = rng.Chance(20) ? 1 + static_cast<int>(rng.Below(2)) : 0;
      std::vector<uint8_t> payload = rng.Chance(5) ? RandomBytes(rng.Below(40)) : Image(w, h, lie);
      return Send(REQ_FILTER_START, Index(), payload);
    }
    if (pick < 27) return Send(REQ_ABOUT_START, Index(), RandomBytes(rng.Below(8)));
    if (pick < 45) {
      uint32_t n = rng.Chance(85) ? JOB_STATUS_BYTES : rng.Below(600);
      // Waits of a few milliseconds, or of none: the fuzz is about replies, not time.
      if (rng.Chance(20)) return Send(REQ_JOB_WAIT, static_cast<int64_t>(rng.Below(6)) - 2, PollPayload(n));
      return Send(rng.Chance(70) ? REQ_FILTER_POLL : REQ_ABOUT_POLL, 0, PollPayload(n));
    }
    if (pick < 55) return Send(REQ_FETCH_IMAGE, 0, RandomBytes(rng.Chance(80) ? 0 : rng.Below(64)));
    if (pick < 60) return Send(REQ_FILTER_ABORT, 0, {});
    if (pick < 64) return Send(REQ_FILTER_START_EX, Index(), StartExPayload());
    if (pick < 67) return Send(rng.Chance(50) ? REQ_SERVER_INFO : REQ_FETCH_SETTINGS, 0, RandomBytes(rng.Below(8)));
    // Kinds the server does not serve, and reply-flagged kinds, with anything.
    uint32_t kind = rng.Chance(50) ? rng.Next() : (rng.Below(32) | (rng.Chance(20) ? REPLY_FLAG : 0));
    if (kind == REQ_QUIT) kind = 2;
    if (FindRequestHandler(kind) != nullptr) kind += 100;
    return Send(kind, static_cast<int64_t>(rng.Next()), RandomBytes(rng.Below(300)));
  }

  // Ends a session in one of the ways an editor might, and checks the exit.
  void EndSession() {
    uint32_t code = ~0u;
    switch (rng.Below(3)) {
      case 0:
        code = s->Quit();
        break;
      case 1:
        code = s->CloseAndWait();
        break;
      default: {
        // A frame that announces more than it sends, then silence.
        MessageHeader header{};
        header.kind = rng.Chance(50) ? static_cast<uint32_t>(REQ_SET_HOST) : 5u;
        header.payloadLength = 100 + rng.Below(1000);
        PlughostSendRaw(&s->client, &header, sizeof(header));
        std::vector<uint8_t> part = RandomBytes(rng.Below(header.payloadLength));
        if (!part.empty()) PlughostSendRaw(&s->client, part.data(), static_cast<uint32_t>(part.size()));
        code = s->CloseAndWait();
      }
    }
    if (code != 0) Violation("server did not end with exit code 0", 0, code, 0);
  }

  void Run() {
    while (result.requests < budget) {
      ServerSession session;
      if (!session.started) {
        // The status is the server's exit code when it ended, else -1.
        DWORD code = static_cast<DWORD>(-1);
        if (session.client.process != nullptr && WaitForSingleObject(session.client.process, 10000) == WAIT_OBJECT_0)
          GetExitCodeProcess(session.client.process, &code);
        Violation("server did not start", 0, static_cast<int32_t>(code), 0);
        return;
      }
      s = &session;
      catalogueCount = -1;
      hostSet = false;
      ++result.sessions;
      uint64_t length = 200 + rng.Below(3000);
      for (uint64_t i = 0; i < length && result.requests < budget; ++i)
        if (!Step()) break;
      EndSession();
      s = nullptr;
      if (result.violations > 20) return;
    }
  }
};

}  // namespace

ProtocolFuzzResult RunProtocolFuzz(uint64_t seed, uint64_t requests) {
  Fuzzer f(seed, requests);
  f.Run();
  return f.result;
}
