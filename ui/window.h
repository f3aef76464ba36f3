// Window: the base of the launcher's object layer over native windows. One
// object stands for one native window; the window's user data (GWLP_USERDATA)
// points back to the object, and the shared WindowProc hands every message to
// the object's virtual HandleMessage. Geometry is kept in a stored copy that
// the geometry operations update.
#pragma once

#include <windows.h>

class Window {
 public:
  Window();
  // Detaches the object from its window (user data 0) and frees the class
  // name. Neither destroys the window nor unregisters the class.
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Virtual operations, in this slot order.
  virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  virtual bool RegisterWindowClass(const char* className, HICON icon, const char* menuName);
  virtual bool Create(const char* windowName, DWORD extendedStyle, DWORD style, HWND parent, HMENU menu);
  virtual int OnClose(UINT message, WPARAM wParam, LPARAM lParam);
  virtual int OnDestroy(UINT message, WPARAM wParam, LPARAM lParam);

  // Geometry. With a window each calls the platform and stores the values
  // only when that succeeded; without one it stores them and returns true
  // (RefreshRect returns false and changes nothing).
  bool SetPosition(HWND insertAfter, int x, int y, int width, int height, UINT flags);
  bool MoveAndSize(int x, int y, int width, int height, bool repaint);
  bool MoveTo(int x, int y, bool repaint);
  bool Resize(int width, int height, bool repaint);
  bool RefreshRect();
  void CenterOnDesktop();

  HWND WindowHandle() const { return windowHandle; }
  int X() const { return x; }
  int Y() const { return y; }
  int Width() const { return width; }
  int Height() const { return height; }

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  // The first steps of OnDestroy, shared by windows and dialogs: hides the
  // window, leaves it a bare popup and takes it out of the topmost band.
  void HideAndDemote();

  HWND windowHandle;
  char* className;
  WNDCLASSEXA classRecord;
  ATOM classAtom;
  int x, y, width, height;
};

// The top-left corner that centres window on desktop: only the desktop's
// right and bottom edges count, signed arithmetic, division truncating toward
// zero. CenterOnDesktop uses it; it is exposed for its arithmetic alone.
POINT CenteredPosition(const RECT& desktop, const RECT& window);
