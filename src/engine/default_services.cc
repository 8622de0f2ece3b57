#include "engine/security_engine.h"

namespace quorvant {

EngineServices DefaultEngineServices() {
  EngineServices services;
  services.host = DefaultHostServices();
  services.dialogs = MakeNoDialogHost();
  return services;
}

}  // namespace quorvant
