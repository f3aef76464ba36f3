#include "launcher/launcher.h"

namespace {
HINSTANCE g_moduleInstance = nullptr;
}

int32_t LanguageIndex = 0;

HINSTANCE ModuleInstance() {
  return g_moduleInstance != nullptr ? g_moduleInstance : GetModuleHandleA(nullptr);
}

void SetModuleInstance(HINSTANCE instance) { g_moduleInstance = instance; }

int RunLauncher(HINSTANCE instance, const char*) {
  SetModuleInstance(instance);
  return 0;
}
