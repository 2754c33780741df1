/* Deliberate bad addresses: this plug-in exists to misbehave. */
#pragma GCC diagnostic ignored "-Warray-bounds"
// Trouble: a misbehaving filter for hosts' tests. What it does is chosen by
// the PLUGHOST_TROUBLE environment variable:
//   fault-SELECTOR-KIND   SELECTOR: about parameters prepare start continue finish
//                         KIND: read write nullcall divide illegal breakpoint privileged
//   cancel-continue       Continue answers userCanceledErr
//   result-SELECTOR-N     SELECTOR answers N (a decimal number, maybe negative)
//   report-error          Continue reports its own text with errReportString
//   progress-wait         Continue reports 50 of 100, signals READY, waits for GO
//   about-wait            About signals READY and waits for GO
//   abort-wait            Continue waits until the host's abort test answers true
//   exit-continue         Continue ends the host's process with exit code 42
//   never-empty           leaves inRect with no height but some width for five Continues
//   sampled               asks for the whole image at half size (inputRate 2.0)
//   badptr-CALLBACK       hands a host callback a bad pointer in Continue (see BadPointerCall)
//   coords32              works on the 32-bit rectangles: inverts the whole image in one
//                         Continue, then empties only those rectangles
//   preview-wait          Parameters signals READY, waits for GO, then keeps a preview up to
//                         date through advanceState (200 calls 1 ms apart) until it answers an
//                         error, which Parameters answers
//   descriptor-write      Finish writes a descriptor with a value of every type (an object
//                         inside) and keeps 7 parameter bytes, "trouble"
//   descriptor-read       Start logs what it is offered (playInfo, parameters) and reads every
//                         value of the descriptor through the read procedure of its type
//   descriptor-dispose    Start disposes of the descriptor and leaves its address in place
//   descriptor-hostile    Start calls the descriptor procedures with bad tokens, pointers,
//                         handles, keys and types, and logs each answer
// Every selector it receives is appended to PLUGHOST_PROBE_REPORT, if set.
// READY and GO name two events: PLUGHOST_TROUBLE_READY, PLUGHOST_TROUBLE_GO.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sdk/filter_record.h"
#include "sdk/pixel_map.h"
#include "sdk/color_services.h"

namespace {

char gMode[128];

bool Mode(const char* name) { return strcmp(gMode, name) == 0; }

void Log(const char* text) {
  char path[MAX_PATH];
  if (GetEnvironmentVariableA("PLUGHOST_PROBE_REPORT", path, MAX_PATH) == 0) return;
  FILE* f = fopen(path, "a");
  if (f == nullptr) return;
  fprintf(f, "%s\n", text);
  fclose(f);
}

HANDLE OpenNamedEvent(const char* variable) {
  char name[MAX_PATH];
  if (GetEnvironmentVariableA(variable, name, MAX_PATH) == 0) return nullptr;
  return OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name);
}

// Signals READY, then waits (a bounded time) for GO.
void Rendezvous() {
  HANDLE ready = OpenNamedEvent("PLUGHOST_TROUBLE_READY");
  HANDLE go = OpenNamedEvent("PLUGHOST_TROUBLE_GO");
  if (ready != nullptr) SetEvent(ready);
  if (go != nullptr) WaitForSingleObject(go, 120000);
  if (ready != nullptr) CloseHandle(ready);
  if (go != nullptr) CloseHandle(go);
}

__attribute__((noinline)) void Fault(const char* kind) {
  if (strcmp(kind, "read") == 0) {
    volatile int sink = *reinterpret_cast<volatile int*>(static_cast<uintptr_t>(0x28));
    (void)sink;
  } else if (strcmp(kind, "write") == 0) {
    *reinterpret_cast<volatile int*>(static_cast<uintptr_t>(0x28)) = 1;
  } else if (strcmp(kind, "nullcall") == 0) {
    void (*volatile nothing)() = nullptr;
    nothing();
  } else if (strcmp(kind, "divide") == 0) {
    volatile int zero = 0;
    volatile int q = 7 / zero;
    (void)q;
  } else if (strcmp(kind, "illegal") == 0) {
    __asm__ __volatile__("ud2");
  } else if (strcmp(kind, "breakpoint") == 0) {
    __asm__ __volatile__("int3");
  } else if (strcmp(kind, "privileged") == 0) {
    __asm__ __volatile__("hlt");
  }
}

void MaybeFault(const char* selector) {
  char prefix[64];
  snprintf(prefix, sizeof(prefix), "fault-%s-", selector);
  if (strncmp(gMode, prefix, strlen(prefix)) == 0) Fault(gMode + strlen(prefix));
}

// After the selector's own work, so the answer is all that differs.
void MaybeAnswer(const char* selector, int16_t* result) {
  char prefix[64];
  snprintf(prefix, sizeof(prefix), "result-%s-", selector);
  if (strncmp(gMode, prefix, strlen(prefix)) == 0) *result = static_cast<int16_t>(atoi(gMode + strlen(prefix)));
}

void WholeImage(FilterRecord* fr) {
  fr->inRect = fr->filterRect;
  fr->outRect = fr->filterRect;
  fr->inLoPlane = fr->outLoPlane = 0;
  fr->inHiPlane = fr->outHiPlane = 3;
}

// Scribbles over the output tile, so a host that fails to restore shows it.
void Scribble(FilterRecord* fr) {
  if (fr->outData == nullptr) return;
  const int rows = fr->outRect.bottom - fr->outRect.top;
  for (int y = 0; y < rows; ++y)
    memset(static_cast<uint8_t*>(fr->outData) + y * fr->outRowBytes, 0x11, fr->outRowBytes);
}

// An address no process has mapped, and an unaligned one near it.
void* const kBad = reinterpret_cast<void*>(static_cast<uintptr_t>(0x28));

void Answer(long long value) {
  char line[64];
  snprintf(line, sizeof(line), "answer %lld", value);
  Log(line);
}

// Calls one host callback with a bad pointer and logs what it answered; a
// callback that faults never gets that far.
void BadPointerCall(FilterRecord* fr, const char* which) {
  Handle badHandle = static_cast<Handle>(kBad);
  if (strcmp(which, "handle-lock") == 0) {
    Answer(reinterpret_cast<intptr_t>(fr->handleProcs->lockProc(badHandle, 0)));
  } else if (strcmp(which, "handle-dispose") == 0) {
    fr->handleProcs->disposeProc(badHandle);
    Answer(0);
  } else if (strcmp(which, "handle-getsize") == 0) {
    Answer(fr->handleProcs->getSizeProc(badHandle));
  } else if (strcmp(which, "handle-setsize") == 0) {
    Answer(fr->handleProcs->setSizeProc(badHandle, 10));
  } else if (strcmp(which, "buffer-allocate") == 0) {
    Answer(fr->bufferProcs->allocateProc(100, nullptr));
  } else if (strcmp(which, "buffer-lock") == 0) {
    Answer(reinterpret_cast<intptr_t>(fr->bufferProcs->lockProc(static_cast<BufferID>(kBad), 0)));
  } else if (strcmp(which, "buffer-free") == 0) {
    fr->bufferProcs->freeProc(static_cast<BufferID>(kBad));
    Answer(0);
  } else if (strcmp(which, "property-null") == 0) {
    Answer(fr->propertyProcs->getPropertyProc(kHostSignature, FourCC("docW"), 0, nullptr, nullptr));
  } else if (strcmp(which, "property-bad") == 0) {
    Answer(fr->propertyProcs->getPropertyProc(kHostSignature, FourCC("titl"), 0, static_cast<intptr_t*>(kBad),
                                              static_cast<Handle*>(kBad)));
  } else if (strcmp(which, "suite-name") == 0) {
    const void* suite = nullptr;
    Answer(fr->sSPBasic->AcquireSuite(static_cast<const char*>(kBad), 1, &suite));
  } else if (strcmp(which, "suite-out") == 0) {
    Answer(fr->sSPBasic->AcquireSuite("SP Blocks Suite", 1, static_cast<const void**>(kBad)));
  } else if (strcmp(which, "block-free") == 0) {
    Answer(fr->sSPBasic->FreeBlock(kBad));
  } else if (strcmp(which, "ports-read") == 0) {
    PSScaling scaling{VRect{0, 0, 4, 4}, VRect{0, 0, 4, 4}};
    PixelMemoryDesc desc{kBad, 32, 8, 0, 8};
    Answer(fr->channelPortProcs->readPixelsProc(fr->documentInfo->targetCompositeChannels->port, &scaling, nullptr,
                                                &desc, nullptr));
  } else if (strcmp(which, "ports-write") == 0) {
    VRect rect{0, 0, 4, 4};
    PixelMemoryDesc desc{kBad, 32, 8, 0, 8};
    Answer(fr->channelPortProcs->writeBasePixelsProc(fr->documentInfo->targetCompositeChannels->port, &rect, &desc));
  } else if (strcmp(which, "colour") == 0) {
    Answer(fr->colorServices(static_cast<ColorServicesInfo*>(kBad)));
  } else if (strcmp(which, "display") == 0) {
    VRect rect{0, 0, 4, 4};
    Answer(fr->displayPixels(static_cast<const PSPixelMap*>(kBad), &rect, 0, 0, GetDC(nullptr)));
  } else if (strcmp(which, "display-dc") == 0) {
    static uint8_t pixels[16 * 4];
    PSPixelMap map{};
    map.bounds = VRect{0, 0, 4, 4};
    map.imageMode = 3;
    map.rowBytes = 16;
    map.colBytes = 4;
    map.planeBytes = 1;
    map.baseAddr = pixels;
    VRect rect{0, 0, 4, 4};
    Answer(fr->displayPixels(&map, &rect, 0, 0, kBad));
  }
}

// Says so on every call, as big-document plug-ins do, and leaves the 16-bit
// rectangles to the host.
void Coordinates32(FilterRecord* fr, int16_t selector, int16_t* result) {
  BigDocumentStruct* big = fr->bigDocumentData;
  if (big == nullptr) {
    *result = filterBadParameters;
    return;
  }
  big->PluginUsing32BitCoordinates = 1;
  if (selector == filterSelectorStart) {
    big->inRect32 = big->outRect32 = big->filterRect32;
    fr->inLoPlane = fr->outLoPlane = 0;
    fr->inHiPlane = fr->outHiPlane = 3;
  } else if (selector == filterSelectorContinue) {
    if (fr->inData == nullptr || fr->outData == nullptr) {
      *result = memFullErr;
      return;
    }
    const int64_t rows = big->outRect32.bottom - big->outRect32.top;
    const int64_t columns = big->outRect32.right - big->outRect32.left;
    for (int64_t y = 0; y < rows; ++y) {
      const uint8_t* in = static_cast<const uint8_t*>(fr->inData) + y * fr->inRowBytes;
      uint8_t* out = static_cast<uint8_t*>(fr->outData) + y * fr->outRowBytes;
      for (int64_t x = 0; x < columns; ++x, in += 4, out += 4) {
        out[0] = static_cast<uint8_t>(255 - in[0]);
        out[1] = static_cast<uint8_t>(255 - in[1]);
        out[2] = static_cast<uint8_t>(255 - in[2]);
        out[3] = in[3];
      }
    }
    big->inRect32 = big->outRect32 = VRect{0, 0, 0, 0};
  }
}

// ---- Descriptors.

void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogLine(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof(line), format, args);
  va_end(args);
  Log(line);
}

// A four-character code as text, for the log.
const char* Code(uint32_t code, char (&text)[5]) {
  for (int i = 0; i < 4; ++i) text[i] = static_cast<char>(code >> (24 - 8 * i));
  text[4] = 0;
  return text;
}

Handle TextHandle(FilterRecord* fr, const char* text) {
  const int32_t n = static_cast<int32_t>(strlen(text));
  Handle h = fr->handleProcs->newProc(n);
  if (h != nullptr) memcpy(*h, text, static_cast<size_t>(n));
  return h;
}

// A handle's characters as a C string (cut to fit), then the handle disposed of.
const char* HandleText(FilterRecord* fr, Handle h, char (&text)[64]) {
  text[0] = 0;
  if (h == nullptr) return text;
  int32_t n = fr->handleProcs->getSizeProc(h);
  if (n > 63) n = 63;
  memcpy(text, *h, static_cast<size_t>(n));
  text[n] = 0;
  fr->handleProcs->disposeProc(h);
  return text;
}

void WriteEveryType(FilterRecord* fr) {
  PIDescriptorParameters* dp = fr->descriptorParameters;
  WriteDescriptorProcs* w = dp->writeDescriptorProcs;
  PIWriteDescriptor t = w->openWriteDescriptorProc();
  const double red = 255.0, gamma = 1.5, radius = 2.5;
  w->putFloatProc(t, FourCC("Rd  "), &red);
  Handle inner = nullptr;
  w->closeWriteDescriptorProc(t, &inner);
  PIDescriptorSimpleReference reference{};
  reference.desiredClass = FourCC("Lyr ");
  reference.keyForm = FourCC("indx");
  reference.keyData.index = 3;
  Handle name = TextHandle(fr, "warm"), path = TextHandle(fr, "C:\\data");
  t = w->openWriteDescriptorProc();
  w->putIntegerProc(t, FourCC("Lvls"), -7);
  w->putFloatProc(t, FourCC("Gmma"), &gamma);
  w->putUnitFloatProc(t, FourCC("Rds "), FourCC("#Pxl"), &radius);
  w->putBooleanProc(t, FourCC("Inv "), 1);
  w->putTextProc(t, FourCC("Nm  "), name);
  w->putAliasProc(t, FourCC("Pth "), path);
  w->putEnumeratedProc(t, FourCC("Md  "), FourCC("Mthd"), FourCC("Prcp"));
  w->putClassProc(t, FourCC("Lyr "), FourCC("Lyr "));
  w->putSimpleReferenceProc(t, FourCC("Ref "), &reference);
  w->putObjectProc(t, FourCC("Clr "), FourCC("RGBC"), inner);
  w->putCountProc(t, FourCC("Cnt "), 3);
  w->putStringProc(t, FourCC("Str "), reinterpret_cast<const uint8_t*>("\x0BPascal text"));
  w->putScopedClassProc(t, FourCC("SCls"), FourCC("Cls "));
  w->putScopedObjectProc(t, FourCC("SObj"), FourCC("Obj "), inner);
  Handle written = nullptr;
  LogLine("close %d", w->closeWriteDescriptorProc(t, &written));
  Handle done[] = {inner, name, path, dp->descriptor};
  for (Handle h : done) fr->handleProcs->disposeProc(h);
  dp->descriptor = written;
  fr->parameters = TextHandle(fr, "trouble");
}

// Logs every value as "read KEY TYPE VALUE", objects' values after their key.
void ReadEveryValue(FilterRecord* fr, Handle descriptor, const char* prefix) {
  ReadDescriptorProcs* r = fr->descriptorParameters->readDescriptorProcs;
  DescriptorKeyID keys[] = {FourCC("Lvls"), 0};
  PIReadDescriptor t = r->openReadDescriptorProc(descriptor, keys);
  if (t == nullptr) return LogLine("read %snothing", prefix);
  DescriptorKeyID key;
  DescriptorTypeID type;
  int32_t flags;
  char k[5], c[5], d[5], at[64], inner[64], text[64];
  while (r->getKeyProc(t, &key, &type, &flags)) {
    snprintf(at, sizeof(at), "%s%s %s", prefix, Code(key, k), Code(type, c));
    int32_t i = 0;
    uint32_t u = 0;
    double f = 0;
    Boolean b = 0;
    Handle h = nullptr;
    PIDescriptorSimpleReference ref{};
    OSErr e = noErr;
    if (type == FourCC("long")) {
      e = r->getIntegerProc(t, &i);
      LogLine("read %s %d", at, i);
    } else if (type == FourCC("doub")) {
      e = r->getFloatProc(t, &f);
      LogLine("read %s %g", at, f);
    } else if (type == FourCC("UntF")) {
      e = r->getUnitFloatProc(t, &u, &f);
      LogLine("read %s %s %g", at, Code(u, d), f);
    } else if (type == FourCC("bool")) {
      e = r->getBooleanProc(t, &b);
      LogLine("read %s %d", at, b);
    } else if (type == FourCC("TEXT") || type == FourCC("alis")) {
      e = type == FourCC("TEXT") ? r->getTextProc(t, &h) : r->getAliasProc(t, &h);
      LogLine("read %s %s", at, HandleText(fr, h, text));
    } else if (type == FourCC("enum") || type == FourCC("type") || type == FourCC("GlbC")) {
      e = type == FourCC("enum") ? r->getEnumeratedProc(t, &u) : r->getClassProc(t, &u);
      LogLine("read %s %s", at, Code(u, d));
    } else if (type == FourCC("obj ")) {
      e = r->getSimpleReferenceProc(t, &ref);
      LogLine("read %s %s %s %d", at, Code(ref.desiredClass, d), Code(ref.keyForm, c), ref.keyData.index);
    } else if (type == FourCC("Objc") || type == FourCC("GlbO")) {
      e = r->getObjectProc(t, &u, &h);
      LogLine("read %s %s", at, Code(u, d));
      snprintf(inner, sizeof(inner), "%s%s/", prefix, Code(key, k));
      ReadEveryValue(fr, h, inner);
      fr->handleProcs->disposeProc(h);
    }
    if (e != noErr) LogLine("read %s failed %d", at, e);
  }
  LogLine("read %sclose %d", prefix, r->closeReadDescriptorProc(t));
}

// Every answer must be an error code; none may fault the host.
void HostileDescriptorCalls(FilterRecord* fr) {
  PIDescriptorParameters* dp = fr->descriptorParameters;
  WriteDescriptorProcs* w = dp->writeDescriptorProcs;
  ReadDescriptorProcs* r = dp->readDescriptorProcs;
  auto bad = [](auto* typed) { return reinterpret_cast<decltype(typed)>(kBad); };
  PIWriteDescriptor madeUp = reinterpret_cast<PIWriteDescriptor>(static_cast<uintptr_t>(0x12345601));
  LogLine("hostile put-made-up-token %d", w->putIntegerProc(madeUp, FourCC("Lvls"), 1));
  PIWriteDescriptor t = w->openWriteDescriptorProc();
  LogLine("hostile put-float-bad-pointer %d", w->putFloatProc(t, FourCC("Gmma"), bad(static_cast<double*>(nullptr))));
  LogLine("hostile put-text-bad-handle %d", w->putTextProc(t, FourCC("Nm  "), bad(static_cast<Handle>(nullptr))));
  LogLine("hostile put-string-bad-pointer %d", w->putStringProc(t, FourCC("Str "), bad(static_cast<uint8_t*>(nullptr))));
  LogLine("hostile put-key-zero %d", w->putIntegerProc(t, 0, 1));
  LogLine("hostile put-integer %d", w->putIntegerProc(t, FourCC("Lvls"), 4));
  Handle plain = TextHandle(fr, "plain");
  LogLine("hostile put-object-plain-handle %d", w->putObjectProc(t, FourCC("Obj "), FourCC("Obj "), plain));
  LogLine("hostile close-bad-out %d", w->closeWriteDescriptorProc(t, bad(static_cast<Handle*>(nullptr))));
  LogLine("hostile close-again %d", w->closeWriteDescriptorProc(t, nullptr));
  LogLine("hostile open-bad-handle %d", r->openReadDescriptorProc(bad(static_cast<Handle>(nullptr)), nullptr) != nullptr);
  LogLine("hostile open-plain-handle %d", r->openReadDescriptorProc(plain, nullptr) != nullptr);
  fr->handleProcs->disposeProc(plain);
  DescriptorKeyID key;
  DescriptorTypeID type;
  LogLine("hostile key-made-up-token %d",
          r->getKeyProc(reinterpret_cast<PIReadDescriptor>(madeUp), &key, &type, nullptr));
  t = w->openWriteDescriptorProc();
  w->putIntegerProc(t, FourCC("Lvls"), 4);
  w->putIntegerProc(t, FourCC("Dpth"), 8);
  Handle good = nullptr;
  w->closeWriteDescriptorProc(t, &good);
  PIReadDescriptor rt = r->openReadDescriptorProc(good, bad(static_cast<DescriptorKeyID*>(nullptr)));
  LogLine("hostile open-bad-key-array %d", rt != nullptr);
  int32_t value = 0;
  LogLine("hostile read-before-key %d", r->getIntegerProc(rt, &value));
  LogLine("hostile key %d", r->getKeyProc(rt, &key, &type, nullptr));
  Handle text = nullptr;
  LogLine("hostile read-wrong-type %d", r->getTextProc(rt, &text));
  LogLine("hostile read-bad-pointer %d", r->getIntegerProc(rt, bad(static_cast<int32_t*>(nullptr))));
  LogLine("hostile key-bad-pointer %d", r->getKeyProc(rt, bad(static_cast<DescriptorKeyID*>(nullptr)), &type, nullptr));
  LogLine("hostile close-read %d", r->closeReadDescriptorProc(rt));
  LogLine("hostile close-read-again %d", r->closeReadDescriptorProc(rt));
  fr->handleProcs->disposeProc(good);
}

// The descriptor modes' work at `selector`.
void Descriptors(FilterRecord* fr, int16_t selector) {
  PIDescriptorParameters* dp = fr->descriptorParameters;
  if (selector == filterSelectorFinish && Mode("descriptor-write")) WriteEveryType(fr);
  if (selector != filterSelectorStart) return;
  if (Mode("descriptor-read")) {
    const int32_t size = fr->parameters != nullptr ? fr->handleProcs->getSizeProc(fr->parameters) : 0;
    LogLine("playInfo %d", dp->playInfo);
    LogLine("parameters %.*s", static_cast<int>(size), fr->parameters != nullptr ? *fr->parameters : "");
    ReadEveryValue(fr, dp->descriptor, "");
  } else if (Mode("descriptor-dispose")) {
    fr->handleProcs->disposeProc(dp->descriptor);
  } else if (Mode("descriptor-hostile")) {
    HostileDescriptorCalls(fr);
  }
}

const char* kSelectorNames[] = {"about", "parameters", "prepare", "start", "continue", "finish"};

}  // namespace

extern "C" __declspec(dllexport) void PluginMain(int16_t selector, void* block, intptr_t* data, int16_t* result) {
  // Like many plug-ins, it clears the result at the top of every selector.
  *result = noErr;
  if (GetEnvironmentVariableA("PLUGHOST_TROUBLE", gMode, sizeof(gMode)) == 0) gMode[0] = 0;
  const char* name = selector >= 0 && selector <= 5 ? kSelectorNames[selector] : "unknown";
  Log(name);
  MaybeFault(name);
  if (selector == filterSelectorAbout) {
    if (Mode("about-wait")) Rendezvous();
    MaybeAnswer(name, result);
    return;
  }
  FilterRecord* fr = static_cast<FilterRecord*>(block);
  if (strncmp(gMode, "descriptor-", 11) == 0) Descriptors(fr, selector);
  if (Mode("coords32")) {
    Coordinates32(fr, selector, result);
    return;
  }
  switch (selector) {
    case filterSelectorParameters:
      if (Mode("preview-wait")) {
        // For a while, not once: Wine answers a thread's read of a key from a
        // copy for 50 ms after one that found it up.
        Rendezvous();
        OSErr preview = noErr;
        for (int i = 0; i < 200 && preview == noErr; ++i) {
          preview = fr->advanceState();
          if (preview == noErr) Sleep(1);
        }
        char line[32];
        snprintf(line, sizeof(line), "preview %d", preview);
        Log(line);
        *result = preview;
      }
      break;
    case filterSelectorStart:
      *data = 0;
      WholeImage(fr);
      if (Mode("sampled")) {
        fr->inputRate = 0x20000;
        fr->inRect = Rect{0, 0, static_cast<int16_t>(fr->filterRect.bottom / 2),
                          static_cast<int16_t>(fr->filterRect.right / 2)};
      }
      if (Mode("never-empty")) {
        fr->inRect = Rect{0, 0, 0, fr->filterRect.right};
        fr->outRect = Rect{0, 0, 0, 0};
      }
      break;
    case filterSelectorContinue:
      ++*data;
      if (Mode("sampled") && (fr->inData == nullptr || fr->outData == nullptr)) {
        *result = memFullErr;  // the host could not provide the tiles
        break;
      }
      Scribble(fr);
      if (Mode("cancel-continue")) {
        *result = userCanceledErr;
      } else if (Mode("report-error")) {
        static const char kText[] = "Disk of dreams is full";
        uint8_t* text = reinterpret_cast<uint8_t*>(fr->errorString);
        text[0] = static_cast<uint8_t>(sizeof(kText) - 1);
        memcpy(text + 1, kText, sizeof(kText));
        *result = errReportString;
      } else if (Mode("progress-wait")) {
        fr->progressProc(50, 100);
        Rendezvous();
      } else if (Mode("exit-continue")) {
        ExitProcess(42);
      } else if (Mode("abort-wait")) {
        for (int i = 0; i < 120000 && !fr->abortProc(); ++i) Sleep(1);
        *result = fr->abortProc() ? userCanceledErr : noErr;
      } else if (strncmp(gMode, "badptr-", 7) == 0) {
        BadPointerCall(fr, gMode + 7);
      } else if (Mode("never-empty") && *data < 5) {
        break;  // keeps the same rectangles
      }
      fr->inRect = fr->outRect = fr->maskRect = Rect{0, 0, 0, 0};
      break;
    default:
      break;
  }
  MaybeAnswer(name, result);
}
