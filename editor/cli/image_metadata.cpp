#include "editor/cli/image_metadata.h"

#include <cmath>
#include <cstring>

namespace {

constexpr double kMetresPerInch = 0.0254;

uint32_t Le32(const uint8_t* p) {
  return p[0] | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

uint32_t Be16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }

double DpiFromPerMetre(uint32_t perMetre) {
  double dpi = perMetre * kMetresPerInch;
  double whole = std::round(dpi);
  // Files store a whole dpi as the nearest whole number per metre.
  if (whole >= 1.0 && std::llround(whole / kMetresPerInch) == static_cast<long long>(perMetre)) return whole;
  return dpi;
}

double AxisDpi(ResolutionUnit unit, uint32_t v) {
  switch (unit) {
    case RESOLUTION_PER_METRE: return DpiFromPerMetre(v);
    case RESOLUTION_PER_INCH: return v;
    case RESOLUTION_PER_CM: return v * 2.54;
    default: return 0.0;
  }
}

void ReadPng(const uint8_t* bytes, size_t length, ImageMetadata* m) {
  PngFacts facts;
  if (!ReadPngChunks(bytes, length, &facts)) return;
  m->format = IMAGE_FORMAT_PNG;
  if (facts.hasPhys) {
    m->resolution.unit = facts.physUnit == PNG_UNIT_METRE ? RESOLUTION_PER_METRE : RESOLUTION_ASPECT;
    m->resolution.x = facts.physX;
    m->resolution.y = facts.physY;
  }
  m->pngChunks = std::move(facts.carried);
  m->refused = facts.refused;
}

void ReadBmp(const uint8_t* bytes, size_t length, ImageMetadata* m) {
  m->format = IMAGE_FORMAT_BMP;
  // File header (14 bytes), then an info header of at least 40 bytes holding
  // pixels per metre at its offsets 24 and 28; the 12-byte core header has none.
  if (length < 14 + 40 || Le32(bytes + 14) < 40) return;
  int32_t x = static_cast<int32_t>(Le32(bytes + 38)), y = static_cast<int32_t>(Le32(bytes + 42));
  if (x <= 0 || y <= 0) return;
  m->resolution = {RESOLUTION_PER_METRE, static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
}

struct IccPart {
  uint32_t sequence;
  const uint8_t* data;
  size_t length;
};

// A profile too large for one segment is split over several APP2 segments,
// numbered from 1; all of them must be there, once each.
void JoinIccParts(const std::vector<IccPart>& parts, uint32_t count, ImageMetadata* m) {
  if (parts.empty()) return;
  if (parts.size() != count) {
    ++m->refused;
    return;
  }
  std::vector<const IccPart*> ordered(count, nullptr);
  for (const IccPart& p : parts) {
    if (p.sequence < 1 || p.sequence > count || ordered[p.sequence - 1] != nullptr) {
      ++m->refused;
      return;
    }
    ordered[p.sequence - 1] = &p;
  }
  for (const IccPart* p : ordered) m->iccProfile.insert(m->iccProfile.end(), p->data, p->data + p->length);
}

void ReadJpeg(const uint8_t* bytes, size_t length, ImageMetadata* m) {
  m->format = IMAGE_FORMAT_JPEG;
  std::vector<IccPart> parts;
  uint32_t iccCount = 0;
  bool jfifSeen = false, iccBroken = false;
  size_t at = 2;
  // The segments before the scan carry everything wanted here.
  while (at + 4 <= length) {
    if (bytes[at] != 0xFF) break;
    uint8_t marker = bytes[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
      at += 2;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) break;  // start of scan, end of image
    uint32_t segment = Be16(bytes + at + 2);
    if (segment < 2 || segment > length - at - 2) break;
    const uint8_t* data = bytes + at + 4;
    size_t n = segment - 2;
    at += 2 + segment;
    if (marker == 0xE0 && n >= 12 && memcmp(data, "JFIF\0", 5) == 0 && !jfifSeen) {
      jfifSeen = true;
      uint8_t units = data[7];
      uint32_t x = Be16(data + 8), y = Be16(data + 10);
      if (units > 2 || x == 0 || y == 0) {
        ++m->refused;
        continue;
      }
      m->resolution = {units == 1 ? RESOLUTION_PER_INCH : units == 2 ? RESOLUTION_PER_CM : RESOLUTION_ASPECT, x, y};
    } else if (marker == 0xE2 && n >= 14 && memcmp(data, "ICC_PROFILE\0", 12) == 0 && !iccBroken) {
      uint32_t count = data[13];
      if (count == 0 || (iccCount != 0 && count != iccCount) || parts.size() >= count) {
        iccBroken = true;
        continue;
      }
      iccCount = count;
      parts.push_back({data[12], data + 14, n - 14});
    }
  }
  if (iccBroken) {
    ++m->refused;
    return;
  }
  JoinIccParts(parts, iccCount, m);
}

}  // namespace

void ResolutionDpi(const ImageResolution& r, double* x, double* y) {
  *x = *y = DEFAULT_DPI;
  double dx = AxisDpi(r.unit, r.x), dy = AxisDpi(r.unit, r.y);
  if (dx > 0.0 && dy > 0.0 && dx <= MAX_FILTER_DPI && dy <= MAX_FILTER_DPI) {
    *x = dx;
    *y = dy;
  }
}

int ResolutionPerMetre(const ImageResolution& r, uint32_t* x, uint32_t* y) {
  uint64_t px = 0, py = 0;
  switch (r.unit) {
    case RESOLUTION_PER_METRE:
      px = r.x;
      py = r.y;
      break;
    case RESOLUTION_PER_INCH:
      px = static_cast<uint64_t>(std::llround(r.x / kMetresPerInch));
      py = static_cast<uint64_t>(std::llround(r.y / kMetresPerInch));
      break;
    case RESOLUTION_PER_CM:
      px = static_cast<uint64_t>(r.x) * 100;
      py = static_cast<uint64_t>(r.y) * 100;
      break;
    default:
      return 0;
  }
  if (px == 0 || py == 0 || px > 0x7FFFFFFFu || py > 0x7FFFFFFFu) return 0;
  *x = static_cast<uint32_t>(px);
  *y = static_cast<uint32_t>(py);
  return 1;
}

IccSpace IccProfileSpace(const uint8_t* profile, size_t length) {
  // A profile header is 128 bytes, with the signature "acsp" at 36 and the
  // data colour space at 16.
  if (profile == nullptr || length < 128 || memcmp(profile + 36, "acsp", 4) != 0) return ICC_SPACE_UNKNOWN;
  if (memcmp(profile + 16, "GRAY", 4) == 0) return ICC_SPACE_GREY;
  if (memcmp(profile + 16, "RGB ", 4) == 0) return ICC_SPACE_RGB;
  return ICC_SPACE_OTHER;
}

void ReadImageMetadata(const uint8_t* bytes, size_t length, ImageMetadata* metadata) {
  *metadata = ImageMetadata();
  if (bytes == nullptr) return;
  if (length >= 8 && memcmp(bytes, kPngSignature, 8) == 0) ReadPng(bytes, length, metadata);
  else if (length >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) ReadJpeg(bytes, length, metadata);
  else if (length >= 2 && bytes[0] == 'B' && bytes[1] == 'M') ReadBmp(bytes, length, metadata);
}
