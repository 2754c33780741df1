#include <cstring>
#include <string>

#include "gtest/gtest.h"
#include "services/descriptor_procs.h"
#include "services/handles.h"
#include "services/host_services.h"
#include "settings/descriptor_bytes.h"
#include "tests/support/job_scope.h"

namespace {

struct Procs {
  WriteDescriptorProcs w;
  ReadDescriptorProcs r;
  HandleProcs h;
  Procs() {
    FillWriteDescriptorProcs(&w);
    FillReadDescriptorProcs(&r);
    FillHandleProcs(&h);
  }
};

// A call of the test's own, whose tokens end however the test left them.
struct TokenScope {
  JobRecord job{};
  TokenScope() { PublishJob(&job); }
  ~TokenScope() {
    CloseDescriptorTokens(CurrentCall()->descriptorTokens);
    PublishJob(nullptr);
  }
};

Handle Text(const char* text) { return MakeTextHandle(text); }

}  // namespace

struct ReadCase {
  uint32_t kind;  // of the value written
  int read;       // which read procedure
  bool accepted;
};

enum ReadProc { R_INTEGER, R_FLOAT, R_UNIT_FLOAT, R_BOOLEAN, R_TEXT, R_ALIAS, R_ENUM, R_CLASS, R_REF, R_OBJECT, R_COUNT, R_STRING };

const ReadCase kReadCases[] = {
    {DK_INTEGER, R_INTEGER, true},     {DK_INTEGER, R_FLOAT, true},      {DK_INTEGER, R_UNIT_FLOAT, true},
    {DK_INTEGER, R_COUNT, true},       {DK_INTEGER, R_BOOLEAN, false},   {DK_INTEGER, R_TEXT, false},
    {DK_FLOAT, R_INTEGER, false},      {DK_FLOAT, R_UNIT_FLOAT, false},  {DK_UNIT_FLOAT, R_FLOAT, false},
    {DK_BOOLEAN, R_INTEGER, false},    {DK_TEXT, R_STRING, true},        {DK_TEXT, R_ALIAS, false},
    {DK_ALIAS, R_TEXT, false},         {DK_ENUMERATED, R_CLASS, false},  {DK_CLASS, R_ENUM, false},
    {DK_REFERENCE, R_OBJECT, false},   {DK_OBJECT, R_REF, false},        {DK_COUNT, R_INTEGER, true},
    {DK_STRING, R_TEXT, true},         {DK_SCOPED_CLASS, R_CLASS, true}, {DK_SCOPED_OBJECT, R_OBJECT, true},
    {DK_SCOPED_CLASS, R_OBJECT, false},
};

// A one-item descriptor of `kind` in a descriptor handle.
Handle OneItem(uint32_t kind) {
  std::string d;
  if (kind == DK_UNIT_FLOAT) AppendDescriptorUnitFloat(&d, FourCC("Key "), FourCC("#Pxl"), 2.5);
  else if (kind == DK_FLOAT) AppendDescriptorF64(&d, FourCC("Key "), kind, 2.5);
  else if (kind == DK_ENUMERATED) AppendDescriptorPair(&d, FourCC("Key "), kind, 1, 2);
  else if (kind == DK_OBJECT || kind == DK_SCOPED_OBJECT) AppendDescriptorObject(&d, FourCC("Key "), kind, 1, nullptr, 0);
  else if (kind == DK_REFERENCE) AppendDescriptorItem(&d, FourCC("Key "), kind, std::string(276, 'r').data(), 276);
  else if (kind == DK_TEXT || kind == DK_STRING || kind == DK_ALIAS) AppendDescriptorItem(&d, FourCC("Key "), kind, "ab", 2);
  else if (kind == DK_BOOLEAN) AppendDescriptorItem(&d, FourCC("Key "), kind, "\1", 1);
  else AppendDescriptorU32(&d, FourCC("Key "), kind, 9);
  return NewDescriptorHandle(reinterpret_cast<const uint8_t*>(d.data()), static_cast<uint32_t>(d.size()));
}

// Reads the current value through `which` into a sentinel-filled place;
// answers the result and whether the place changed.
OSErr ReadAs(const ReadDescriptorProcs& r, PIReadDescriptor token, int which, bool* changed) {
  union {
    uint8_t bytes[300];
    double number;
  } place;
  memset(&place, 0xA5, sizeof(place));
  uint32_t unit = 0xA5A5A5A5;
  Handle h = nullptr;
  OSErr e = paramErr;
  switch (which) {
    case R_INTEGER: e = r.getIntegerProc(token, reinterpret_cast<int32_t*>(place.bytes)); break;
    case R_FLOAT: e = r.getFloatProc(token, &place.number); break;
    case R_UNIT_FLOAT: e = r.getUnitFloatProc(token, &unit, &place.number); break;
    case R_BOOLEAN: e = r.getBooleanProc(token, place.bytes); break;
    case R_TEXT: e = r.getTextProc(token, &h); break;
    case R_ALIAS: e = r.getAliasProc(token, &h); break;
    case R_ENUM: e = r.getEnumeratedProc(token, reinterpret_cast<uint32_t*>(place.bytes)); break;
    case R_CLASS: e = r.getClassProc(token, reinterpret_cast<uint32_t*>(place.bytes)); break;
    case R_REF: e = r.getSimpleReferenceProc(token, reinterpret_cast<PIDescriptorSimpleReference*>(place.bytes)); break;
    case R_OBJECT: e = r.getObjectProc(token, reinterpret_cast<uint32_t*>(place.bytes), &h); break;
    case R_COUNT: e = r.getCountProc(token, reinterpret_cast<uint32_t*>(place.bytes)); break;
    case R_STRING: e = r.getStringProc(token, reinterpret_cast<Str255*>(place.bytes)); break;
  }
  *changed = h != nullptr || unit != 0xA5A5A5A5 || place.bytes[0] != 0xA5 || place.bytes[4] != 0xA5;
  HostDisposeHandle(h);
  return e;
}

TEST(DescriptorProcs, ReadsOfAnotherTypeAnswerParamErrAndChangeNothing) {
  Procs p;
  TokenScope scope;
  for (const ReadCase& c : kReadCases) {
    Handle d = OneItem(c.kind);
    ASSERT_NE(nullptr, d) << "kind " << c.kind;
    PIReadDescriptor r = p.r.openReadDescriptorProc(d, nullptr);
    DescriptorKeyID key;
    DescriptorTypeID type;
    ASSERT_TRUE(p.r.getKeyProc(r, &key, &type, nullptr));
    bool changed = false;
    const OSErr e = ReadAs(p.r, r, c.read, &changed);
    if (c.accepted) {
      EXPECT_EQ(noErr, e) << "kind " << c.kind << " read " << c.read;
      EXPECT_TRUE(changed) << "kind " << c.kind << " read " << c.read;
      EXPECT_EQ(noErr, p.r.closeReadDescriptorProc(r));
    } else {
      EXPECT_EQ(paramErr, e) << "kind " << c.kind << " read " << c.read;
      EXPECT_FALSE(changed) << "kind " << c.kind << " read " << c.read << ": a refused read wrote";
      EXPECT_EQ(paramErr, p.r.closeReadDescriptorProc(r)) << "closing answers the refusal";
    }
    HostDisposeHandle(d);
  }
}

TEST(DescriptorProcs, PinnedReadsStoreTheClampedValue) {
  Procs p;
  TokenScope scope;
  std::string d;
  AppendDescriptorU32(&d, FourCC("Big "), DK_INTEGER, 300);
  AppendDescriptorF64(&d, FourCC("Low "), DK_FLOAT, -4.0);
  AppendDescriptorUnitFloat(&d, FourCC("Rds "), FourCC("#Pxl"), 9.5);
  AppendDescriptorU32(&d, FourCC("Int "), DK_INTEGER, 2);
  Handle h = NewDescriptorHandle(reinterpret_cast<const uint8_t*>(d.data()), static_cast<uint32_t>(d.size()));
  PIReadDescriptor r = p.r.openReadDescriptorProc(h, nullptr);
  DescriptorKeyID key;
  DescriptorTypeID type;
  int32_t i = 0;
  double f = 0, lo = 0.5, hi = 8.0;
  uint32_t unit = 0;
  ASSERT_TRUE(p.r.getKeyProc(r, &key, &type, nullptr));
  EXPECT_EQ(noErr, p.r.getPinnedIntegerProc(r, 2, 255, &i));
  EXPECT_EQ(255, i);
  ASSERT_TRUE(p.r.getKeyProc(r, &key, &type, nullptr));
  EXPECT_EQ(noErr, p.r.getPinnedFloatProc(r, &lo, &hi, &f));
  EXPECT_EQ(0.5, f);
  EXPECT_EQ(noErr, p.r.getPinnedFloatProc(r, nullptr, &hi, &f)) << "a null bound leaves that side open";
  EXPECT_EQ(-4.0, f);
  ASSERT_TRUE(p.r.getKeyProc(r, &key, &type, nullptr));
  EXPECT_EQ(noErr, p.r.getPinnedUnitFloatProc(r, &lo, &hi, &unit, &f));
  EXPECT_EQ(8.0, f);
  EXPECT_EQ(FourCC("#Pxl"), unit);
  ASSERT_TRUE(p.r.getKeyProc(r, &key, &type, nullptr));
  EXPECT_EQ(noErr, p.r.getPinnedUnitFloatProc(r, &lo, &hi, &unit, &f)) << "an integer reads as a unit float";
  EXPECT_EQ(2.0, f);
  EXPECT_EQ(FourCC("#Nne"), unit);
  EXPECT_EQ(noErr, p.r.closeReadDescriptorProc(r));
  HostDisposeHandle(h);
}

TEST(DescriptorProcs, GetKeyAgainSkipsTheValueAndCloseAnswersTheFirstError) {
  Procs p;
  TokenScope scope;
  std::string d;
  for (uint32_t v = 1; v <= 3; ++v) AppendDescriptorU32(&d, FourCC("Ky 0") + v, DK_INTEGER, v);
  Handle h = NewDescriptorHandle(reinterpret_cast<const uint8_t*>(d.data()), static_cast<uint32_t>(d.size()));
  PIReadDescriptor r = p.r.openReadDescriptorProc(h, nullptr);
  int32_t i = 0;
  Boolean b = 0;
  EXPECT_EQ(paramErr, p.r.getIntegerProc(r, &i)) << "no key handed out yet";
  DescriptorKeyID key;
  DescriptorTypeID type;
  ASSERT_TRUE(p.r.getKeyProc(r, &key, &type, nullptr));
  ASSERT_TRUE(p.r.getKeyProc(r, &key, &type, nullptr));  // the first value is skipped
  EXPECT_EQ(FourCC("Ky 2"), key);
  EXPECT_EQ(paramErr, p.r.getBooleanProc(r, &b));
  EXPECT_EQ(noErr, p.r.getIntegerProc(r, &i)) << "a refused read leaves the value to read";
  EXPECT_EQ(2, i);
  EXPECT_EQ(paramErr, p.r.getIntegerProc(r, nullptr));
  EXPECT_EQ(paramErr, p.r.closeReadDescriptorProc(r)) << "the first error, though reads succeeded after it";
  HostDisposeHandle(h);
}

TEST(DescriptorProcs, AKeyWrittenAgainTakesItsNewValueAtTheEnd) {
  Procs p;
  TokenScope scope;
  PIWriteDescriptor w = p.w.openWriteDescriptorProc();
  Handle long_text = Text(std::string(600, 'x').c_str());
  EXPECT_EQ(noErr, p.w.putIntegerProc(w, FourCC("One "), 1));
  EXPECT_EQ(noErr, p.w.putTextProc(w, FourCC("Two "), long_text));
  EXPECT_EQ(noErr, p.w.putIntegerProc(w, FourCC("One "), 11));
  EXPECT_EQ(noErr, p.w.putTextProc(w, FourCC("Emp "), nullptr)) << "a null text handle is an empty text";
  EXPECT_EQ(paramErr, p.w.putIntegerProc(w, 0, 1)) << "0 ends a key array and names no key";
  HostDisposeHandle(long_text);
  Handle h = nullptr;
  ASSERT_EQ(noErr, p.w.closeWriteDescriptorProc(w, &h));
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(*h);
  const size_t size = static_cast<size_t>(HostGetHandleSize(h));
  size_t offset = 0;
  DescriptorItem item;
  ASSERT_TRUE(NextDescriptorItem(bytes, size, &offset, &item));
  EXPECT_EQ(FourCC("Two "), item.key);
  EXPECT_EQ(600u, item.length);
  ASSERT_TRUE(NextDescriptorItem(bytes, size, &offset, &item));
  EXPECT_EQ(FourCC("One "), item.key);
  EXPECT_EQ(11, ReadI32(item.value));
  ASSERT_TRUE(NextDescriptorItem(bytes, size, &offset, &item));
  EXPECT_EQ(0u, item.length);
  EXPECT_EQ(size, offset);
  HostDisposeHandle(h);

  // Nothing written: no handle, and no failure.
  w = p.w.openWriteDescriptorProc();
  h = reinterpret_cast<Handle>(NoAccessAddress());
  EXPECT_EQ(noErr, p.w.closeWriteDescriptorProc(w, &h));
  EXPECT_EQ(nullptr, h);
}

TEST(DescriptorProcs, TokensAreCheckedAndWhatIsLeftOpenIsFreedAtTheEnd) {
  Procs p;
  TokenScope scope;
  const int64_t blocksBefore = OutstandingBlocks();
  PIWriteDescriptor w = p.w.openWriteDescriptorProc();
  ASSERT_EQ(noErr, p.w.putIntegerProc(w, FourCC("Lvls"), 1));
  Handle h = nullptr;
  ASSERT_EQ(noErr, p.w.closeWriteDescriptorProc(w, &h));
  EXPECT_EQ(HANDLE_KIND_DESCRIPTOR, HandleKind(h));
  EXPECT_EQ(paramErr, p.w.putIntegerProc(w, FourCC("Lvls"), 2)) << "a closed token";
  EXPECT_EQ(paramErr, p.w.closeWriteDescriptorProc(w, &h));
  DescriptorKeyID keys[] = {FourCC("Lvls"), FourCC("Nm  "), 0};
  PIReadDescriptor r = p.r.openReadDescriptorProc(h, keys);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(FourCC("Lvls"), keys[0]) << "the key array is only read";
  const PIWriteDescriptor made[] = {nullptr, reinterpret_cast<PIWriteDescriptor>(r),
                                    static_cast<PIWriteDescriptor>(NoAccessAddress()),
                                    reinterpret_cast<PIWriteDescriptor>(static_cast<uintptr_t>(0x7FFF01))};
  for (PIWriteDescriptor bad : made) {
    EXPECT_EQ(paramErr, p.w.putIntegerProc(bad, FourCC("Lvls"), 2)) << bad;
    EXPECT_EQ(paramErr, p.r.getIntegerProc(reinterpret_cast<PIReadDescriptor>(bad), nullptr)) << bad;
    EXPECT_FALSE(p.r.getKeyProc(reinterpret_cast<PIReadDescriptor>(bad), nullptr, nullptr, nullptr)) << bad;
  }
  // A plug-in that opens more than it closes runs out, then the call's end frees them all.
  int opened = 0;
  while (p.w.openWriteDescriptorProc() != nullptr && opened < 1000) ++opened;
  EXPECT_EQ(DESCRIPTOR_TOKEN_SLOTS - 1, opened);
  CloseDescriptorTokens(CurrentCall()->descriptorTokens);
  EXPECT_EQ(paramErr, p.r.closeReadDescriptorProc(r)) << "closed with the call";
  HostDisposeHandle(h);
  EXPECT_EQ(blocksBefore, OutstandingBlocks());
}

TEST(DescriptorProcs, BadPointersAndForeignHandlesGetErrorCodes) {
  Procs p;
  TokenScope scope;
  void* bad = NoAccessAddress();
  PIWriteDescriptor w = p.w.openWriteDescriptorProc();
  EXPECT_EQ(paramErr, p.w.putFloatProc(w, FourCC("Gmma"), static_cast<const double*>(bad)));
  EXPECT_EQ(paramErr, p.w.putFloatProc(w, FourCC("Gmma"), nullptr));
  EXPECT_EQ(paramErr, p.w.putUnitFloatProc(w, FourCC("Rds "), FourCC("#Pxl"), static_cast<const double*>(bad)));
  EXPECT_EQ(paramErr, p.w.putTextProc(w, FourCC("Nm  "), static_cast<Handle>(bad)));
  EXPECT_EQ(paramErr, p.w.putSimpleReferenceProc(w, FourCC("Ref "), static_cast<PIDescriptorSimpleReference*>(bad)));
  EXPECT_EQ(paramErr, p.w.putStringProc(w, FourCC("Str "), static_cast<const uint8_t*>(bad)));
  Handle plain = Text("not a descriptor");
  EXPECT_EQ(paramErr, p.w.putObjectProc(w, FourCC("Obj "), 1, plain)) << "only our descriptor handles nest";
  EXPECT_EQ(nullptr, p.r.openReadDescriptorProc(plain, nullptr));
  EXPECT_EQ(nullptr, p.r.openReadDescriptorProc(static_cast<Handle>(bad), nullptr));
  EXPECT_EQ(noErr, p.w.putIntegerProc(w, FourCC("Lvls"), 4));
  EXPECT_EQ(paramErr, p.w.closeWriteDescriptorProc(w, static_cast<Handle*>(bad)));

  // Handles a plug-in trampled: a descriptor disposed is no descriptor any
  // more, one whose bytes were changed is checked again.
  Handle d = OneItem(DK_INTEGER);
  **d = 0x7F;  // still one item, another key
  EXPECT_NE(nullptr, p.r.openReadDescriptorProc(d, nullptr));
  (*d)[4] = 99;  // an unknown kind
  EXPECT_EQ(nullptr, p.r.openReadDescriptorProc(d, nullptr));
  p.h.disposeProc(d);

  Handle one = OneItem(DK_INTEGER);
  PIReadDescriptor r = p.r.openReadDescriptorProc(one, nullptr);
  p.h.disposeProc(one);  // reading goes on from the copy taken at open
  EXPECT_FALSE(p.r.getKeyProc(r, static_cast<DescriptorKeyID*>(bad), static_cast<DescriptorTypeID*>(bad), nullptr));
  Handle again = OneItem(DK_INTEGER);
  r = p.r.openReadDescriptorProc(again, nullptr);
  DescriptorKeyID key;
  DescriptorTypeID type;
  ASSERT_TRUE(p.r.getKeyProc(r, &key, &type, static_cast<int32_t*>(nullptr)));
  EXPECT_EQ(paramErr, p.r.getIntegerProc(r, static_cast<int32_t*>(bad)));
  EXPECT_EQ(paramErr, p.r.getPinnedFloatProc(r, static_cast<const double*>(bad), nullptr, nullptr));
  EXPECT_EQ(paramErr, p.r.getTextProc(r, static_cast<Handle*>(bad)));
  HostDisposeHandle(plain);
  HostDisposeHandle(again);
}

TEST(DescriptorProcs, ObjectsNestNoDeeperThanDescriptorsMay) {
  Procs p;
  TokenScope scope;
  Handle inner = nullptr;
  int depth = 0;
  for (;; ++depth) {
    PIWriteDescriptor w = p.w.openWriteDescriptorProc();
    p.w.putIntegerProc(w, FourCC("Lvl "), depth);
    const OSErr e = inner != nullptr ? p.w.putObjectProc(w, FourCC("In  "), FourCC("Obj "), inner) : noErr;
    HostDisposeHandle(inner);
    inner = nullptr;
    ASSERT_EQ(noErr, p.w.closeWriteDescriptorProc(w, &inner));
    if (e != noErr) {
      EXPECT_EQ(paramErr, e);
      break;
    }
    ASSERT_LT(depth, 100);
  }
  EXPECT_EQ(DESCRIPTOR_MAX_DEPTH + 1, depth) << "objects inside objects, counted from the outermost";
  HostDisposeHandle(inner);
}
