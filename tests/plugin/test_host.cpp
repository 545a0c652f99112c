#include "tests/plugin/test_host.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

TestHost* current = nullptr;

void*& ModuleHandle() {
  static void* module = nullptr;
  return module;
}

void* Module() {
  void*& module = ModuleHandle();
  if (!module)
    module = [] {
      void* m = dlopen(ROVANDEL_MODULE, RTLD_NOW | RTLD_LOCAL);
      if (!m) {
        std::fprintf(stderr, "cannot load %s: %s\n", ROVANDEL_MODULE, dlerror());
        std::abort();
      }
      return m;
    }();
  return module;
}

template <typename Fn>
Fn Entry(const char* name) {
  return reinterpret_cast<Fn>(dlsym(Module(), name));
}

void Record(const char* name) {
  current->calls.emplace_back(name);
  if (current->onCall) current->onCall(name);
}

int32_t GetLandscapeInfo(int32_t, LandscapeInfoRecord* info) {
  std::memcpy(info, &current->info, sizeof *info);
  Record("GetLandscapeInfo");
  return 0;
}
int32_t SetLandscapeInfo(int32_t, LandscapeInfoRecord* info) {
  std::memcpy(&current->info, info, sizeof *info);
  Record("SetLandscapeInfo");
  return 0;
}
int32_t IsWater(int32_t, int32_t x, int32_t y) {
  // Only the low byte counts; the rest is noise a host may leave.
  return (current->water(x, y) ? 1 : 0) | 0x5A00;
}
int32_t GetHeights(int32_t, int32_t count, float* dest) {
  std::memcpy(dest, current->heights.data(), static_cast<size_t>(count) * 4);
  Record("GetHeights");
  return 0;
}
int32_t SetHeights(int32_t, int32_t count, const float* src) {
  current->heights.assign(src, src + count);
  current->sentHeights.push_back(current->heights);
  Record("SetHeights");
  return 0;
}
int32_t Redraw(int32_t) {
  Record("Redraw");
  return 0;
}
int32_t Unused(int32_t) { return 0; }

}  // namespace

TestHost::TestHost(int32_t width, int32_t height) {
  current = this;
  // Bytes the module must hand back untouched.
  for (size_t i = 0; i < sizeof info; ++i)
    reinterpret_cast<uint8_t*>(&info)[i] = uint8_t(i * 7 + 3);
  info.GridWidth = width;
  info.GridHeight = height;
  info.MinHeight = 0.0;
  info.MaxHeight = 100.0;
  // Grids the module must refuse get no heights: the test never serves them.
  const int64_t count = int64_t{width} * height;
  if (width > 0 && height > 0 && count < (int64_t{1} << 24)) heights.assign(count, 0.0f);
  for (auto& entry : table) {
    std::memset(&entry, 0xEE, sizeof entry);  // bytes the module must not read
    entry.function = reinterpret_cast<HostFunction>(&Unused);
  }
  table[kGetLandscapeInfo].function = reinterpret_cast<HostFunction>(&GetLandscapeInfo);
  table[kSetLandscapeInfo].function = reinterpret_cast<HostFunction>(&SetLandscapeInfo);
  table[kIsWater].function = reinterpret_cast<HostFunction>(&IsWater);
  table[kGetHeights].function = reinterpret_cast<HostFunction>(&GetHeights);
  table[kSetHeights].function = reinterpret_cast<HostFunction>(&SetHeights);
  table[kRedraw].function = reinterpret_cast<HostFunction>(&Redraw);
}

TestHost::~TestHost() { current = nullptr; }

void TestHost::Install() { Init(table); }

DescribePluginFn TestHost::Describe() { return Entry<DescribePluginFn>("DescribePlugin"); }
void TestHost::Init(const HostServiceEntry* t) { Entry<InitPluginFn>("InitPlugin")(t); }
int32_t TestHost::Run() { return Entry<RunPluginFn>("RunPlugin")(); }
void* TestHost::FormPointer() { return *Entry<void**>("_RovandelParamsForm"); }

void TestHost::Unload() {
  if (ModuleHandle()) dlclose(ModuleHandle());
  ModuleHandle() = nullptr;
}
