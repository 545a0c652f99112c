#include "host/plugins/headless.h"

#include <utility>

#include "host/plugins/auto_answer.h"
#include "host/plugins/services.h"

namespace host {

HeadlessRun RunHeadless(PluginModule& module, Landscape& land, std::optional<double> waterLevel,
                        ZeroedWeights weights, bool unseen) {
  HostSession session(land);
  session.waterLevel = waterLevel;
  if (!weights.empty()) session.Select(std::move(weights));
  AutoAnswer answer(unseen);
  HeadlessRun run;
  run.applied = module.Run(session);
  run.messages = answer.Messages();
  return run;
}

}  // namespace host
