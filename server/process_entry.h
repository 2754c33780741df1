#pragma once

constexpr int EXIT_SERVED = 0;
constexpr int EXIT_STARTUP_FAILED = 23;
constexpr int EXIT_PIPE_NOT_OPENED = 37;

// The whole life of the process: prepare, serve, shut the engine down.
int RunProcess(const wchar_t* commandLine);
