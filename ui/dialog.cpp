#include "ui/dialog.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "common/module.h"

namespace {

// The platform's integer-resource form: a "name" below 0x10000 is an id.
bool IsResourceId(const char* name) { return reinterpret_cast<uintptr_t>(name) < 0x10000; }

}  // namespace

Dialog::Dialog() : ownerWindow(nullptr), templateName(nullptr) {}

Dialog::~Dialog() {
  Dialog::End(0);
  if (!IsResourceId(templateName)) delete[] templateName;
}

int Dialog::OnClose(UINT, WPARAM, LPARAM) {
  End(0);
  return 1;
}

int Dialog::OnDestroy(UINT, WPARAM, LPARAM) {
  HideAndDemote();
  // No quit message: the thread's loop outlives a dialog.
  windowHandle = nullptr;
  return 1;
}

INT_PTR Dialog::End(INT_PTR result) {
  if (windowHandle == nullptr) return 1;
  return EndDialog(windowHandle, result);
}

BOOL Dialog::HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      return OnDestroy(message, wParam, lParam) != 0 ? TRUE : FALSE;
    case WM_CLOSE:
      return OnClose(message, wParam, lParam) != 0 ? TRUE : FALSE;
    default:
      return FALSE;
  }
}

BOOL Dialog::IsAvailable() { return TRUE; }

void Dialog::SetTemplate(const char* name, HWND owner) {
  if (windowHandle != nullptr) return;
  const char* stored = name;
  if (!IsResourceId(name)) {
    size_t size = std::strlen(name) + 1;
    char* copy = new (std::nothrow) char[size];
    if (copy == nullptr) return;
    std::memcpy(copy, name, size);
    stored = copy;
  }
  ownerWindow = owner;
  if (!IsResourceId(templateName)) delete[] templateName;
  templateName = stored;
}

void Dialog::SetOwner(HWND owner) {
  if (windowHandle != nullptr) return;
  ownerWindow = owner;
}

// A template given by id makes a Unicode dialog, its controls Unicode
// windows too: text set through the UTF-16 calls then reaches them whole,
// where an ANSI window would take it through the system's code page and lose
// every character that code page lacks (ui/cp932_text.h). The messages the
// dialog's objects handle carry no text, so nothing else changes.
INT_PTR Dialog::RunModal() {
  const LPARAM self = reinterpret_cast<LPARAM>(this);
  if (IsResourceId(templateName)) {
    return DialogBoxParamW(ModuleInstance(), reinterpret_cast<const wchar_t*>(templateName), ownerWindow, DialogProc,
                           self);
  }
  return DialogBoxParamA(ModuleInstance(), templateName, ownerWindow, DialogProc, self);
}

bool Dialog::CreateModeless() {
  if (windowHandle != nullptr) return false;
  const LPARAM self = reinterpret_cast<LPARAM>(this);
  HWND window = IsResourceId(templateName)
                    ? CreateDialogParamW(ModuleInstance(), reinterpret_cast<const wchar_t*>(templateName), ownerWindow,
                                         DialogProc, self)
                    : CreateDialogParamA(ModuleInstance(), templateName, ownerWindow, DialogProc, self);
  if (window == nullptr) return false;
  windowHandle = window;
  return true;
}

INT_PTR CALLBACK Dialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Dialog* object;
  if (message == WM_INITDIALOG) {
    object = reinterpret_cast<Dialog*>(lParam);
    if (object == nullptr) return FALSE;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
    object->windowHandle = window;
    // Keep the template's size; only the position comes from the object.
    object->MoveTo(object->x, object->y, false);
  } else {
    object = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (object == nullptr) return FALSE;
  }
  return object->HandleDialogMessage(message, wParam, lParam);
}
