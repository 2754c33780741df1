#include "catalogue/folder_scan.h"

#include "catalogue/system_calls.h"

#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>

#include "catalogue/plugin_catalog.h"
#include "base/clock.h"
#include "base/memory.h"
#include "base/guard.h"
#include "base/text.h"

namespace {

constexpr UINT kQuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;
constexpr size_t kRelativeUnits = 516;
constexpr uint32_t kCapacities[] = {2048, 1792, 1536, 1280, 1024, 768, 512, 256};

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
bool IsTrailingJunk(wchar_t c) { return IsSeparator(c) || c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

void ToBackslashes(wchar_t* text) {
  for (; *text != 0; ++text)
    if (*text == L'/') *text = L'\\';
}

// The text from the last ".", or null when there is none.
const wchar_t* Extension(const wchar_t* name) {
  const wchar_t* dot = nullptr;
  for (; *name != 0; ++name)
    if (*name == L'.') dot = name;
  return dot;
}

// A folder being walked, linked to the folders above it.
struct ScanVisit {
  const wchar_t* folder;
  const ScanVisit* parent;
  uint32_t depth;
};

bool SameFolder(const wchar_t* a, const wchar_t* b) { return osCompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL; }

// True when entering `folder` below `visit` would walk a folder again that is
// already being walked: a shortcut to itself or to a folder above it.
bool WouldCycle(const ScanVisit* visit, const wchar_t* folder) {
  for (; visit != nullptr; visit = visit->parent)
    if (SameFolder(visit->folder, folder)) return true;
  return false;
}

uint32_t WalkFolder(PluginCatalog* catalog, const ScanVisit* visit, double budget);

// The enumeration of one folder, run under the guard.
struct WalkState {
  PluginCatalog* catalog;
  const ScanVisit* visit;
  double budget;
  HANDLE search;
  WIN32_FIND_DATAW found;
  ClockStamp start;
  uint32_t sum;
  wchar_t path[PATH_WORK_UNITS];
  PluginEntry entry;
};

void WalkEntries(WalkState* w) {
  for (;;) {
    const wchar_t* name = w->found.cFileName;
    if (!EqualsAsciiNoCase(name, L".") && !EqualsAsciiNoCase(name, L"..")) {
      BoundedCopyW(w->path, PATH_WORK_UNITS, w->visit->folder);
      JoinPath(w->path, name);
      // A plain entry is judged by the attributes the enumeration already
      // gave, as the file system would answer them; a shortcut by its target.
      bool isFolder;
      if (IsShortcutPath(w->path)) {
        ResolveShortcut(w->path, w->path);
        isFolder = IsExistingFolder(w->path);
      } else {
        isFolder = (w->found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && wcslen(w->path) < PATH_UNITS;
      }
      if (isFolder) {
        // A resolved target may end in a separator; compare and join it bare.
        StripTrailingSeparators(w->path);
        ToBackslashes(w->path);
        double elapsed = ClockElapsed(w->start, ClockNow());
        if (w->budget > elapsed && w->visit->depth < SCAN_MAX_DEPTH && !WouldCycle(w->visit, w->path)) {
          ScanVisit below{w->path, w->visit, w->visit->depth + 1};
          w->sum += WalkFolder(w->catalog, &below, w->budget - elapsed);
        }
      } else {
        // Judged by the name as enumerated: a shortcut to a plug-in file is
        // never read, a folder named like one is walked above.
        const wchar_t* extension = Extension(name);
        if (extension != nullptr && EqualsAsciiNoCase(extension, L".8bf")) {
          memset(&w->entry, 0, sizeof(w->entry));
          BoundedCopyW(w->entry.path, PATH_UNITS, w->path);
          w->sum += ReadPluginProperties(w->catalog, &w->entry);
        }
      }
    }
    if (ClockElapsed(w->start, ClockNow()) > w->budget) return;
    if (!osFindNextFileW(w->search, &w->found)) return;
  }
}

uint32_t WalkFolder(PluginCatalog* catalog, const ScanVisit* visit, double budget) {
  // The state lives in a block rather than on the stack, so that deep trees
  // cost little stack per level.
  WalkState* w = static_cast<WalkState*>(AllocZeroed(sizeof(WalkState)));
  if (w == nullptr) return 0;
  w->catalog = catalog;
  w->visit = visit;
  w->budget = budget;
  BoundedCopyW(w->path, PATH_WORK_UNITS, visit->folder);
  JoinPath(w->path, L"*");
  UINT mode = osSetErrorMode(kQuietErrorMode);
  w->search = osFindFirstFileW(w->path, &w->found);
  osSetErrorMode(mode);
  uint32_t sum = 0;
  if (w->search != INVALID_HANDLE_VALUE) {
    w->start = ClockNow();
    // A fault ends this folder's loop; what it found so far still counts.
    Guarded([w] { WalkEntries(w); });
    osFindClose(w->search);
    sum = w->sum;
  }
  FreeBlock(w);
  return sum;
}

}  // namespace

bool StripTrailingSeparators(wchar_t* path) {
  if (IsBadStringW(path) || path[0] == 0) return false;
  size_t n = wcslen(path);
  while (n > 1 && IsTrailingJunk(path[n - 1])) path[--n] = 0;
  return true;
}

bool RemoveLastComponent(wchar_t* path) {
  ptrdiff_t at = FindLastSeparator(path);
  if (at < 1) return false;  // none; or the start of a network name, never cut
  path[at] = 0;
  return true;
}

bool JoinPath(wchar_t* base, const wchar_t* rel) {
  if (IsBadStringW(rel) || rel[0] == 0 || IsBadStringW(base)) return false;
  wchar_t copy[kRelativeUnits];
  BoundedCopyW(copy, kRelativeUnits, rel);
  TrimW(base, kPathTrimSet);
  TrimW(copy, kPathTrimSet);
  StripTrailingSeparators(base);
  const wchar_t* r = copy;
  while (*r != 0 && IsTrailingJunk(*r)) ++r;
  ToBackslashes(base);
  ToBackslashes(copy);
  while (r[0] == L'.' && r[1] == L'.' && r[2] == L'\\') {
    RemoveLastComponent(base);
    r += 3;
  }
  while (r[0] == L'.' && r[1] == L'\\') r += 2;
  if (*r == 0) return true;
  BoundedAppendW(base, L"\\");
  BoundedAppendW(base, r);
  return true;
}

bool IsExistingFolder(const wchar_t* path) {
  if (IsBadStringW(path) || path[0] == 0) return false;
  size_t n = wcslen(path);
  if (n > PATH_UNITS - 1) return false;
  if (wcspbrk(path, L"/\\:") == nullptr) return false;
  wchar_t copy[PATH_UNITS];
  BoundedCopyW(copy, PATH_UNITS, path);
  StripTrailingSeparators(copy);
  UINT mode = osSetErrorMode(kQuietErrorMode);
  DWORD attributes = osGetFileAttributesW(copy);
  osSetErrorMode(mode);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsShortcutPath(const wchar_t* path) {
  if (IsBadStringW(path)) return false;
  const wchar_t* extension = Extension(path);
  return extension != nullptr && EqualsAsciiNoCase(extension, L".lnk");
}

bool ResolveShortcut(wchar_t* target, const wchar_t* link) {
  if (IsBadStringW(target) || IsBadStringW(link)) return false;
  struct Resolve {
    const wchar_t* link;
    IShellLinkW* shellLink;
    IPersistFile* file;
    WIN32_FIND_DATAW found;
    wchar_t path[PATH_WORK_UNITS];
    bool ok;
  };
  Resolve* r = static_cast<Resolve*>(AllocZeroed(sizeof(Resolve)));
  if (r == nullptr) return false;
  r->link = link;
  HRESULT init = osCoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  // A fault inside the shell's code counts as a failed resolution.
  Guarded([r] {
    if (FAILED(osCoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&r->shellLink))))
      return;
    if (FAILED(r->shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&r->file)))) return;
    if (FAILED(r->file->Load(r->link, STGM_READ))) return;
    // S_FALSE means the link has no path.
    r->ok = r->shellLink->GetPath(r->path, PATH_WORK_UNITS, &r->found, 0) == S_OK;
  });
  Guarded([r] {
    if (r->file != nullptr) r->file->Release();
    if (r->shellLink != nullptr) r->shellLink->Release();
  });
  if (SUCCEEDED(init)) osCoUninitialize();
  // COM already set up differently on this thread still serves the link.
  bool ok = r->ok;
  // Written only on success: the caller's buffer may be the link's own path.
  if (ok) BoundedCopyW(target, PATH_WORK_UNITS, r->path);
  FreeBlock(r);
  return ok;
}

uint32_t ScanFolder(PluginCatalog* catalog, const wchar_t* folder, double budgetSeconds) {
  if (catalog == nullptr || IsBadStringW(folder)) return 0;
  // In the form that joined paths take, so that a shortcut back to it is seen.
  wchar_t* top = static_cast<wchar_t*>(AllocZeroed(PATH_WORK_UNITS * sizeof(wchar_t)));
  if (top == nullptr) return 0;
  BoundedCopyW(top, PATH_WORK_UNITS, folder);
  TrimW(top, kPathTrimSet);
  StripTrailingSeparators(top);
  ToBackslashes(top);
  ScanVisit visit{top, nullptr, 0};
  uint32_t sum = WalkFolder(catalog, &visit, budgetSeconds);
  FreeBlock(top);
  return sum;
}

PluginCatalog* ScanPluginFolder(const wchar_t* folder) {
  PluginCatalog* catalog = nullptr;
  uint32_t capacity = 0;
  for (uint32_t c : kCapacities) {
    catalog = static_cast<PluginCatalog*>(AllocZeroed(CatalogueBlockBytes(c)));
    if (catalog != nullptr) {
      capacity = c;
      break;
    }
  }
  if (catalog == nullptr) return nullptr;
  catalog->count = 0;
  catalog->capacity = capacity;
  if (ScanFolder(catalog, folder, SCAN_BUDGET_SECONDS) == 0) {
    FreeBlock(catalog);
    return nullptr;
  }
  catalog->capacity = catalog->count;
  return catalog;
}
