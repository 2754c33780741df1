#include "settings/json.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

constexpr int kMaxDepth = 64;

struct Reader {
  const std::string& s;
  size_t pos = 0;
  int line = 1;
  size_t lineStart = 0;
  JsonError* error;

  int Column() const { return static_cast<int>(pos - lineStart) + 1; }

  bool Fail(const char* message) {
    error->line = line;
    error->column = Column();
    error->message = message;
    return false;
  }

  void SkipSpace() {
    while (pos < s.size()) {
      char c = s[pos];
      if (c == '\n') {
        ++line;
        lineStart = pos + 1;
      } else if (c != ' ' && c != '\t' && c != '\r') {
        return;
      }
      ++pos;
    }
  }

  bool Literal(const char* word) {
    size_t n = strlen(word);
    if (s.compare(pos, n, word) != 0) return Fail("unknown word");
    pos += n;
    return true;
  }

  static void AppendUtf8(std::string* out, uint32_t cp) {
    if (cp < 0x80) {
      out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out->push_back(static_cast<char>(0xC0 | cp >> 6));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | cp >> 12));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | cp >> 18));
      out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }

  bool Hex4(uint32_t* value) {
    if (s.size() - pos < 4) return Fail("short \\u escape");
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      char c = s[pos++];
      v <<= 4;
      if (c >= '0' && c <= '9') v |= static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') v |= static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') v |= static_cast<uint32_t>(c - 'A' + 10);
      else return Fail("bad \\u escape");
    }
    *value = v;
    return true;
  }

  // At the opening quote.
  bool String(std::string* out) {
    ++pos;
    for (;;) {
      if (pos >= s.size()) return Fail("unterminated string");
      unsigned char c = static_cast<unsigned char>(s[pos]);
      if (c == '"') {
        ++pos;
        return true;
      }
      if (c < 0x20) return Fail("control character in a string");
      if (c != '\\') {
        out->push_back(static_cast<char>(c));
        ++pos;
        continue;
      }
      if (++pos >= s.size()) return Fail("unterminated string");
      char e = s[pos++];
      switch (e) {
        case '"': out->push_back('"'); break;
        case '\\': out->push_back('\\'); break;
        case '/': out->push_back('/'); break;
        case 'b': out->push_back('\b'); break;
        case 'f': out->push_back('\f'); break;
        case 'n': out->push_back('\n'); break;
        case 'r': out->push_back('\r'); break;
        case 't': out->push_back('\t'); break;
        case 'u': {
          uint32_t cp;
          if (!Hex4(&cp)) return false;
          if (cp >= 0xD800 && cp < 0xDC00) {
            uint32_t low;
            if (s.compare(pos, 2, "\\u") != 0) return Fail("lone surrogate in \\u escape");
            pos += 2;
            if (!Hex4(&low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return Fail("lone surrogate in \\u escape");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xDC00 && cp < 0xE000) {
            return Fail("lone surrogate in \\u escape");
          }
          AppendUtf8(out, cp);
          break;
        }
        default:
          --pos;
          return Fail("unknown escape");
      }
    }
  }

  bool Number(JsonValue* v) {
    const size_t start = pos;
    if (s[pos] == '-') ++pos;
    auto digits = [&] {
      size_t from = pos;
      while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos;
      return pos - from;
    };
    if (pos < s.size() && s[pos] == '0') {
      ++pos;
    } else if (digits() == 0) {
      return Fail("bad number");
    }
    bool isFloat = false;
    if (pos < s.size() && s[pos] == '.') {
      ++pos;
      if (digits() == 0) return Fail("bad number");
      isFloat = true;
    }
    if (pos < s.size() && (s[pos] == 'e' || s[pos] == 'E')) {
      ++pos;
      if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) ++pos;
      if (digits() == 0) return Fail("bad number");
      isFloat = true;
    }
    const char* first = s.data() + start;
    const char* last = s.data() + pos;
    if (!isFloat) {
      auto r = std::from_chars(first, last, v->integer);
      if (r.ec != std::errc() || r.ptr != last) {
        pos = start;
        return Fail("integer out of range");
      }
      v->type = JsonValue::Integer;
      v->number = static_cast<double>(v->integer);
      return true;
    }
    auto r = std::from_chars(first, last, v->number);
    if (r.ec != std::errc() || r.ptr != last || !std::isfinite(v->number)) {
      pos = start;
      return Fail("number out of range");
    }
    v->type = JsonValue::Float;
    return true;
  }

  bool Value(JsonValue* v, int depth) {
    SkipSpace();
    if (pos >= s.size()) return Fail("a value was expected");
    v->line = line;
    v->column = Column();
    char c = s[pos];
    if (c == '{' || c == '[') {
      if (depth >= kMaxDepth) return Fail("nested too deeply");
      const bool object = c == '{';
      v->type = object ? JsonValue::Object : JsonValue::Array;
      ++pos;
      SkipSpace();
      const char close = object ? '}' : ']';
      if (pos < s.size() && s[pos] == close) {
        ++pos;
        return true;
      }
      for (;;) {
        SkipSpace();
        if (object) {
          if (pos >= s.size() || s[pos] != '"') return Fail("a member name in quotes was expected");
          const int nameLine = line, nameColumn = Column();
          std::string name;
          if (!String(&name)) return false;
          for (const auto& m : v->members)
            if (m.name == name) {
              error->line = nameLine;
              error->column = nameColumn;
              error->message = "member \"" + name + "\" appears twice";
              return false;
            }
          SkipSpace();
          if (pos >= s.size() || s[pos] != ':') return Fail("':' was expected");
          ++pos;
          v->members.push_back(JsonMember{std::move(name), JsonValue()});
          if (!Value(&v->members.back().value, depth + 1)) return false;
        } else {
          v->items.emplace_back();
          if (!Value(&v->items.back(), depth + 1)) return false;
        }
        SkipSpace();
        if (pos < s.size() && s[pos] == ',') {
          ++pos;
          continue;
        }
        if (pos < s.size() && s[pos] == close) {
          ++pos;
          return true;
        }
        return Fail(object ? "',' or '}' was expected" : "',' or ']' was expected");
      }
    }
    if (c == '"') {
      v->type = JsonValue::String;
      return String(&v->text);
    }
    if (c == 't' || c == 'f') {
      v->type = JsonValue::Boolean;
      v->boolean = c == 't';
      return Literal(c == 't' ? "true" : "false");
    }
    if (c == 'n') return Literal("null");
    if (c == '-' || (c >= '0' && c <= '9')) return Number(v);
    return Fail("a value was expected");
  }
};

}  // namespace

const JsonValue* JsonValue::Member(const char* name) const {
  for (const auto& m : members)
    if (m.name == name) return &m.value;
  return nullptr;
}

bool ParseJson(const std::string& text, JsonValue* value, JsonError* error) {
  Reader r{text, 0, 1, 0, error};
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) r.pos = r.lineStart = 3;
  *value = JsonValue();
  if (!r.Value(value, 0)) return false;
  r.SkipSpace();
  if (r.pos != text.size()) return r.Fail("text after the end of the value");
  return true;
}

void AppendJsonString(std::string* out, const std::string& text) {
  out->push_back('"');
  for (unsigned char c : text) {
    switch (c) {
      case '"': out->append("\\\""); break;
      case '\\': out->append("\\\\"); break;
      case '\n': out->append("\\n"); break;
      case '\r': out->append("\\r"); break;
      case '\t': out->append("\\t"); break;
      default:
        if (c < 0x20) {
          static const char kHex[] = "0123456789abcdef";
          out->append("\\u00");
          out->push_back(kHex[c >> 4]);
          out->push_back(kHex[c & 15]);
        } else {
          out->push_back(static_cast<char>(c));
        }
    }
  }
  out->push_back('"');
}

bool AppendJsonFloat(std::string* out, double value) {
  if (!std::isfinite(value)) return false;
  char buffer[64];
  auto r = std::to_chars(buffer, buffer + sizeof(buffer), value);
  std::string text(buffer, r.ptr);
  if (text.find_first_of(".eE") == std::string::npos) text += ".0";
  out->append(text);
  return true;
}
