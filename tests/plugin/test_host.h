// A host for tests: loads the built module with dlopen, serves an in-memory grid
// through a service table and records every call the module makes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "rovandel/contract.h"

class TestHost {
 public:
  explicit TestHost(int32_t width, int32_t height);
  ~TestHost();

  // The module's entry points (the module is loaded once per process).
  static DescribePluginFn Describe();
  static void Init(const HostServiceEntry* table);
  static int32_t Run();
  // The exported dialog pointer.
  static void* FormPointer();
  // Gives this process's reference to the module back, as a host unloading it would.
  static void Unload();

  // Hands this host's table to the module.
  void Install();

  LandscapeInfoRecord info{};
  std::vector<float> heights;
  std::vector<std::string> calls;               // service names, in call order
  std::vector<std::vector<float>> sentHeights;  // each SetHeights
  std::function<bool(int32_t x, int32_t y)> water = [](int32_t, int32_t) { return false; };
  std::function<void(const std::string&)> onCall;  // runs after each recorded call
  HostServiceEntry table[kHostServiceCount]{};
};
