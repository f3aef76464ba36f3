#include "common/module.h"

namespace {
HINSTANCE moduleInstance = nullptr;
}  // namespace

HINSTANCE ModuleInstance() { return moduleInstance != nullptr ? moduleInstance : GetModuleHandleA(nullptr); }

void SetModuleInstance(HINSTANCE instance) { moduleInstance = instance; }
