// Posterize: a filter with settings, the way scriptable plug-ins keep them.
// It shows a small dialog for the Parameters selector, starting from the
// recorded settings when the host hands some over; when it is played back
// without a dialog it reads its settings from the host's descriptor in Start;
// at Finish it writes what it used back into a fresh descriptor, so the host
// can record the run and play it again. Its own parameters handle holds the
// same settings in its own format.
//
// Settings: 'Lvls' integer, levels per channel (2 to 255), and 'Chnl' text,
// the channels to posterize ("RGB", or any of R, G and B).
#include <windows.h>

#include <cstring>
#include <initializer_list>

#include "sdk/filter_record.h"

namespace {

constexpr uint32_t kMagic = 0x50737472;  // our parameters handle, version 1
constexpr DescriptorKeyID kLevelsKey = 0x4C766C73;    // 'Lvls'
constexpr DescriptorKeyID kChannelsKey = 0x43686E6C;  // 'Chnl'
constexpr int kLevelsEdit = 101, kChannelsEdit = 102;

struct Settings {
  uint32_t magic;
  int32_t levels;
  char channels[4];  // up to three of 'R', 'G', 'B', then NUL
};

Settings Defaults() { return Settings{kMagic, 4, {'R', 'G', 'B', 0}}; }

bool Valid(const Settings& s) { return s.magic == kMagic && s.levels >= 2 && s.levels <= 255; }

// The channels named in `text` (any order, any case), as ours.
void SetChannels(Settings* s, const char* text, size_t length) {
  char out[4] = {};
  int n = 0;
  for (char want : {'R', 'G', 'B'})
    for (size_t i = 0; i < length; ++i)
      if ((text[i] & ~0x20) == want) {
        out[n++] = want;
        break;
      }
  memcpy(s->channels, out, sizeof(out));
}

bool Uses(const Settings& s, char channel) { return strchr(s.channels, channel) != nullptr; }

// ---- The parameters handle.

Settings FromParameters(FilterRecord* fr) {
  Settings s = Defaults();
  HandleProcs* hp = fr->handleProcs;
  if (fr->parameters == nullptr || hp == nullptr || hp->getSizeProc(fr->parameters) != sizeof(Settings)) return s;
  Ptr p = hp->lockProc(fr->parameters, 0);
  if (p != nullptr) memcpy(&s, p, sizeof(s));
  hp->unlockProc(fr->parameters);
  return Valid(s) ? s : Defaults();
}

void ToParameters(FilterRecord* fr, const Settings& s) {
  HandleProcs* hp = fr->handleProcs;
  if (hp == nullptr) return;
  if (fr->parameters == nullptr || hp->getSizeProc(fr->parameters) != sizeof(Settings)) {
    if (fr->parameters != nullptr) hp->disposeProc(fr->parameters);
    fr->parameters = hp->newProc(sizeof(Settings));
  }
  if (fr->parameters == nullptr) return;
  Ptr p = hp->lockProc(fr->parameters, 0);
  if (p != nullptr) memcpy(p, &s, sizeof(s));
  hp->unlockProc(fr->parameters);
}

// ---- The host's descriptor.

bool Scripting(FilterRecord* fr) {
  PIDescriptorParameters* dp = fr->descriptorParameters;
  return dp != nullptr && dp->readDescriptorProcs != nullptr && dp->writeDescriptorProcs != nullptr &&
         fr->handleProcs != nullptr;
}

// Reads the keys it knows from the descriptor, if there is one.
void ReadDescriptor(FilterRecord* fr, Settings* s) {
  if (!Scripting(fr) || fr->descriptorParameters->descriptor == nullptr) return;
  ReadDescriptorProcs* rp = fr->descriptorParameters->readDescriptorProcs;
  DescriptorKeyID keys[] = {kLevelsKey, kChannelsKey, 0};
  PIReadDescriptor token = rp->openReadDescriptorProc(fr->descriptorParameters->descriptor, keys);
  if (token == nullptr) return;
  DescriptorKeyID key;
  DescriptorTypeID type;
  int32_t flags;
  while (rp->getKeyProc(token, &key, &type, &flags)) {
    if (key == kLevelsKey) {
      int32_t levels;
      if (rp->getPinnedIntegerProc(token, 2, 255, &levels) == noErr) s->levels = levels;
    } else if (key == kChannelsKey) {
      Handle text = nullptr;
      if (rp->getTextProc(token, &text) == noErr && text != nullptr) {
        HandleProcs* hp = fr->handleProcs;
        const int32_t size = hp->getSizeProc(text);
        Ptr p = hp->lockProc(text, 0);
        if (p != nullptr) SetChannels(s, p, static_cast<size_t>(size));
        hp->unlockProc(text);
        hp->disposeProc(text);
      }
    }
  }
  rp->closeReadDescriptorProc(token);
}

// Replaces the descriptor with one that holds what this run used.
void WriteDescriptor(FilterRecord* fr, const Settings& s) {
  if (!Scripting(fr)) return;
  PIDescriptorParameters* dp = fr->descriptorParameters;
  WriteDescriptorProcs* wp = dp->writeDescriptorProcs;
  HandleProcs* hp = fr->handleProcs;
  PIWriteDescriptor token = wp->openWriteDescriptorProc();
  if (token == nullptr) return;
  wp->putIntegerProc(token, kLevelsKey, s.levels);
  const int32_t length = static_cast<int32_t>(strlen(s.channels));
  Handle text = hp->newProc(length);
  if (text != nullptr) {
    Ptr p = hp->lockProc(text, 0);
    if (p != nullptr) memcpy(p, s.channels, static_cast<size_t>(length));
    hp->unlockProc(text);
    wp->putTextProc(token, kChannelsKey, text);
    hp->disposeProc(text);
  }
  Handle written = nullptr;
  if (wp->closeWriteDescriptorProc(token, &written) != noErr) return;
  if (dp->descriptor != nullptr) hp->disposeProc(dp->descriptor);
  dp->descriptor = written;
}

// ---- The dialog: levels and channels, OK and Cancel.

// A dialog template built in memory: header, then each item, each on a
// DWORD boundary, with its class as an atom and its text.
struct TemplateWriter {
  WORD words[512];
  size_t n = 0;
  void Word(WORD w) { words[n++] = w; }
  void Text(const wchar_t* t) {
    do Word(static_cast<WORD>(*t)); while (*t++ != 0);
  }
  void Align() {
    if (n % 2 != 0) Word(0);
  }
  void Dword(DWORD d) {
    Word(LOWORD(d));
    Word(HIWORD(d));
  }
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom, const wchar_t* text) {
    Align();
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    Word(static_cast<WORD>(x));
    Word(static_cast<WORD>(y));
    Word(static_cast<WORD>(cx));
    Word(static_cast<WORD>(cy));
    Word(id);
    Word(0xFFFF);
    Word(atom);
    Text(text);
    Word(0);  // no creation data
  }
};

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  Settings* s = reinterpret_cast<Settings*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      s = reinterpret_cast<Settings*>(lParam);
      SetDlgItemInt(dialog, kLevelsEdit, static_cast<UINT>(s->levels), FALSE);
      SetDlgItemTextA(dialog, kChannelsEdit, s->channels);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        BOOL ok = FALSE;
        const UINT levels = GetDlgItemInt(dialog, kLevelsEdit, &ok, FALSE);
        char text[16] = {};
        GetDlgItemTextA(dialog, kChannelsEdit, text, sizeof(text));
        if (ok && levels >= 2 && levels <= 255) s->levels = static_cast<int32_t>(levels);
        SetChannels(s, text, strlen(text));
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

// Answers true when the user chose OK (the settings are then updated).
bool ShowDialog(FilterRecord* fr, Settings* s) {
  static TemplateWriter t;
  t.n = 0;
  t.Dword(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
  t.Dword(0);
  t.Word(6);  // items
  t.Word(0);
  t.Word(0);
  t.Word(180);
  t.Word(76);
  t.Word(0);  // no menu
  t.Word(0);  // the standard class
  t.Text(L"Posterize");
  t.Word(8);
  t.Text(L"MS Shell Dlg");
  t.Item(SS_LEFT, 8, 10, 80, 10, 0xFFFF, 0x0082, L"Levels (2 to 255):");
  t.Item(ES_NUMBER | WS_BORDER | WS_TABSTOP, 96, 8, 76, 13, kLevelsEdit, 0x0081, L"");
  t.Item(SS_LEFT, 8, 30, 80, 10, 0xFFFF, 0x0082, L"Channels (R, G, B):");
  t.Item(WS_BORDER | WS_TABSTOP | ES_UPPERCASE, 96, 28, 76, 13, kChannelsEdit, 0x0081, L"");
  t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 64, 54, 50, 14, IDOK, 0x0080, L"OK");
  t.Item(BS_PUSHBUTTON | WS_TABSTOP, 122, 54, 50, 14, IDCANCEL, 0x0080, L"Cancel");
  HWND owner = fr->platformData != nullptr ? reinterpret_cast<HWND>(fr->platformData->hwnd) : nullptr;
  Settings chosen = *s;
  const INT_PTR answer = DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                                 reinterpret_cast<LPCDLGTEMPLATEW>(t.words), owner, DialogProc,
                                                 reinterpret_cast<LPARAM>(&chosen));
  if (answer != IDOK) return false;
  *s = chosen;
  return true;
}

// ---- The filter.

constexpr int16_t kStripRows = 64;

int32_t ImageHeight(const FilterRecord* fr) {
  return fr->bigDocumentData != nullptr ? fr->bigDocumentData->imageSize32.v : fr->imageSize.v;
}

void AskFor(FilterRecord* fr, int32_t top) {
  int32_t bottom = top + kStripRows;
  if (bottom > ImageHeight(fr)) bottom = ImageHeight(fr);
  fr->inRect = Rect{static_cast<int16_t>(top), 0, static_cast<int16_t>(bottom), fr->filterRect.right};
  fr->outRect = fr->inRect;
  fr->inLoPlane = fr->outLoPlane = 0;
  fr->inHiPlane = fr->outHiPlane = 3;
}

void PosterizeStrip(FilterRecord* fr, const Settings& s) {
  uint8_t table[256];
  const int steps = s.levels - 1;
  for (int v = 0; v < 256; ++v) table[v] = static_cast<uint8_t>(((v * steps + 127) / 255 * 255 + steps / 2) / steps);
  // A tile's planes are red, green, blue, then transparency.
  const bool use[3] = {Uses(s, 'R'), Uses(s, 'G'), Uses(s, 'B')};
  const int rows = fr->outRect.bottom - fr->outRect.top;
  const int columns = fr->outRect.right - fr->outRect.left;
  for (int y = 0; y < rows; ++y) {
    const uint8_t* in = static_cast<const uint8_t*>(fr->inData) + y * fr->inRowBytes;
    uint8_t* out = static_cast<uint8_t*>(fr->outData) + y * fr->outRowBytes;
    for (int x = 0; x < columns; ++x, in += 4, out += 4) {
      for (int c = 0; c < 3; ++c) out[c] = use[c] ? table[in[c]] : in[c];
      out[3] = in[3];
    }
  }
}

}  // namespace

extern "C" __declspec(dllexport) void PluginMain(int16_t selector, void* block, intptr_t* data, int16_t* result) {
  *result = noErr;
  if (selector == filterSelectorAbout) return;
  FilterRecord* fr = static_cast<FilterRecord*>(block);
  switch (selector) {
    case filterSelectorParameters: {
      // Asked for the dialog: it starts from recorded settings if there are any.
      Settings s = FromParameters(fr);
      ReadDescriptor(fr, &s);
      if (!ShowDialog(fr, &s)) {
        *result = userCanceledErr;
        return;
      }
      ToParameters(fr, s);
      *data = 1;  // the dialog has spoken for this run
      break;
    }
    case filterSelectorPrepare:
      break;
    case filterSelectorStart: {
      Settings s = FromParameters(fr);
      if (*data != 1) ReadDescriptor(fr, &s);  // played back without a dialog
      ToParameters(fr, s);
      AskFor(fr, 0);
      break;
    }
    case filterSelectorContinue: {
      if (fr->abortProc != nullptr && fr->abortProc()) {
        *result = userCanceledErr;
        return;
      }
      if (fr->inData == nullptr || fr->outData == nullptr) {
        *result = memFullErr;
        return;
      }
      PosterizeStrip(fr, FromParameters(fr));
      const int32_t next = fr->outRect.bottom;
      if (fr->progressProc != nullptr) fr->progressProc(next, ImageHeight(fr));
      if (next >= ImageHeight(fr)) {
        fr->inRect = fr->outRect = Rect{0, 0, 0, 0};
      } else {
        AskFor(fr, next);
      }
      break;
    }
    case filterSelectorFinish:
      fr->inRect = fr->outRect = Rect{0, 0, 0, 0};
      WriteDescriptor(fr, FromParameters(fr));
      break;
    default:
      *result = filterBadParameters;
  }
}
