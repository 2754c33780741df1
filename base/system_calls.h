// The rooms that talk to the system (catalogue, engine, server) make their
// system calls through a table of named rows, one table per room, so that a
// test can put its own function in a call's place, or make a call fail with an
// error code of its choosing, by the call's name, the way the allocation hook
// of base/memory.h makes an allocation fail. This header holds the row, the
// calls by name and the call-through that the rooms' wrappers use; the rooms'
// tables (room/system_calls.h) list their calls with each one's failure value.
// GetLastError and SetLastError are left out: they read and write the
// thread's own state, which a failing call sets.
#pragma once
#include <atomic>
#include <cstdint>
#include <type_traits>

// Any system function, stored untyped; the wrappers call it with its own type.
using SystemCallProc = void (*)();

struct SystemCall {
  const char* name;
  std::atomic<SystemCallProc> current;  // what the wrapper calls
  SystemCallProc standard;              // the system's own function
  std::atomic<uint32_t> failure;        // nonzero: fail with this error code, without calling
};

// One room's rows, linked into the list that the calls by name search.
struct SystemCallTable {
  const char* room;
  SystemCall* rows;
  uint32_t count;
  SystemCallTable* next;
};

// Adds a room's table; each room's table file registers itself before main.
bool RegisterSystemCalls(SystemCallTable* table);

// By name, in every registered table: a name listed by several rooms changes
// in all of them. False when no table lists the name.
// Puts proc in the call's place; null puts the system's own back.
bool SetSystemCall(const char* name, SystemCallProc proc);
// What the call's wrapper calls now (the first row of that name), or null.
SystemCallProc GetSystemCall(const char* name);
// The name after `name` in the tables' order (the first for null), or null
// after the last; a name listed by several rooms comes once.
const char* NextSystemCall(const char* name);
// From now on the call fails without being made: its last error is `code` and
// it answers its failure value. A code of 0 ends the failure.
bool FailSystemCall(const char* name, uint32_t code);
// Every row of every table back to the system's own function, failing nothing.
void ResetSystemCalls();

// The calling thread's last error, as the failing call leaves it.
void SetSystemError(uint32_t code);

// The body of every wrapper: `Proc` is the system function's pointer type,
// `failure` what it answers when it fails.
template <class Proc, class Failure, class... Args>
inline auto CallSystem(SystemCall& row, Failure failure, Args... args) {
  using Result = decltype(reinterpret_cast<Proc>(row.standard)(args...));
  if (uint32_t code = row.failure.load(); code != 0) {
    SetSystemError(code);
    if constexpr (std::is_void_v<Result>) return;
    else return (Result)failure;
  }
  return reinterpret_cast<Proc>(row.current.load())(args...);
}

// A room lists its calls as LIST(X, rows) giving X(rows, name, failure value)
// for each; PLUGHOST_SYSTEM_CALL_TABLE in its header declares the rows and a
// wrapper osName(...) per call, PLUGHOST_SYSTEM_CALL_ROWS in its table file
// defines and registers them.
#define PLUGHOST_SYSTEM_CALL_INDEX(rows, name, failure) rows##_##name,
#define PLUGHOST_SYSTEM_CALL_WRAPPER(rows, name, failure)                            \
  template <class... Args>                                                          \
  inline auto os##name(Args... args) {                                              \
    return CallSystem<decltype(&::name)>(rows[rows##_##name], failure, args...);    \
  }
#define PLUGHOST_SYSTEM_CALL_ROW(rows, name, failure) \
  {#name, reinterpret_cast<SystemCallProc>(&::name), reinterpret_cast<SystemCallProc>(&::name), 0},
#define PLUGHOST_SYSTEM_CALL_TABLE(LIST, rows)                                      \
  enum : uint32_t { LIST(PLUGHOST_SYSTEM_CALL_INDEX, rows) rows##_count };          \
  extern SystemCall rows[rows##_count];                                             \
  LIST(PLUGHOST_SYSTEM_CALL_WRAPPER, rows)
#define PLUGHOST_SYSTEM_CALL_ROWS(LIST, room, rows)                                 \
  SystemCall rows[rows##_count] = {LIST(PLUGHOST_SYSTEM_CALL_ROW, rows)};          \
  static SystemCallTable rows##_table{room, rows, rows##_count, nullptr};          \
  static const bool rows##_registered = RegisterSystemCalls(&rows##_table);
