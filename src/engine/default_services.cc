#include "engine/security_engine.h"

#include "platform/cert_store.h"
#include "platform/platform_database.h"

namespace quorvant {

EngineServices DefaultEngineServices() {
  EngineServices services;
  services.host = DefaultHostServices();
  services.stores = MakeDatabaseCertificateStores(PlatformDatabase::DefaultPath());
  services.dialogs = MakeConfiguredDialogHost();
  return services;
}

}  // namespace quorvant
