#include "tests/catalogue/pe_image.h"

#include <cstring>

#include "sdk/pipl.h"

void Put16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Set32(Bytes& b, uint64_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t Get32(const Bytes& b, uint64_t at) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | static_cast<uint32_t>(b.at(at + 3)) << 24;
}

Bytes PiplHeader(uint32_t count) {
  Bytes b;
  Put16(b, 1);
  Put32(b, 0);
  Put32(b, count);
  return b;
}

void Property(Bytes& b, const uint8_t* signature, uint32_t length, const Bytes& data) {
  b.insert(b.end(), signature, signature + PIPL_SIGNATURE_BYTES);
  Put32(b, 0);
  Put32(b, length);
  b.insert(b.end(), data.begin(), data.end());
}

void NameProperty(Bytes& b, const std::string& name) {
  Bytes data{static_cast<uint8_t>(name.size())};
  data.insert(data.end(), name.begin(), name.end());
  while (data.size() % 4 != 0) data.push_back(0);
  Property(b, kPiplNameSignature, static_cast<uint32_t>(data.size()), data);
}

void CodeProperty(Bytes& b, const uint8_t* signature, const std::string& entry) {
  Bytes data(entry.begin(), entry.end());
  do data.push_back(0);
  while (data.size() % 4 != 0);
  Property(b, signature, static_cast<uint32_t>(data.size()), data);
}

Bytes MakePipl(const std::string& name, const std::vector<std::pair<const uint8_t*, std::string>>& codes) {
  Bytes b = PiplHeader(static_cast<uint32_t>(1 + codes.size()));
  NameProperty(b, name);
  for (auto& c : codes) CodeProperty(b, c.first, c.second);
  return b;
}

namespace {

constexpr uint32_t kRsrcRva = 0x1000;
constexpr uint32_t kRsrcAt = 0x200;
constexpr uint32_t kSubdirectory = 0x80000000u;

void DirectoryHeader(Bytes& r, uint16_t named, uint16_t ids) {
  Put32(r, 0);
  Put32(r, 0);
  Put16(r, 0);
  Put16(r, 0);
  Put16(r, named);
  Put16(r, ids);
}

}  // namespace

BuiltImage BuildImage(const ImagePlan& plan) {
  BuiltImage out{};
  out.rsrcRva = kRsrcRva;
  out.rsrcAt = kRsrcAt;
  // The tree in the section: root, type directories, language directories,
  // data entries, the type name, then the bodies. Offsets are from the root.
  const bool haveOthers = !plan.others.empty();
  const uint32_t types = 1 + (haveOthers ? 1 : 0);
  const uint32_t rootBytes = 16 + 8 * types;
  const uint32_t piplTypeAt = rootBytes;
  const uint32_t piplTypeBytes = 16 + 8 * static_cast<uint32_t>(plan.pipls.size());
  const uint32_t otherTypeAt = piplTypeAt + piplTypeBytes;
  const uint32_t otherTypeBytes = haveOthers ? 16 + 8 * static_cast<uint32_t>(plan.others.size()) : 0;
  uint32_t at = otherTypeAt + otherTypeBytes;
  std::vector<const PlannedResource*> all;
  for (auto& p : plan.pipls) all.push_back(&p);
  for (auto& o : plan.others) all.push_back(&o);
  std::vector<uint32_t> languagesAt, dataEntriesAt;
  for (const PlannedResource* s : all) {
    languagesAt.push_back(at);
    at += 16 + 8 * static_cast<uint32_t>(s->languages.size());
  }
  for (const PlannedResource* s : all) {
    dataEntriesAt.push_back(at);
    at += 16 * static_cast<uint32_t>(s->languages.size());
  }
  const uint32_t nameAt = at;
  at += 2 + 2 * static_cast<uint32_t>(plan.typeName.size());
  std::vector<std::vector<uint32_t>> bodiesAt;
  for (const PlannedResource* s : all) {
    bodiesAt.emplace_back();
    for (const Bytes& body : s->languages) {
      at = (at + 3) & ~3u;
      bodiesAt.back().push_back(at);
      at += static_cast<uint32_t>(body.size());
    }
  }
  const uint32_t rsrcBytes = at;

  Bytes r;
  DirectoryHeader(r, 1, haveOthers ? 1 : 0);
  Put32(r, kSubdirectory | nameAt);
  Put32(r, kSubdirectory | piplTypeAt);
  if (haveOthers) {
    Put32(r, 10);
    Put32(r, kSubdirectory | otherTypeAt);
  }
  size_t k = 0;
  DirectoryHeader(r, 0, static_cast<uint16_t>(plan.pipls.size()));
  for (auto& p : plan.pipls) {
    out.idEntryAt.push_back(kRsrcAt + r.size());
    Put32(r, p.id);
    Put32(r, kSubdirectory | languagesAt[k++]);
  }
  if (haveOthers) {
    DirectoryHeader(r, 0, static_cast<uint16_t>(plan.others.size()));
    for (auto& o : plan.others) {
      Put32(r, o.id);
      Put32(r, kSubdirectory | languagesAt[k++]);
    }
  }
  for (size_t i = 0; i < all.size(); ++i) {
    DirectoryHeader(r, 0, static_cast<uint16_t>(all[i]->languages.size()));
    if (i < plan.pipls.size()) out.languageEntryAt.push_back(kRsrcAt + r.size());
    for (size_t l = 0; l < all[i]->languages.size(); ++l) {
      Put32(r, 0x409 + static_cast<uint32_t>(l));
      Put32(r, dataEntriesAt[i] + 16 * static_cast<uint32_t>(l));
    }
  }
  for (size_t i = 0; i < all.size(); ++i) {
    for (size_t l = 0; l < all[i]->languages.size(); ++l) {
      if (i < plan.pipls.size() && l == 0) out.dataEntryAt.push_back(kRsrcAt + r.size());
      Put32(r, kRsrcRva + bodiesAt[i][l]);
      Put32(r, static_cast<uint32_t>(all[i]->languages[l].size()));
      Put32(r, 0);
      Put32(r, 0);
    }
  }
  Put16(r, static_cast<uint16_t>(plan.typeName.size()));
  for (char16_t c : plan.typeName) Put16(r, static_cast<uint16_t>(c));
  for (size_t i = 0; i < all.size(); ++i)
    for (size_t l = 0; l < all[i]->languages.size(); ++l) {
      while (r.size() < bodiesAt[i][l]) r.push_back(0);
      if (i < plan.pipls.size() && l == 0) out.dataAt.push_back(kRsrcAt + r.size());
      r.insert(r.end(), all[i]->languages[l].begin(), all[i]->languages[l].end());
    }
  out.typeEntryAt = kRsrcAt + 16;
  out.typeDirectoryAt = kRsrcAt + piplTypeAt;

  // Headers: DOS stub with the PE offset, file header, optional header with
  // sixteen data directories, one section row.
  Bytes& b = out.bytes;
  b.assign(0x40, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Set32(b, 0x3C, 0x40);
  b.insert(b.end(), {'P', 'E', 0, 0});
  const uint16_t optionalBytes = plan.pe32plus ? 240 : 224;
  Put16(b, plan.machine);
  Put16(b, 1);  // sections
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, 0);
  Put16(b, optionalBytes);
  Put16(b, 0x2102);  // executable, DLL
  const size_t optional = b.size();
  b.resize(optional + optionalBytes, 0);
  b[optional] = 0x0B;  // magic 0x20B or 0x10B
  b[optional + 1] = plan.pe32plus ? 0x02 : 0x01;
  const size_t directories = optional + (plan.pe32plus ? 112 : 96);
  Set32(b, directories - 4, 16);
  out.resourceDirectoryAt = directories + 2 * 8;
  Set32(b, out.resourceDirectoryAt, kRsrcRva);
  Set32(b, out.resourceDirectoryAt + 4, rsrcBytes);
  out.sectionHeaderAt = b.size();
  const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
  b.insert(b.end(), name, name + 8);
  const uint32_t rawBytes = (rsrcBytes + 0x1FF) & ~0x1FFu;
  Put32(b, rsrcBytes);  // virtual size
  Put32(b, kRsrcRva);
  Put32(b, rawBytes);
  Put32(b, kRsrcAt);
  b.resize(b.size() + 16, 0);
  b.resize(kRsrcAt, 0);
  b.insert(b.end(), r.begin(), r.end());
  b.resize(kRsrcAt + rawBytes, 0);
  return out;
}
