// The PiPL resources of a plug-in module, read from the file's bytes without
// loading it: the PE headers, the resource directory down to every resource
// of type "PIPL", and each one's property list. Pure: no platform calls, no
// allocation, no read outside [bytes, bytes + size), and work bounded by the
// size. Linked into the server and the command-line tool, and fuzzed natively.
#pragma once
#include <cstddef>
#include <cstdint>

// The texts of one PiPL, pointing into the bytes read. Neither is
// terminated; each is 1 to 255 bytes and holds no NUL.
struct PiplPair {
  const uint8_t* name;
  uint32_t nameLength;
  const uint8_t* entryPoint;
  uint32_t entryPointLength;
  const uint8_t* pipl;  // the resource's data, which holds both texts
  uint32_t piplSize;
};

// Called once per PiPL that holds both texts, in resource directory order.
// Answers 1 if the pair counts, 0 if not (e.g. its text converted to nothing).
using PiplPairSink = int (*)(void* context, const PiplPair* pair);

constexpr uint32_t PIPL_TEXT_MAX = 255;

enum PiplModuleStatus : uint32_t {
  PIPL_MODULE_READ = 0,      // a module for the wanted processor; its resources were walked
  PIPL_NOT_A_MODULE = 1,     // no PE image, or its headers or section table lie outside the bytes
  PIPL_OTHER_PROCESSOR = 2,  // a module for another processor: nothing of it is listed
};

// How the walk of the resource directory ended. Pairs reported before an
// early end still count.
enum PiplWalkEnd : uint32_t {
  PIPL_WALK_WHOLE = 0,
  PIPL_WALK_OUTSIDE = 1,    // an entry points outside the file's bytes
  PIPL_WALK_LOOP = 2,       // an entry leads back to a directory above it, or the tree
                            // takes more steps than bytes could hold without repeats
  PIPL_WALK_MISPLACED = 3,  // a directory where data was due, or data where a directory was
};

struct PiplModuleReport {
  uint16_t machine;    // the PE header's machine; 0 when there is none
  uint32_t status;     // PiplModuleStatus
  uint32_t walkEnd;    // PiplWalkEnd
  uint32_t resources;  // PIPL resources met, an id stored in several languages once
  uint32_t pairs;      // of those, the ones that held both texts
};

// The machine field of the PE header, or 0 when the bytes hold no "MZ" and
// "PE" signatures up to it. Needs only the first bytes of a file.
uint16_t ReadPeMachine(const uint8_t* bytes, size_t size);

// The code property's key for a machine: "MIB84668" for x64, "MIB868xw" for
// x86, null for any other.
const uint8_t* PiplCodeSignature(uint16_t machine);

// One PiPL's property list: the first 'name' property and the first code
// property of `machine`, in whichever order. Answers 1 and fills *pair when
// the whole list lies inside the bytes and both texts are non-empty; else 0.
int ReadPiplProperties(const uint8_t* pipl, size_t size, uint16_t machine, PiplPair* pair);

// Walks a module file's bytes to every PIPL resource and hands each pair to
// the sink (null: every pair counts). A module whose machine is not `machine`
// gives none. Answers the sum of the sink's answers; *report (optional) says
// what was found.
uint32_t ReadModulePipls(const uint8_t* bytes, size_t size, uint16_t machine, PiplPairSink sink, void* context,
                         PiplModuleReport* report);
