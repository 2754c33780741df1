// The far end of the bare-pipe baseline, in a process of its own as the
// server is: it opens the pipe as the server does, then, until the pipe
// closes, takes LENGTH bytes and answers one byte, and on one byte sends
// LENGTH bytes back; all in pieces of PIECE bytes.
//   pipe_peer NAME LENGTH PIECE
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

static bool Move(HANDLE h, uint8_t* bytes, uint32_t length, uint32_t piece, bool writing) {
  for (uint32_t done = 0; done < length;) {
    const uint32_t n = length - done < piece ? length - done : piece;
    OVERLAPPED ov{};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD moved = 0;
    BOOL ok = writing ? WriteFile(h, bytes + done, n, &moved, &ov) : ReadFile(h, bytes + done, n, &moved, &ov);
    if (!ok && GetLastError() == ERROR_IO_PENDING) ok = GetOverlappedResult(h, &ov, &moved, TRUE);
    CloseHandle(ov.hEvent);
    if (!ok || moved == 0) return false;
    done += moved;
  }
  return true;
}

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  const uint32_t length = static_cast<uint32_t>(wcstoul(argv[2], nullptr, 10));
  const uint32_t piece = static_cast<uint32_t>(wcstoul(argv[3], nullptr, 10));
  if (length == 0 || piece == 0) return 2;
  const std::wstring path = std::wstring(L"\\\\.\\pipe\\") + argv[1];
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 3;
  std::vector<uint8_t> buffer(length, 0);
  uint8_t signal = 1;
  while (Move(h, buffer.data(), length, piece, false) && Move(h, &signal, 1, 1, true) &&
         Move(h, &signal, 1, 1, false) && Move(h, buffer.data(), length, piece, true)) {
  }
  CloseHandle(h);
  return 0;
}
