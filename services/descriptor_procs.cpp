#include "services/descriptor_procs.h"

#include <cstring>
#include <initializer_list>

#include "base/memory.h"
#include "base/guard.h"
#include "call/plugin_call.h"
#include "services/handles.h"
#include "services/host_services.h"
#include "settings/descriptor_bytes.h"

// Tokens are numbers, never addresses: a slot of this call's table and the
// generation it was opened with, so a token closed, or made up, finds no
// slot. Whatever a plug-in hands in (handles, values behind pointers, places
// to store answers) is read or written under the guard, and a fault there
// becomes paramErr. The table is used by the one running job only.

namespace {

enum TokenKind : uint8_t { TOKEN_FREE = 0, TOKEN_WRITE = 1, TOKEN_READ = 2 };

// The running call's table; none outside a Filter call.
DescriptorTokens* Tokens() { return CurrentCall()->descriptorTokens; }

constexpr uint32_t kUnitNone = FourCC("#Nne");  // the unit of an integer read as a unit float

uintptr_t Open(uint8_t kind, uint8_t* bytes, uint32_t capacity, uint32_t used) {
  DescriptorTokens* tokens = Tokens();
  if (tokens == nullptr) return 0;
  for (int i = 0; i < DESCRIPTOR_TOKEN_SLOTS; ++i) {
    TokenSlot* s = &tokens->slots[i];
    if (s->kind != TOKEN_FREE) continue;
    tokens->lastGeneration = (tokens->lastGeneration + 1) & 0xFFFFFF;
    if (tokens->lastGeneration == 0) tokens->lastGeneration = 1;
    *s = TokenSlot{kind, tokens->lastGeneration, bytes, capacity, used, 0, false, {}, noErr};
    return static_cast<uintptr_t>(s->generation) << 8 | static_cast<uintptr_t>(i + 1);
  }
  return 0;
}

TokenSlot* Find(const void* token, uint8_t kind) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(token);
  const uintptr_t index = value & 0xFF;
  DescriptorTokens* tokens = Tokens();
  if (tokens == nullptr || index == 0 || index > DESCRIPTOR_TOKEN_SLOTS) return nullptr;
  TokenSlot* s = &tokens->slots[index - 1];
  return s->kind == kind && (value >> 8) == s->generation ? s : nullptr;
}

void Release(TokenSlot* s) {
  FreeBlock(s->bytes);
  const uint32_t generation = s->generation;
  *s = TokenSlot{};
  s->generation = generation;
}

// ---- Writing.

// Room for `more` bytes past those written; false when it cannot be had.
bool Reserve(TokenSlot* s, uint64_t more) {
  const uint64_t need = s->used + more;
  if (need > DESCRIPTOR_LIMIT_BYTES) return false;
  if (need <= s->capacity) return true;
  uint64_t capacity = s->capacity < 256 ? 256 : s->capacity;
  while (capacity < need) capacity *= 2;
  if (capacity > DESCRIPTOR_LIMIT_BYTES) capacity = DESCRIPTOR_LIMIT_BYTES;
  uint8_t* fresh = static_cast<uint8_t*>(AllocZeroed(capacity));
  if (fresh == nullptr) return false;
  if (s->used != 0) memcpy(fresh, s->bytes, s->used);
  FreeBlock(s->bytes);
  s->bytes = fresh;
  s->capacity = static_cast<uint32_t>(capacity);
  return true;
}

// An item is staged past the bytes written, then committed: a put that fails
// leaves the descriptor as it was.
struct Staged {
  TokenSlot* slot;
  uint32_t key;
  uint32_t length;
  uint8_t* value;  // null: nothing staged
  OSErr error;
};

Staged Stage(PIWriteDescriptor token, uint32_t key, uint32_t kind, uint64_t length) {
  TokenSlot* s = Find(token, TOKEN_WRITE);
  if (s == nullptr || key == 0) return Staged{s, key, 0, nullptr, paramErr};
  if (length > DESCRIPTOR_LIMIT_BYTES || !Reserve(s, DESCRIPTOR_ITEM_HEADER_BYTES + length))
    return Staged{s, key, 0, nullptr, memFullErr};
  uint8_t* at = s->bytes + s->used;
  WriteDescriptorItem(at, key, kind, nullptr, 0);
  StoreU32(at + 8, static_cast<uint32_t>(length));
  return Staged{s, key, static_cast<uint32_t>(length), at + DESCRIPTOR_ITEM_HEADER_BYTES, noErr};
}

// A key written again takes its new value, in its new place.
OSErr Commit(const Staged& staged) {
  if (staged.value == nullptr) return staged.error;
  TokenSlot* s = staged.slot;
  const uint32_t itemBytes = DESCRIPTOR_ITEM_HEADER_BYTES + staged.length;
  if (!DescriptorIsValid(s->bytes + s->used, itemBytes)) return paramErr;
  DescriptorItem old;
  if (DescriptorFind(s->bytes, s->used, staged.key, &old)) {
    const size_t end = static_cast<size_t>(old.value - s->bytes) + old.length;
    const size_t start = static_cast<size_t>(old.value - s->bytes) - DESCRIPTOR_ITEM_HEADER_BYTES;
    memmove(s->bytes + start, s->bytes + end, s->used + itemBytes - end);
    s->used -= static_cast<uint32_t>(end - start);
  }
  s->used += itemBytes;
  return noErr;
}

OSErr PutBytes(PIWriteDescriptor token, uint32_t key, uint32_t kind, const void* value, uint32_t length) {
  Staged staged = Stage(token, key, kind, length);
  if (staged.value != nullptr && length != 0) memcpy(staged.value, value, length);
  return Commit(staged);
}

OSErr PutU32(PIWriteDescriptor token, uint32_t key, uint32_t kind, uint32_t value) {
  uint8_t v[4];
  StoreU32(v, value);
  return PutBytes(token, key, kind, v, sizeof(v));
}

// A value behind a plug-in's pointer, copied under the guard.
template <class T>
bool ReadGuarded(const T* from, T* to) {
  if (from == nullptr) return false;
  return Guarded([&] { memcpy(to, from, sizeof(T)); }) != 0;
}

OSErr PutHandle(PIWriteDescriptor token, uint32_t key, uint32_t kind, Handle h) {
  uint8_t* bytes = nullptr;
  uint32_t size = 0;
  if (Find(token, TOKEN_WRITE) == nullptr) return paramErr;
  // A null handle is what a plug-in's newProc(0) gave it: no characters.
  if (!CopyHandleBytes(h, DESCRIPTOR_LIMIT_BYTES, &bytes, &size)) return paramErr;
  const OSErr result = PutBytes(token, key, kind, bytes, size);
  FreeBlock(bytes);
  return result;
}

OSErr PutObjectOf(PIWriteDescriptor token, uint32_t key, uint32_t kind, uint32_t objectClass, Handle nested) {
  uint8_t* bytes = nullptr;
  uint32_t size = 0;
  if (Find(token, TOKEN_WRITE) == nullptr) return paramErr;
  // A null descriptor is an object without keys.
  if (nested != nullptr && !CopyDescriptorHandle(nested, &bytes, &size)) return paramErr;
  Staged staged = Stage(token, key, kind, uint64_t{4} + size);
  if (staged.value != nullptr) {
    StoreU32(staged.value, objectClass);
    if (size != 0) memcpy(staged.value + 4, bytes, size);
  }
  FreeBlock(bytes);
  // Committing checks the depth the object now reaches.
  return Commit(staged);
}

PIWriteDescriptor OpenWriteDescriptor() { return reinterpret_cast<PIWriteDescriptor>(Open(TOKEN_WRITE, nullptr, 0, 0)); }

OSErr CloseWriteDescriptor(PIWriteDescriptor token, Handle* newDescriptor) {
  TokenSlot* s = Find(token, TOKEN_WRITE);
  if (s == nullptr) return paramErr;
  // Nothing written gives no handle, as an empty handle cannot be made.
  Handle h = NewDescriptorHandle(s->bytes, s->used);
  OSErr result = s->used != 0 && h == nullptr ? memFullErr : noErr;
  Release(s);
  if (newDescriptor == nullptr || !Guarded([&] { *reinterpret_cast<volatile Handle*>(newDescriptor) = h; })) {
    HostDisposeHandle(h);
    return paramErr;
  }
  return result;
}

OSErr PutInteger(PIWriteDescriptor token, DescriptorKeyID key, int32_t value) {
  return PutU32(token, key, DK_INTEGER, static_cast<uint32_t>(value));
}

OSErr PutFloat(PIWriteDescriptor token, DescriptorKeyID key, const double* value) {
  double v;
  if (!ReadGuarded(value, &v)) return paramErr;
  uint8_t bytes[8];
  StoreF64(bytes, v);
  return PutBytes(token, key, DK_FLOAT, bytes, sizeof(bytes));
}

OSErr PutUnitFloat(PIWriteDescriptor token, DescriptorKeyID key, DescriptorUnitID unit, const double* value) {
  double v;
  if (!ReadGuarded(value, &v)) return paramErr;
  uint8_t bytes[12];
  StoreU32(bytes, unit);
  StoreF64(bytes + 4, v);
  return PutBytes(token, key, DK_UNIT_FLOAT, bytes, sizeof(bytes));
}

OSErr PutBoolean(PIWriteDescriptor token, DescriptorKeyID key, Boolean value) {
  const uint8_t v = value != 0 ? 1 : 0;
  return PutBytes(token, key, DK_BOOLEAN, &v, 1);
}

OSErr PutText(PIWriteDescriptor token, DescriptorKeyID key, Handle text) { return PutHandle(token, key, DK_TEXT, text); }

OSErr PutAlias(PIWriteDescriptor token, DescriptorKeyID key, Handle alias) {
  return PutHandle(token, key, DK_ALIAS, alias);
}

OSErr PutEnumerated(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type, DescriptorEnumID value) {
  uint8_t v[8];
  StoreU32(v, type);
  StoreU32(v + 4, value);
  return PutBytes(token, key, DK_ENUMERATED, v, sizeof(v));
}

OSErr PutClass(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type) {
  return PutU32(token, key, DK_CLASS, type);
}

OSErr PutSimpleReference(PIWriteDescriptor token, DescriptorKeyID key, const PIDescriptorSimpleReference* reference) {
  PIDescriptorSimpleReference copy;
  if (!ReadGuarded(reference, &copy)) return paramErr;
  return PutBytes(token, key, DK_REFERENCE, &copy, sizeof(copy));
}

OSErr PutObject(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type, Handle descriptor) {
  return PutObjectOf(token, key, DK_OBJECT, type, descriptor);
}

OSErr PutCount(PIWriteDescriptor token, DescriptorKeyID key, uint32_t count) {
  return PutU32(token, key, DK_COUNT, count);
}

OSErr PutString(PIWriteDescriptor token, DescriptorKeyID key, const uint8_t* pascalString) {
  uint8_t copy[256];
  if (pascalString == nullptr || !Guarded([&] { memcpy(copy, pascalString, 1u + pascalString[0]); }))
    return paramErr;
  return PutBytes(token, key, DK_STRING, copy + 1, copy[0]);
}

OSErr PutScopedClass(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type) {
  return PutU32(token, key, DK_SCOPED_CLASS, type);
}

OSErr PutScopedObject(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type, Handle descriptor) {
  return PutObjectOf(token, key, DK_SCOPED_OBJECT, type, descriptor);
}

// ---- Reading.

// Kinds a read procedure takes, one bit per kind. Kinds that share a type
// code read alike: a count is a 'long', a Pascal string 'TEXT'. The float
// reads also take an integer, and the class and object reads their scoped
// twins, which have no read procedures of their own.
constexpr uint32_t Kinds(std::initializer_list<uint32_t> kinds) {
  uint32_t mask = 0;
  for (uint32_t k : kinds) mask |= 1u << k;
  return mask;
}
constexpr uint32_t kWhole = Kinds({DK_INTEGER, DK_COUNT});
constexpr uint32_t kFloat = Kinds({DK_FLOAT, DK_INTEGER, DK_COUNT});
constexpr uint32_t kUnitFloat = Kinds({DK_UNIT_FLOAT, DK_INTEGER, DK_COUNT});
constexpr uint32_t kText = Kinds({DK_TEXT, DK_STRING});

OSErr Note(TokenSlot* s, OSErr error) {
  if (s != nullptr && s->firstError == noErr) s->firstError = error;
  return error;
}

// The value getKeyProc last handed out, when it is of a kind in `kinds`.
// Anything else is noted for closing and changes nothing.
const DescriptorItem* Current(PIReadDescriptor token, uint32_t kinds, TokenSlot** slot, OSErr* error) {
  TokenSlot* s = Find(token, TOKEN_READ);
  *slot = s;
  *error = paramErr;
  if (s == nullptr) return nullptr;
  if (!s->hasCurrent || (kinds >> s->current.kind & 1) == 0) {
    Note(s, paramErr);
    return nullptr;
  }
  *error = noErr;
  return &s->current;
}

// Stores an answer through the plug-in's pointer under the guard.
template <class F>
OSErr Answer(TokenSlot* s, const void* target, F&& store) {
  if (target == nullptr || !Guarded(store)) return Note(s, paramErr);
  return noErr;
}

double NumberOf(const DescriptorItem& item) {
  if (item.kind == DK_FLOAT) return ReadF64(item.value);
  if (item.kind == DK_UNIT_FLOAT) return ReadF64(item.value + 4);
  if (item.kind == DK_COUNT) return static_cast<double>(ReadU32(item.value));
  return static_cast<double>(ReadI32(item.value));
}

// Hands out a new handle of `bytes`; the plug-in owns it once stored.
OSErr AnswerHandle(TokenSlot* s, Handle* target, const uint8_t* bytes, uint32_t size, uintptr_t kind) {
  if (target == nullptr) return Note(s, paramErr);
  Handle h = NewHandleWithBytes(bytes, size, kind);
  if (size != 0 && h == nullptr) return Note(s, memFullErr);
  if (!Guarded([&] { *reinterpret_cast<volatile Handle*>(target) = h; })) {
    HostDisposeHandle(h);
    return Note(s, paramErr);
  }
  return noErr;
}

PIReadDescriptor OpenReadDescriptor(Handle descriptor, DescriptorKeyIDArray keyArray) {
  // The keys come back in the order they were written, whatever the array
  // asks for; the array is left as the plug-in made it.
  uint8_t* bytes = nullptr;
  uint32_t size = 0;
  if (descriptor == nullptr || !CopyDescriptorHandle(descriptor, &bytes, &size)) return nullptr;
  uintptr_t token = Open(TOKEN_READ, bytes, size, size);
  if (token == 0) FreeBlock(bytes);
  return reinterpret_cast<PIReadDescriptor>(token);
}

OSErr CloseReadDescriptor(PIReadDescriptor token) {
  TokenSlot* s = Find(token, TOKEN_READ);
  if (s == nullptr) return paramErr;
  const OSErr result = s->firstError;
  Release(s);
  return result;
}

// Moves on to the next value, whether or not the last one was read.
Boolean GetKey(PIReadDescriptor token, DescriptorKeyID* key, DescriptorTypeID* type, int32_t* flags) {
  TokenSlot* s = Find(token, TOKEN_READ);
  if (s == nullptr) return 0;
  s->hasCurrent = NextDescriptorItem(s->bytes, s->used, &s->next, &s->current);
  if (!s->hasCurrent) return 0;
  const uint32_t k = s->current.key, t = DescriptorTypeCode(s->current.kind);
  if (key == nullptr || type == nullptr || !Guarded([&] {
        *reinterpret_cast<volatile uint32_t*>(key) = k;
        *reinterpret_cast<volatile uint32_t*>(type) = t;
        if (flags != nullptr) *reinterpret_cast<volatile int32_t*>(flags) = 0;
      })) {
    Note(s, paramErr);
    return 0;
  }
  return 1;
}

OSErr GetInteger(PIReadDescriptor token, int32_t* value) {
  TokenSlot* s;
  OSErr e;
  const DescriptorItem* item = Current(token, kWhole, &s, &e);
  if (item == nullptr) return e;
  const int32_t v = ReadI32(item->value);
  return Answer(s, value, [&] { *reinterpret_cast<volatile int32_t*>(value) = v; });
}

OSErr GetFloat(PIReadDescriptor token, double* value) {
  TokenSlot* s;
  OSErr e;
  const DescriptorItem* item = Current(token, kFloat, &s, &e);
  if (item == nullptr) return e;
  const double v = NumberOf(*item);
  return Answer(s, value, [&] { *reinterpret_cast<volatile double*>(value) = v; });
}

OSErr GetUnitFloat(PIReadDescriptor token, DescriptorUnitID* unit, double* value) {
  TokenSlot* s;
  OSErr e;
  const DescriptorItem* item = Current(token, kUnitFloat, &s, &e);
  if (item == nullptr) return e;
  const uint32_t u = item->kind == DK_UNIT_FLOAT ? ReadU32(item->value) : kUnitNone;
  const double v = NumberOf(*item);
  if (unit == nullptr) return Note(s, paramErr);
  return Answer(s, value, [&] {
    *reinterpret_cast<volatile uint32_t*>(unit) = u;
    *reinterpret_cast<volatile double*>(value) = v;
  });
}

OSErr GetBoolean(PIReadDescriptor token, Boolean* value) {
  TokenSlot* s;
  OSErr e;
  const DescriptorItem* item = Current(token, Kinds({DK_BOOLEAN}), &s, &e);
  if (item == nullptr) return e;
  const uint8_t v = item->value[0];
  return Answer(s, value, [&] { *reinterpret_cast<volatile uint8_t*>(value) = v; });
}

OSErr GetText(PIReadDescriptor token, Handle* text) {
  TokenSlot* s;
  OSErr e;
  const DescriptorItem* item = Current(token, kText, &s, &e);
  if (item == nullptr) return e;
  return AnswerHandle(s, text, item->value, item->length, HANDLE_KIND_PLAIN);
}

OSErr GetAlias(PIReadDescriptor token, Handle* alias) {
  TokenSlot* s;
  OSErr e;
  const DescriptorItem* item = Current(token, Kinds({DK_ALIAS}), &s, &e);
  if (item == nullptr) return e;
  return AnswerHandle(s, alias, item->value, item->length, HANDLE_KIND_PLAIN);
}

// The enumeration's value; its type is the key's to know.
OSErr GetEnumerated(PIReadDescriptor token, DescriptorEnumID* value) {
  TokenSlot* s;
  OSErr e;
  const DescriptorItem* item = Current(token, Kinds({DK_ENUMERATED}), &s, &e);
  if (item == nullptr) return e;
  const uint32_t v = ReadU32(item->value + 4);
  return Answer(s, value, [&] { *reinterpret_cast<volatile uint32_t*>(value) = v; });
}

OSErr GetClass(PIReadDescriptor token, DescriptorTypeID* type) {
  TokenSlot* s;
  OSErr e;
  const DescriptorItem* item = Current(token, Kinds({DK_CLASS, DK_SCOPED_CLASS}), &s, &e);
  if (item == nullptr) return e;
  const uint32_t v = ReadU32(item->value);
  return Answer(s, type, [&] { *reinterpret_cast<volatile uint32_t*>(type) = v; });
}

OSErr GetSimpleReference(PIReadDescriptor token, PIDescriptorSimpleReference* reference) {
  TokenSlot* s;
  OSErr e;
  const DescriptorItem* item = Current(token, Kinds({DK_REFERENCE}), &s, &e);
  if (item == nullptr) return e;
  return Answer(s, reference, [&] { memcpy(reference, item->value, sizeof(*reference)); });
}

OSErr GetObject(PIReadDescriptor token, DescriptorTypeID* type, Handle* descriptor) {
  TokenSlot* s;
  OSErr e;
  const DescriptorItem* item = Current(token, Kinds({DK_OBJECT, DK_SCOPED_OBJECT}), &s, &e);
  if (item == nullptr) return e;
  const uint32_t objectClass = ReadU32(item->value);
  if (type == nullptr || !Guarded([&] { *reinterpret_cast<volatile uint32_t*>(type) = objectClass; }))
    return Note(s, paramErr);
  return AnswerHandle(s, descriptor, item->value + 4, item->length - 4, HANDLE_KIND_DESCRIPTOR);
}

OSErr GetCount(PIReadDescriptor token, uint32_t* count) {
  TokenSlot* s;
  OSErr e;
  const DescriptorItem* item = Current(token, kWhole, &s, &e);
  if (item == nullptr) return e;
  const uint32_t v = ReadU32(item->value);
  return Answer(s, count, [&] { *reinterpret_cast<volatile uint32_t*>(count) = v; });
}

// A text longer than a Pascal string holds is cut at 255 characters.
OSErr GetString(PIReadDescriptor token, Str255* pascalString) {
  TokenSlot* s;
  OSErr e;
  const DescriptorItem* item = Current(token, kText, &s, &e);
  if (item == nullptr) return e;
  const uint8_t length = static_cast<uint8_t>(item->length > 255 ? 255 : item->length);
  return Answer(s, pascalString, [&] {
    uint8_t* out = reinterpret_cast<uint8_t*>(pascalString);
    out[0] = length;
    memcpy(out + 1, item->value, length);
  });
}

OSErr GetPinnedInteger(PIReadDescriptor token, int32_t min, int32_t max, int32_t* value) {
  TokenSlot* s;
  OSErr e;
  const DescriptorItem* item = Current(token, kWhole, &s, &e);
  if (item == nullptr) return e;
  int32_t v = ReadI32(item->value);
  if (v < min) v = min;
  if (v > max) v = max;
  return Answer(s, value, [&] { *reinterpret_cast<volatile int32_t*>(value) = v; });
}

// Null bounds leave that side open.
bool Pin(TokenSlot* s, const double* min, const double* max, double* v) {
  double bound;
  if (min != nullptr) {
    if (!ReadGuarded(min, &bound)) return false;
    if (*v < bound) *v = bound;
  }
  if (max != nullptr) {
    if (!ReadGuarded(max, &bound)) return false;
    if (*v > bound) *v = bound;
  }
  return true;
}

OSErr GetPinnedFloat(PIReadDescriptor token, const double* min, const double* max, double* value) {
  TokenSlot* s;
  OSErr e;
  const DescriptorItem* item = Current(token, kFloat, &s, &e);
  if (item == nullptr) return e;
  double v = NumberOf(*item);
  if (!Pin(s, min, max, &v)) return Note(s, paramErr);
  return Answer(s, value, [&] { *reinterpret_cast<volatile double*>(value) = v; });
}

OSErr GetPinnedUnitFloat(PIReadDescriptor token, const double* min, const double* max, DescriptorUnitID* unit,
                         double* value) {
  TokenSlot* s;
  OSErr e;
  const DescriptorItem* item = Current(token, kUnitFloat, &s, &e);
  if (item == nullptr) return e;
  const uint32_t u = item->kind == DK_UNIT_FLOAT ? ReadU32(item->value) : kUnitNone;
  double v = NumberOf(*item);
  if (unit == nullptr || !Pin(s, min, max, &v)) return Note(s, paramErr);
  return Answer(s, value, [&] {
    *reinterpret_cast<volatile uint32_t*>(unit) = u;
    *reinterpret_cast<volatile double*>(value) = v;
  });
}

}  // namespace

Handle NewDescriptorHandle(const uint8_t* bytes, uint32_t size) {
  return NewHandleWithBytes(bytes, size, HANDLE_KIND_DESCRIPTOR);
}

bool CopyDescriptorHandle(Handle h, uint8_t** bytes, uint32_t* size) {
  *bytes = nullptr;
  *size = 0;
  if (h == nullptr || HandleKind(h) != HANDLE_KIND_DESCRIPTOR) return false;
  if (!CopyHandleBytes(h, DESCRIPTOR_LIMIT_BYTES, bytes, size)) return false;
  if (DescriptorIsValid(*bytes, *size)) return true;
  FreeBlock(*bytes);
  *bytes = nullptr;
  *size = 0;
  return false;
}

void CloseDescriptorTokens(DescriptorTokens* tokens) {
  if (tokens == nullptr) return;
  for (TokenSlot& s : tokens->slots)
    if (s.kind != TOKEN_FREE) Release(&s);
}

void FillWriteDescriptorProcs(WriteDescriptorProcs* procs) {
  *procs = WriteDescriptorProcs{};
  procs->writeDescriptorProcsVersion = 0;
  procs->numWriteDescriptorProcs = 16;
  procs->openWriteDescriptorProc = OpenWriteDescriptor;
  procs->closeWriteDescriptorProc = CloseWriteDescriptor;
  procs->putIntegerProc = PutInteger;
  procs->putFloatProc = PutFloat;
  procs->putUnitFloatProc = PutUnitFloat;
  procs->putBooleanProc = PutBoolean;
  procs->putTextProc = PutText;
  procs->putAliasProc = PutAlias;
  procs->putEnumeratedProc = PutEnumerated;
  procs->putClassProc = PutClass;
  procs->putSimpleReferenceProc = PutSimpleReference;
  procs->putObjectProc = PutObject;
  procs->putCountProc = PutCount;
  procs->putStringProc = PutString;
  procs->putScopedClassProc = PutScopedClass;
  procs->putScopedObjectProc = PutScopedObject;
}

void FillReadDescriptorProcs(ReadDescriptorProcs* procs) {
  *procs = ReadDescriptorProcs{};
  procs->readDescriptorProcsVersion = 0;
  procs->numReadDescriptorProcs = 18;
  procs->openReadDescriptorProc = OpenReadDescriptor;
  procs->closeReadDescriptorProc = CloseReadDescriptor;
  procs->getKeyProc = GetKey;
  procs->getIntegerProc = GetInteger;
  procs->getFloatProc = GetFloat;
  procs->getUnitFloatProc = GetUnitFloat;
  procs->getBooleanProc = GetBoolean;
  procs->getTextProc = GetText;
  procs->getAliasProc = GetAlias;
  procs->getEnumeratedProc = GetEnumerated;
  procs->getClassProc = GetClass;
  procs->getSimpleReferenceProc = GetSimpleReference;
  procs->getObjectProc = GetObject;
  procs->getCountProc = GetCount;
  procs->getStringProc = GetString;
  procs->getPinnedIntegerProc = GetPinnedInteger;
  procs->getPinnedFloatProc = GetPinnedFloat;
  procs->getPinnedUnitFloatProc = GetPinnedUnitFloat;
}
