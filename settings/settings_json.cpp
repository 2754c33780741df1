#include "settings/settings_json.h"

#include <cstring>

#include "settings/descriptor_bytes.h"

namespace {

bool ValidUtf8(const std::string& s) {
  std::u16string ignored;
  return Utf16FromUtf8(s, &ignored);
}

bool IdentityToPlugin(const std::string& utf8, std::string* bytes) {
  *bytes = utf8;
  return true;
}

bool IdentityFromPlugin(const std::string& bytes, std::string* utf8) {
  if (!ValidUtf8(bytes)) return false;
  *utf8 = bytes;
  return true;
}

// ---- Reading.

struct Conversion {
  const SettingsTextCodec& codec;
  JsonError* error;

  bool Fail(const JsonValue& at, const std::string& message) {
    error->line = at.line;
    error->column = at.column;
    error->message = message;
    return false;
  }

  bool Code(const JsonValue& v, uint32_t* code, const char* what) {
    if (v.type != JsonValue::String || !FourCharCodeFromText(v.text, code))
      return Fail(v, std::string(what) + " must be a four-character code (or \"0x\" and eight hex digits)");
    return true;
  }

  bool Text(const JsonValue& v, std::string* bytes, const char* what) {
    if (v.type != JsonValue::String) return Fail(v, std::string(what) + " must be a string");
    if (!codec.toPlugin(v.text, bytes)) return Fail(v, std::string(what) + " has characters a plug-in cannot read");
    return true;
  }

  bool Number(const JsonValue& v, double* number, const char* what) {
    if (v.type != JsonValue::Integer && v.type != JsonValue::Float) return Fail(v, std::string(what) + " must be a number");
    *number = v.number;
    return true;
  }

  // A tagged value: an object whose members name its type.
  bool Tagged(const JsonValue& v, uint32_t key, std::string* out, int depth) {
    auto only = [&](size_t n) { return v.members.size() == n; };
    if (const JsonValue* e = v.Member("enum")) {
      uint32_t type, value;
      if (!only(1) || e->type != JsonValue::Array || e->items.size() != 2)
        return Fail(v, "an enumerated value is {\"enum\": [type, value]}");
      return Code(e->items[0], &type, "an enumeration type") && Code(e->items[1], &value, "an enumeration value") &&
             AppendDescriptorPair(out, key, DK_ENUMERATED, type, value);
    }
    if (const JsonValue* f = v.Member("unitFloat")) {
      const JsonValue* unit = v.Member("unit");
      uint32_t unitCode;
      double number;
      if (!only(2) || unit == nullptr) return Fail(v, "a unit float is {\"unitFloat\": number, \"unit\": code}");
      return Number(*f, &number, "a unit float") && Code(*unit, &unitCode, "a unit") &&
             AppendDescriptorUnitFloat(out, key, unitCode, number);
    }
    if (const JsonValue* o = v.Member("object")) {
      const JsonValue* nested = v.Member("descriptor");
      uint32_t objectClass;
      std::string inner;
      if (!only(2) || nested == nullptr) return Fail(v, "an object is {\"object\": class, \"descriptor\": {...}}");
      if (depth >= DESCRIPTOR_MAX_DEPTH) return Fail(v, "objects are nested too deeply");
      return Code(*o, &objectClass, "an object's class") && Descriptor(*nested, &inner, depth + 1) &&
             AppendDescriptorObject(out, key, DK_OBJECT, objectClass, inner.data(), inner.size());
    }
    if (const JsonValue* c = v.Member("class")) {
      uint32_t objectClass;
      if (!only(1)) return Fail(v, "a class is {\"class\": code}");
      return Code(*c, &objectClass, "a class") && AppendDescriptorU32(out, key, DK_CLASS, objectClass);
    }
    if (const JsonValue* a = v.Member("alias")) {
      std::string bytes;
      if (!only(1)) return Fail(v, "an alias is {\"alias\": \"path\"}");
      return Text(*a, &bytes, "an alias") && AppendDescriptorItem(out, key, DK_ALIAS, bytes.data(), bytes.size());
    }
    if (const JsonValue* c = v.Member("count")) {
      if (!only(1) || c->type != JsonValue::Integer || c->integer < 0 || c->integer > UINT32_MAX)
        return Fail(v, "a count is {\"count\": a whole number from 0 to 4294967295}");
      return AppendDescriptorU32(out, key, DK_COUNT, static_cast<uint32_t>(c->integer));
    }
    if (const JsonValue* s = v.Member("string")) {
      std::string bytes;
      if (!only(1)) return Fail(v, "a string is {\"string\": \"text\"}");
      if (!Text(*s, &bytes, "a string")) return false;
      if (bytes.size() > 255) return Fail(*s, "a string holds at most 255 characters");
      return AppendDescriptorItem(out, key, DK_STRING, bytes.data(), bytes.size());
    }
    if (const JsonValue* r = v.Member("raw")) {
      const JsonValue* type = r->Member("type");
      const JsonValue* hex = r->Member("hex");
      uint32_t code;
      if (!only(1) || r->type != JsonValue::Object || r->members.size() != 2 || type == nullptr || hex == nullptr)
        return Fail(v, "a raw value is {\"raw\": {\"type\": code, \"hex\": \"...\"}}");
      if (!Code(*type, &code, "a raw value's type")) return false;
      const uint32_t kind = DescriptorKindFromTypeCode(code);
      std::string bytes;
      if (kind == 0) return Fail(*type, "unknown type " + FourCharCodeText(code));
      if (hex->type != JsonValue::String || !HexDecode(hex->text, &bytes)) return Fail(*hex, "bad hex digits");
      std::string item;
      if (!AppendDescriptorItem(&item, key, kind, bytes.data(), bytes.size()) ||
          !DescriptorIsValid(reinterpret_cast<const uint8_t*>(item.data()), item.size()))
        return Fail(*hex, "the bytes do not form a value of type " + FourCharCodeText(code));
      out->append(item);
      return true;
    }
    return Fail(v, "unknown type of value");
  }

  static bool HexDecode(const std::string& text, std::string* bytes) {
    if (text.size() % 2 != 0) return false;
    auto digit = [](char c) {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    for (size_t i = 0; i < text.size(); i += 2) {
      int hi = digit(text[i]), lo = digit(text[i + 1]);
      if (hi < 0 || lo < 0) return false;
      bytes->push_back(static_cast<char>(hi << 4 | lo));
    }
    return true;
  }

  bool Value(const JsonValue& v, uint32_t key, std::string* out, int depth) {
    switch (v.type) {
      case JsonValue::Integer:
        if (v.integer < INT32_MIN || v.integer > INT32_MAX) return Fail(v, "an integer must fit 32 bits");
        return AppendDescriptorU32(out, key, DK_INTEGER, static_cast<uint32_t>(static_cast<int32_t>(v.integer)));
      case JsonValue::Float:
        return AppendDescriptorF64(out, key, DK_FLOAT, v.number);
      case JsonValue::Boolean: {
        const uint8_t b = v.boolean ? 1 : 0;
        return AppendDescriptorItem(out, key, DK_BOOLEAN, &b, 1);
      }
      case JsonValue::String: {
        std::string bytes;
        return Text(v, &bytes, "a text") && AppendDescriptorItem(out, key, DK_TEXT, bytes.data(), bytes.size());
      }
      case JsonValue::Object:
        return Tagged(v, key, out, depth);
      default:
        return Fail(v, "unknown type of value");
    }
  }

  // Appends the items of `v` to *out, which holds only this descriptor's items.
  bool Descriptor(const JsonValue& v, std::string* out, int depth) {
    if (v.type != JsonValue::Object) return Fail(v, "a descriptor must be an object of keyed values");
    for (const auto& m : v.members) {
      uint32_t key;
      if (!FourCharCodeFromText(m.name, &key))
        return Fail(m.value, "key \"" + m.name + "\" is not a four-character code (or \"0x\" and eight hex digits)");
      if (DescriptorFind(reinterpret_cast<const uint8_t*>(out->data()), out->size(), key, nullptr))
        return Fail(m.value, "key " + FourCharCodeText(key) + " appears twice");
      if (!Value(m.value, key, out, depth)) return false;
    }
    return true;
  }
};

// ---- Writing.

struct Writer {
  const SettingsTextCodec& codec;
  std::string out;

  void Indent(int depth) { out.append(static_cast<size_t>(2 * depth), ' '); }
  void Code(uint32_t code) { AppendJsonString(&out, FourCharCodeText(code)); }

  void Raw(uint32_t kind, const uint8_t* value, uint32_t length) {
    static const char kHex[] = "0123456789abcdef";
    out.append("{\"raw\": {\"type\": ");
    Code(DescriptorTypeCode(kind));
    out.append(", \"hex\": \"");
    for (uint32_t i = 0; i < length; ++i) {
      out.push_back(kHex[value[i] >> 4]);
      out.push_back(kHex[value[i] & 15]);
    }
    out.append("\"}}");
  }

  bool Text(const uint8_t* value, uint32_t length, std::string* utf8) {
    return codec.fromPlugin(std::string(reinterpret_cast<const char*>(value), length), utf8);
  }

  void Item(const DescriptorItem& item, int depth) {
    const uint8_t* v = item.value;
    std::string utf8;
    switch (item.kind) {
      case DK_INTEGER: out.append(std::to_string(ReadI32(v))); return;
      case DK_FLOAT:
        if (!AppendJsonFloat(&out, ReadF64(v))) Raw(item.kind, v, item.length);
        return;
      case DK_UNIT_FLOAT:
        out.append("{\"unitFloat\": ");
        if (!AppendJsonFloat(&out, ReadF64(v + 4))) {
          out.resize(out.size() - strlen("{\"unitFloat\": "));
          Raw(item.kind, v, item.length);
          return;
        }
        out.append(", \"unit\": ");
        Code(ReadU32(v));
        out.push_back('}');
        return;
      case DK_BOOLEAN: out.append(v[0] != 0 ? "true" : "false"); return;
      case DK_TEXT:
        if (Text(v, item.length, &utf8)) AppendJsonString(&out, utf8);
        else Raw(item.kind, v, item.length);
        return;
      case DK_ALIAS:
      case DK_STRING:
        if (!Text(v, item.length, &utf8)) {
          Raw(item.kind, v, item.length);
          return;
        }
        out.append(item.kind == DK_ALIAS ? "{\"alias\": " : "{\"string\": ");
        AppendJsonString(&out, utf8);
        out.push_back('}');
        return;
      case DK_ENUMERATED:
        out.append("{\"enum\": [");
        Code(ReadU32(v));
        out.append(", ");
        Code(ReadU32(v + 4));
        out.append("]}");
        return;
      case DK_CLASS:
        out.append("{\"class\": ");
        Code(ReadU32(v));
        out.push_back('}');
        return;
      case DK_COUNT: out.append("{\"count\": " + std::to_string(ReadU32(v)) + "}"); return;
      case DK_OBJECT:
        out.append("{\"object\": ");
        Code(ReadU32(v));
        out.append(", \"descriptor\": ");
        Descriptor(v + 4, item.length - 4, depth);
        out.push_back('}');
        return;
      default:  // references and the scoped kinds are kept as they came
        Raw(item.kind, v, item.length);
    }
  }

  void Descriptor(const uint8_t* bytes, size_t size, int depth) {
    size_t offset = 0;
    DescriptorItem item;
    bool first = true;
    out.push_back('{');
    while (NextDescriptorItem(bytes, size, &offset, &item)) {
      out.append(first ? "\n" : ",\n");
      first = false;
      Indent(depth + 1);
      Code(item.key);
      out.append(": ");
      Item(item, depth + 1);
    }
    if (!first) {
      out.push_back('\n');
      Indent(depth);
    }
    out.push_back('}');
  }
};

}  // namespace

const SettingsTextCodec kUtf8SettingsCodec = {IdentityToPlugin, IdentityFromPlugin};

bool FourCharCodeFromText(const std::string& text, uint32_t* code) {
  if (text.size() == 4) {
    uint32_t v = 0;
    for (char c : text) {
      if (c < 0x20 || c > 0x7E) return false;
      v = v << 8 | static_cast<uint8_t>(c);
    }
    *code = v;
    return true;
  }
  if (text.size() != 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
  uint32_t v = 0;
  for (size_t i = 2; i < 10; ++i) {
    char c = text[i];
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) return false;
    v = v << 4 | static_cast<uint32_t>(d);
  }
  *code = v;
  return true;
}

std::string FourCharCodeText(uint32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>(code >> shift);
    if (c < 0x20 || c > 0x7E) {
      static const char kHex[] = "0123456789ABCDEF";
      text = "0x";
      for (int nibble = 28; nibble >= 0; nibble -= 4) text.push_back(kHex[(code >> nibble) & 15]);
      return text;
    }
    text.push_back(c);
  }
  return text;
}

bool Utf16FromUtf8(const std::string& utf8, std::u16string* units) {
  units->clear();
  size_t i = 0;
  while (i < utf8.size()) {
    const uint8_t c = static_cast<uint8_t>(utf8[i]);
    uint32_t cp;
    size_t n;
    if (c < 0x80) { cp = c; n = 1; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; n = 2; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; n = 3; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; n = 4; }
    else return false;
    if (utf8.size() - i < n) return false;
    for (size_t k = 1; k < n; ++k) {
      const uint8_t t = static_cast<uint8_t>(utf8[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = cp << 6 | (t & 0x3F);
    }
    static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
    if (cp >= 0x10000) {
      units->push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      units->push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      units->push_back(static_cast<char16_t>(cp));
    }
    i += n;
  }
  return true;
}

bool Utf8FromUtf16(const std::u16string& units, std::string* utf8) {
  utf8->clear();
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t cp = units[i];
    if (cp >= 0xD800 && cp < 0xDC00) {
      if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return false;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (cp >= 0xDC00 && cp < 0xE000) {
      return false;
    }
    if (cp < 0x80) {
      utf8->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      utf8->push_back(static_cast<char>(0xC0 | cp >> 6));
      utf8->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      utf8->push_back(static_cast<char>(0xE0 | cp >> 12));
      utf8->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      utf8->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      utf8->push_back(static_cast<char>(0xF0 | cp >> 18));
      utf8->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      utf8->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      utf8->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return true;
}

static const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64Encode(const std::string& bytes) {
  std::string text;
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 | static_cast<uint8_t>(bytes[i + 1]) << 8 |
                       static_cast<uint8_t>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) text.push_back(kBase64[(v >> shift) & 63]);
  }
  const size_t rest = bytes.size() - i;
  if (rest != 0) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    text.push_back(kBase64[(v >> 18) & 63]);
    text.push_back(kBase64[(v >> 12) & 63]);
    text.push_back(rest == 2 ? kBase64[(v >> 6) & 63] : '=');
    text.push_back('=');
  }
  return text;
}

bool Base64Decode(const std::string& text, std::string* bytes) {
  bytes->clear();
  if (text.size() % 4 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 4) {
    uint32_t v = 0;
    int pad = 0;
    for (size_t k = 0; k < 4; ++k) {
      const char c = text[i + k];
      const char* at = c != 0 ? strchr(kBase64, c) : nullptr;
      if (c == '=' && i + 4 == text.size() && k >= 2) {
        ++pad;
        v <<= 6;
        continue;
      }
      if (at == nullptr || pad != 0) return false;
      v = v << 6 | static_cast<uint32_t>(at - kBase64);
    }
    bytes->push_back(static_cast<char>(v >> 16));
    if (pad < 2) bytes->push_back(static_cast<char>(v >> 8));
    if (pad < 1) bytes->push_back(static_cast<char>(v));
  }
  return true;
}

bool SettingsFromJson(const std::string& text, const SettingsTextCodec& codec, RecordedSettings* settings,
                      JsonError* error) {
  JsonValue root;
  if (!ParseJson(text, &root, error)) return false;
  Conversion c{codec, error};
  if (root.type != JsonValue::Object) return c.Fail(root, "a settings file is one JSON object");
  *settings = RecordedSettings();
  for (const auto& m : root.members) {
    const JsonValue& v = m.value;
    if (m.name == "plugin") {
      if (v.type != JsonValue::Object) return c.Fail(v, "\"plugin\" is {\"name\": ..., \"entry\": ...}");
      for (const auto& p : v.members) {
        std::u16string* target = p.name == "name" ? &settings->name : p.name == "entry" ? &settings->entry : nullptr;
        if (target == nullptr) return c.Fail(p.value, "unknown member \"" + p.name + "\" of \"plugin\"");
        if (p.value.type != JsonValue::String || !Utf16FromUtf8(p.value.text, target))
          return c.Fail(p.value, "\"" + p.name + "\" must be a string");
        if (target->size() > SETTINGS_NAME_MAX_UNITS) return c.Fail(p.value, "\"" + p.name + "\" is too long");
      }
    } else if (m.name == "descriptor") {
      settings->hasDescriptor = true;
      if (!c.Descriptor(v, &settings->descriptor, 0)) return false;
    } else if (m.name == "parameters") {
      settings->hasParameters = true;
      if (v.type != JsonValue::String || !Base64Decode(v.text, &settings->parameters))
        return c.Fail(v, "\"parameters\" must be base64 text");
    } else {
      return c.Fail(v, "unknown member \"" + m.name + "\"");
    }
  }
  std::string block;
  if (!BuildSettingsBlock(*settings, &block)) return c.Fail(root, "the settings are too large");
  return true;
}

std::string SettingsToJson(const RecordedSettings& s, const SettingsTextCodec& codec) {
  Writer w{codec, "{"};
  const char* separator = "\n";
  if (!s.name.empty() || !s.entry.empty()) {
    std::string name, entry;
    Utf8FromUtf16(s.name, &name);
    Utf8FromUtf16(s.entry, &entry);
    w.out.append("\n  \"plugin\": {\"name\": ");
    AppendJsonString(&w.out, name);
    w.out.append(", \"entry\": ");
    AppendJsonString(&w.out, entry);
    w.out.append("}");
    separator = ",\n";
  }
  if (s.hasDescriptor) {
    w.out.append(separator);
    w.out.append("  \"descriptor\": ");
    w.Descriptor(reinterpret_cast<const uint8_t*>(s.descriptor.data()), s.descriptor.size(), 1);
    separator = ",\n";
  }
  if (s.hasParameters) {
    w.out.append(separator);
    w.out.append("  \"parameters\": ");
    AppendJsonString(&w.out, Base64Encode(s.parameters));
    separator = ",\n";
  }
  w.out.append(separator[0] == ',' ? "\n}\n" : "}\n");
  return w.out;
}
