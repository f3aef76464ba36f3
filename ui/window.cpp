#include "ui/window.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "common/module.h"

// The object pointer travels through the window's pointer-sized user data
// (GWLP_USERDATA): on 32-bit Windows the same slot and call as GWL_USERDATA.
static_assert(sizeof(void*) == sizeof(LONG_PTR), "the user data holds a pointer");

namespace {

char* CopyString(const char* text) {
  size_t size = std::strlen(text) + 1;
  char* copy = new (std::nothrow) char[size];
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

}  // namespace

POINT CenteredPosition(const RECT& desktop, const RECT& window) {
  // 64-bit intermediates: rectangles far off screen must not overflow before
  // the halving; the results fit a LONG again for any real rectangle.
  int64_t x = (int64_t{desktop.right} - window.right + window.left) / 2;
  int64_t y = (int64_t{desktop.bottom} - window.bottom + window.top) / 2;
  POINT point;
  point.x = static_cast<LONG>(x);
  point.y = static_cast<LONG>(y);
  return point;
}

Window::Window()
    : windowHandle(nullptr), className(nullptr), classRecord(), classAtom(0), x(0), y(0), width(0), height(0) {}

Window::~Window() {
  if (windowHandle != nullptr) SetWindowLongPtrA(windowHandle, GWLP_USERDATA, 0);
  delete[] className;
}

LRESULT Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      OnDestroy(message, wParam, lParam);
      return 0;
    case WM_CLOSE:
      OnClose(message, wParam, lParam);
      return 0;
    default:
      return DefWindowProcA(windowHandle, message, wParam, lParam);
  }
}

bool Window::RegisterWindowClass(const char* name, HICON icon, const char* menuName) {
  classRecord.cbSize = sizeof(WNDCLASSEXA);
  classRecord.style = CS_HREDRAW | CS_VREDRAW;
  classRecord.lpfnWndProc = WindowProc;
  classRecord.cbClsExtra = 0;
  classRecord.cbWndExtra = 0;
  classRecord.hInstance = ModuleInstance();
  classRecord.hIcon = icon;
  classRecord.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  classRecord.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  classRecord.lpszMenuName = menuName;
  classRecord.lpszClassName = name;
  classRecord.hIconSm = nullptr;
  classAtom = RegisterClassExA(&classRecord);
  if (classAtom == 0) return false;
  char* copy = CopyString(name);
  if (copy == nullptr) return false;
  delete[] className;
  className = copy;
  return true;
}

bool Window::Create(const char* windowName, DWORD extendedStyle, DWORD style, HWND parent, HMENU menu) {
  windowHandle = CreateWindowExA(extendedStyle, className, windowName, style, x, y, width, height, parent, menu,
                                 ModuleInstance(), this);
  if (windowHandle == nullptr) return false;
  SetWindowLongPtrA(windowHandle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return true;
}

int Window::OnClose(UINT, WPARAM, LPARAM) {
  if (windowHandle != nullptr) DestroyWindow(windowHandle);
  return 0;
}

void Window::HideAndDemote() {
  if (windowHandle == nullptr) return;
  ShowWindow(windowHandle, SW_HIDE);
  SetWindowLongA(windowHandle, GWL_STYLE, static_cast<LONG>(WS_POPUP));
  SetWindowPos(windowHandle, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

int Window::OnDestroy(UINT, WPARAM, LPARAM) {
  HideAndDemote();
  // Destroying a plain window ends its thread's message loop.
  PostQuitMessage(0);
  return 0;
}

bool Window::SetPosition(HWND insertAfter, int newX, int newY, int newWidth, int newHeight, UINT flags) {
  if (flags & SWP_NOSIZE) {
    newWidth = width;
    newHeight = height;
  }
  if (flags & SWP_NOMOVE) {
    newX = x;
    newY = y;
  }
  if (windowHandle != nullptr && !SetWindowPos(windowHandle, insertAfter, newX, newY, newWidth, newHeight, flags)) {
    return false;
  }
  x = newX;
  y = newY;
  width = newWidth;
  height = newHeight;
  return true;
}

bool Window::MoveAndSize(int newX, int newY, int newWidth, int newHeight, bool repaint) {
  if (windowHandle != nullptr && !MoveWindow(windowHandle, newX, newY, newWidth, newHeight, repaint)) return false;
  x = newX;
  y = newY;
  width = newWidth;
  height = newHeight;
  return true;
}

bool Window::MoveTo(int newX, int newY, bool repaint) {
  if (windowHandle != nullptr) {
    RefreshRect();
    if (!MoveWindow(windowHandle, newX, newY, width, height, repaint)) return false;
  }
  x = newX;
  y = newY;
  return true;
}

bool Window::Resize(int newWidth, int newHeight, bool repaint) {
  if (windowHandle != nullptr) {
    RefreshRect();
    if (!MoveWindow(windowHandle, x, y, newWidth, newHeight, repaint)) return false;
  }
  width = newWidth;
  height = newHeight;
  return true;
}

bool Window::RefreshRect() {
  RECT rect;
  if (windowHandle == nullptr || !GetWindowRect(windowHandle, &rect)) return false;
  x = rect.left;
  y = rect.top;
  width = rect.right - rect.left;
  height = rect.bottom - rect.top;
  return true;
}

void Window::CenterOnDesktop() {
  RECT desktop = {0, 0, 0, 0};
  GetWindowRect(GetDesktopWindow(), &desktop);
  RECT window;
  if (windowHandle == nullptr || !GetWindowRect(windowHandle, &window)) {
    window.left = x;
    window.top = y;
    window.right = x + width;
    window.bottom = y + height;
  }
  POINT corner = CenteredPosition(desktop, window);
  SetPosition(HWND_TOP, corner.x, corner.y, 0, 0, SWP_NOSIZE);
}

LRESULT CALLBACK Window::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* object;
  if (message == WM_NCCREATE) {
    object = static_cast<Window*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
    if (object != nullptr) object->windowHandle = window;
  } else {
    object = reinterpret_cast<Window*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  }
  if (object == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  return object->HandleMessage(message, wParam, lParam);
}
