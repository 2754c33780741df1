// Test helpers for talking to the real server program.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "editor/plughost_client.h"

// Full path of a file beside the test program.
std::wstring BesideTest(const wchar_t* name);
std::wstring ServerExe();

// A running server on a fresh pipe; the destructor ends it.
struct ServerSession {
  PlughostClient client{};
  bool started = false;
  ServerSession();
  // Takes over a client that is already connected.
  explicit ServerSession(const PlughostClient& connected) : client(connected), started(true) {}
  ~ServerSession();
  // Sends and receives; returns the status (or -1 when no reply came).
  int64_t Request(uint32_t kind, int64_t argument, const void* payload, uint32_t length,
                  std::vector<uint8_t>* replyPayload = nullptr, uint32_t* replyKind = nullptr);
  // Sends quit or closes the pipe, then waits for the exit code (or ~0u).
  uint32_t Quit();
  uint32_t CloseAndWait();
};

// Starts the server with a command line of our own and returns its exit code.
uint32_t RunServerWithCommandLine(const wchar_t* commandLine, uint32_t timeoutMs = 60000);

std::string Narrow(const std::wstring& text);
