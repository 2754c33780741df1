#include "base/system_calls.h"

#include <windows.h>

#include <cstring>

// Filled before main by the rooms' table files, read-only after.
static SystemCallTable* gTables = nullptr;

bool RegisterSystemCalls(SystemCallTable* table) {
  table->next = gTables;
  gTables = table;
  return true;
}

// Calls `change` for every row named `name`; answers whether there was one.
template <class Change>
static bool ForEachRow(const char* name, Change change) {
  bool found = false;
  for (SystemCallTable* t = gTables; t != nullptr; t = t->next)
    for (uint32_t i = 0; i < t->count; ++i)
      if (name != nullptr && strcmp(t->rows[i].name, name) == 0) {
        change(t->rows[i]);
        found = true;
      }
  return found;
}

bool SetSystemCall(const char* name, SystemCallProc proc) {
  return ForEachRow(name, [proc](SystemCall& row) { row.current = proc != nullptr ? proc : row.standard; });
}

SystemCallProc GetSystemCall(const char* name) {
  SystemCallProc found = nullptr;
  ForEachRow(name, [&found](SystemCall& row) {
    if (found == nullptr) found = row.current;
  });
  return found;
}

bool FailSystemCall(const char* name, uint32_t code) {
  return ForEachRow(name, [code](SystemCall& row) { row.failure = code; });
}

void ResetSystemCalls() {
  for (SystemCallTable* t = gTables; t != nullptr; t = t->next)
    for (uint32_t i = 0; i < t->count; ++i) {
      t->rows[i].current = t->rows[i].standard;
      t->rows[i].failure = 0;
    }
}

// Whether `name` occurs in the tables before row `index` of `table`.
static bool ListedBefore(const SystemCallTable* table, uint32_t index, const char* name) {
  for (const SystemCallTable* t = gTables; t != nullptr; t = t->next)
    for (uint32_t i = 0; i < t->count; ++i) {
      if (t == table && i == index) return false;
      if (strcmp(t->rows[i].name, name) == 0) return true;
    }
  return false;
}

const char* NextSystemCall(const char* name) {
  bool passed = name == nullptr;
  for (SystemCallTable* t = gTables; t != nullptr; t = t->next)
    for (uint32_t i = 0; i < t->count; ++i) {
      const char* candidate = t->rows[i].name;
      if (!passed) {
        passed = strcmp(candidate, name) == 0;
      } else if (!ListedBefore(t, i, candidate)) {
        return candidate;
      }
    }
  return nullptr;
}

void SetSystemError(uint32_t code) { SetLastError(code); }
