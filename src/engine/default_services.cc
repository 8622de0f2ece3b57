#include "engine/security_engine.h"

#include "platform/stores/cert_store.h"
#include "platform/database/platform_database.h"

namespace quorvant {

EngineServices DefaultEngineServices() {
  EngineServices services;
  services.host = DefaultHostServices();
  services.stores = MakeDatabaseCertificateStores(PlatformDatabase::DefaultPath());
  services.dialogs = MakeConfiguredDialogHost();
  return services;
}

}  // namespace quorvant
