// The process-wide records handed to plug-ins. Jobs never overlap, so one set
// serves every About and Filter call; set-up refills them for each call.
#pragma once
#include <cstddef>
#include <cstdint>

#include "sdk/documents.h"
#include "sdk/filter_record.h"
#include "sdk/procs.h"
#include "sdk/suites.h"

// The FilterRecord lives at the start of a zeroed block this large. Plug-ins
// built against newer headers read fields past the published end (the 64-bit
// space fields, allowOverrangeColors at 608/488); everything past the record
// reads as zero, "not supported". 1024 leaves room for revisions to come.
constexpr size_t FILTER_RECORD_BLOCK_BYTES = 1024;
static_assert(FILTER_RECORD_BLOCK_BYTES >= FILTER_RECORD_NEWEST_SIZE);

constexpr size_t ERROR_STRING_BYTES = 256;  // a Str255
constexpr int DOCUMENT_CHANNELS = 4;         // red, green, blue, transparency

struct PluginRecords {
  union {
    FilterRecord filter;
    uint8_t filterBlock[FILTER_RECORD_BLOCK_BYTES];
  };
  PlatformData platformData;
  AboutRecord about;
  SPBasicSuite spBasic;
  BufferProcs bufferProcs;
  ResourceProcs resourceProcs;
  HandleProcs handleProcs;
  PropertyProcs propertyProcs;
  ImageServicesProcs imageServicesProcs;
  ChannelPortProcs channelPortProcs;
  BigDocumentStruct bigDocument;
  uint8_t errorString[ERROR_STRING_BYTES];
  ReadImageDocumentDesc documentInfo;
  ReadChannelDesc channels[DOCUMENT_CHANNELS];  // red → green → blue, then transparency
  PIDescriptorParameters descriptorParameters;
  WriteDescriptorProcs writeDescriptorProcs;
  ReadDescriptorProcs readDescriptorProcs;
};

// The one set, zero when the process starts.
PluginRecords* ThePluginRecords();
FilterRecord* PluginFilterRecord();
// The FilterRecord's whole block, the reserved tail and the room after it included.
void ZeroFilterRecordBlock();
// advanceState's shadow of the record, a block of FILTER_RECORD_BLOCK_BYTES.
FilterRecord* FilterRecordShadow();
