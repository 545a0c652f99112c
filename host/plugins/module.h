// Plug-in modules loaded with dlopen and reached only through their three C entry points.
#pragma once

#include <string>

#include "host/plugins/services.h"
#include "rovandel/contract.h"

namespace host {

class PluginModule {
 public:
  // Loads the module, asks its name and hands it the service table; throws
  // Error when the file is not a plug-in.
  explicit PluginModule(const std::string& path);
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  const std::string& Name() const { return name_; }
  const std::string& Path() const { return path_; }
  // Runs the plug-in on the session's landscape; true when it applied an operation.
  bool Run(HostSession& session);

 private:
  std::string path_;
  std::string name_;
  void* handle_ = nullptr;
  RunPluginFn run_ = nullptr;
};

// The plug-in built with this program, next to it or in the build tree.
std::string DefaultPluginPath(const std::string& programPath);

}  // namespace host
