#include "import_hook.h"

#include <cstring>

namespace testing_support {

namespace {

void WriteSlot(void** slot, void* value) {
  DWORD old = 0;
  VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
  *slot = value;
  VirtualProtect(slot, sizeof *slot, old, &old);
  FlushInstructionCache(GetCurrentProcess(), slot, sizeof *slot);
}

// The import address table slot of dll!function in the running program.
void** FindSlot(const char* dll, const char* function) {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return nullptr;
  for (auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
       import->Name != 0; ++import) {
    if (_stricmp(reinterpret_cast<const char*>(base + import->Name), dll) != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
        return reinterpret_cast<void**>(&slots->u1.Function);
      }
    }
  }
  return nullptr;
}

}  // namespace

ImportHook::ImportHook(const char* dll, const char* function, const void* replacement)
    : slot(FindSlot(dll, function)) {
  if (slot == nullptr) return;
  original = *slot;
  WriteSlot(slot, const_cast<void*>(replacement));
}

ImportHook::~ImportHook() {
  if (slot != nullptr) WriteSlot(slot, original);
}

}  // namespace testing_support
