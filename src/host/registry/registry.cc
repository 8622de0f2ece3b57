#include "host/registry/registry.h"

#include <unistd.h>

#include <new>

namespace quorvant {

RegistryPaths DefaultRegistryPaths(const EnvLookup& env) {
  RegistryPaths paths;
  try {
    std::string dir = UserDataDirectory(env);
    if (!dir.empty()) {
      if (dir.back() != '/') dir += '/';
      paths.currentUser = dir + "registry.db";
    }
    std::optional<std::string> machine;
    if (env) machine = env("QUORVANT_HKLM_DB");
    paths.localMachine =
        (machine && !machine->empty()) ? *machine : kDefaultMachineRegistry;
  } catch (const std::bad_alloc&) {
    paths = RegistryPaths();
  }
  // The machine file is root's, as HKEY_LOCAL_MACHINE belongs to the
  // administrators; everyone else reads it.
  paths.machineWritable = geteuid() == 0;
  return paths;
}

}  // namespace quorvant
