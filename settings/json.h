// A small JSON reader and the pieces of a writer, for settings files that
// people write by hand: every value remembers where it began, so a refusal can
// name the line and column, and object members keep their order. Pure code.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct JsonMember;

struct JsonValue {
  enum Type : uint8_t { Null, Boolean, Integer, Float, String, Array, Object };
  Type type = Null;
  bool boolean = false;
  int64_t integer = 0;   // Integer: written without fraction or exponent
  double number = 0;     // Float, and Integer's value as a double
  std::string text;      // String, as UTF-8
  std::vector<JsonValue> items;
  std::vector<JsonMember> members;  // in the order written
  int line = 0, column = 0;  // where the value began, from 1

  const JsonValue* Member(const char* name) const;
};

struct JsonMember {
  std::string name;
  JsonValue value;
};

struct JsonError {
  int line = 0, column = 0;  // from 1; 0 when there is no position
  std::string message;
};

// Parses one JSON text (UTF-8, an optional byte-order mark, nesting at most 64
// deep). On failure `error` says what and where; an integer beyond 64 bits is
// an error rather than a rounded float.
bool ParseJson(const std::string& text, JsonValue* value, JsonError* error);

// Appends `text` (UTF-8) as a JSON string, with quotes and escapes.
void AppendJsonString(std::string* out, const std::string& text);
// Appends a float so that it reads back as the same double and as a float
// (never without a fraction or exponent); not-a-number and infinities have no
// JSON form and answer false.
bool AppendJsonFloat(std::string* out, double value);
