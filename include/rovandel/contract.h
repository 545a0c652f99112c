// The plug-in contract between a landscape host and this module: the three exported
// entry points, the table of host services and the landscape record. Hosts include
// this header; they reach the module only through dlopen and these C names.
#pragma once

#include <cstddef>
#include <cstdint>

// stdcall exists only on 32-bit x86; elsewhere the platform's one C convention.
#if defined(__i386__)
#define ROVANDEL_STDCALL __attribute__((stdcall))
#else
#define ROVANDEL_STDCALL
#endif

#pragma pack(push, 4)
// The host's landscape record. The module reads the grid size and the recorded height
// range and writes only the range; every other byte belongs to the host.
struct LandscapeInfoRecord {
  int32_t GridWidth;
  int32_t GridHeight;
  uint8_t hostBytes1[16];
  double MaxHeight;
  double MinHeight;
  uint8_t hostBytes2[4228];
};
#pragma pack(pop)
static_assert(sizeof(LandscapeInfoRecord) == 4268);
static_assert(offsetof(LandscapeInfoRecord, GridWidth) == 0);
static_assert(offsetof(LandscapeInfoRecord, GridHeight) == 4);
static_assert(offsetof(LandscapeInfoRecord, MaxHeight) == 24);
static_assert(offsetof(LandscapeInfoRecord, MinHeight) == 32);

using HostFunction = void(ROVANDEL_STDCALL*)();

// One entry of the host's service table: 8 bytes, the function's address first.
struct HostServiceEntry {
  HostFunction function;
#if UINTPTR_MAX == 0xFFFFFFFFu
  uint32_t unused;
#endif
};
static_assert(sizeof(HostServiceEntry) == 8);

inline constexpr int kHostServiceCount = 32;

// The slots the module calls, and how.
enum HostServiceSlot : int {
  kGetLandscapeInfo = 0,
  kSetLandscapeInfo = 1,
  kIsWater = 7,
  kGetHeights = 9,
  kSetHeights = 10,
  kRedraw = 31,
};
using GetLandscapeInfoFn = int32_t(ROVANDEL_STDCALL*)(int32_t, LandscapeInfoRecord*);
using SetLandscapeInfoFn = int32_t(ROVANDEL_STDCALL*)(int32_t, LandscapeInfoRecord*);
using IsWaterFn = int32_t(ROVANDEL_STDCALL*)(int32_t, int32_t x, int32_t y);
using GetHeightsFn = int32_t(ROVANDEL_STDCALL*)(int32_t, int32_t count, float* dest);
using SetHeightsFn = int32_t(ROVANDEL_STDCALL*)(int32_t, int32_t count, const float* src);
using RedrawFn = int32_t(ROVANDEL_STDCALL*)(int32_t);

// Grids hold fewer points than this: the contract counts heights in 32 bits.
inline constexpr int64_t kMaxGridPoints = int64_t{1} << 30;

// The module's kind code and its exported entry points.
inline constexpr int32_t kPluginKind = 2;
using DescribePluginFn = void(ROVANDEL_STDCALL*)(char* name, int32_t* kind);
using InitPluginFn = void(ROVANDEL_STDCALL*)(const HostServiceEntry* table);
using RunPluginFn = int32_t(ROVANDEL_STDCALL*)();
