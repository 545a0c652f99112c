#include "host/plugins/module.h"

#include <dlfcn.h>

#include <filesystem>

#include "host/common/error.h"

namespace host {

// The module's file name, as the build names it.
constexpr char kPluginFile[] = KELVAMOR_PLUGIN_FILE;

PluginModule::PluginModule(const std::string& path) : path_(path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) throw Error(path, std::string("cannot be loaded (") + dlerror() + ")");
  auto describe = reinterpret_cast<DescribePluginFn>(dlsym(handle_, "DescribePlugin"));
  auto init = reinterpret_cast<InitPluginFn>(dlsym(handle_, "InitPlugin"));
  run_ = reinterpret_cast<RunPluginFn>(dlsym(handle_, "RunPlugin"));
  if (!describe || !init || !run_) {
    dlclose(handle_);
    throw Error(path, "not a landscape plug-in (entry points missing)");
  }
  char name[256] = {};
  int32_t kind = 0;
  describe(name, &kind);
  name[sizeof name - 1] = '\0';
  name_ = name;
  init(ServiceTable());
}

PluginModule::~PluginModule() {
  // The module may have created process-wide state (its GUI toolkit); keep it loaded.
}

bool PluginModule::Run(HostSession& session) {
  const ServingScope scope(session);
  return run_() == 1;
}

std::string DefaultPluginPath(const std::string& programPath) {
  namespace fs = std::filesystem;
  // A program started through PATH knows itself only by name: its own file then.
  std::error_code own;
  const fs::path self = programPath.find('/') == std::string::npos
                            ? fs::read_symlink("/proc/self/exe", own)
                            : fs::path(programPath);
  const fs::path dir =
      fs::absolute(own || self.empty() ? fs::path(programPath) : self).parent_path();
  // Beside the program, in the build tree, or where the install put it.
  for (const fs::path& candidate : {dir / kPluginFile, dir / "../plugin" / kPluginFile,
                                    dir / KELVAMOR_PLUGIN_DIR / kPluginFile}) {
    std::error_code ec;
    if (fs::exists(candidate, ec)) return fs::weakly_canonical(candidate).string();
  }
  return (dir / kPluginFile).string();
}

}  // namespace host
