// The window object: the stored geometry with and without a native window,
// the centring arithmetic, and the ties between object and window that the
// shared window procedure makes and the destructor undoes.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "ui/window.h"

namespace {

RECT Rect(LONG left, LONG top, LONG right, LONG bottom) {
  RECT rect = {left, top, right, bottom};
  return rect;
}

// Records every message that reaches the object, then handles it as Window.
class RecordingWindow : public Window {
 public:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    messages.push_back(message);
    return Window::HandleMessage(message, wParam, lParam);
  }
  std::vector<UINT> messages;
};

// Each test registers its own class: a class name can be registered once.
std::string FreshClassName() {
  static int counter = 0;
  char name[64];
  std::snprintf(name, sizeof(name), "ZephraTestWindow%lu%d", GetCurrentProcessId(), ++counter);
  return name;
}

bool QuitPosted() {
  MSG message;
  bool found = PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
  return found;
}

TEST(CenteredPosition, CentresOnTheDesktopsRightAndBottomEdges) {
  POINT a = CenteredPosition(Rect(0, 0, 1024, 768), Rect(0, 0, 400, 300));
  EXPECT_EQ(312, a.x);
  EXPECT_EQ(234, a.y);
  // An odd remainder is truncated.
  EXPECT_EQ(312, CenteredPosition(Rect(0, 0, 1025, 768), Rect(0, 0, 400, 300)).x);
  // Only the window's extent counts, not where it is now.
  POINT b = CenteredPosition(Rect(0, 0, 1024, 768), Rect(500, 600, 900, 900));
  EXPECT_EQ(312, b.x);
  EXPECT_EQ(234, b.y);
  // The desktop's left and top edges are not used.
  EXPECT_EQ(312, CenteredPosition(Rect(100, 100, 1024, 768), Rect(0, 0, 400, 300)).x);
}

TEST(CenteredPosition, AWindowWiderThanTheDesktopGoesNegativeTruncatingTowardZero) {
  EXPECT_EQ(-38, CenteredPosition(Rect(0, 0, 1024, 768), Rect(0, 0, 1100, 300)).x);
  EXPECT_EQ(-38, CenteredPosition(Rect(0, 0, 1024, 768), Rect(0, 0, 1101, 300)).x);
}

TEST(WindowGeometry, WithoutAWindowTheOperationsOnlyStore) {
  Window window;
  EXPECT_EQ(0, window.X());
  EXPECT_EQ(0, window.Width());
  EXPECT_TRUE(window.MoveAndSize(1, 2, 3, 4, false));
  EXPECT_TRUE(window.MoveTo(10, 20, true));
  EXPECT_TRUE(window.Resize(400, 300, true));
  EXPECT_FALSE(window.RefreshRect());
  EXPECT_EQ(10, window.X());
  EXPECT_EQ(20, window.Y());
  EXPECT_EQ(400, window.Width());
  EXPECT_EQ(300, window.Height());

  // Flags make the stored values replace the arguments.
  EXPECT_TRUE(window.SetPosition(HWND_TOP, 7, 8, 9, 10, SWP_NOMOVE | SWP_NOSIZE));
  EXPECT_EQ(10, window.X());
  EXPECT_EQ(300, window.Height());
  EXPECT_TRUE(window.SetPosition(HWND_TOP, 7, 8, 9, 10, SWP_NOSIZE));
  EXPECT_EQ(7, window.X());
  EXPECT_EQ(400, window.Width());
  EXPECT_TRUE(window.SetPosition(HWND_TOP, 70, 80, 90, 100, SWP_NOMOVE));
  EXPECT_EQ(7, window.X());
  EXPECT_EQ(8, window.Y());
  EXPECT_EQ(90, window.Width());
  EXPECT_EQ(100, window.Height());
}

TEST(WindowGeometry, CenterOnDesktopWithoutAWindowUsesTheStoredGeometry) {
  RECT desktop;
  ASSERT_TRUE(GetWindowRect(GetDesktopWindow(), &desktop));
  Window window;
  window.MoveAndSize(10, 20, 400, 300, false);
  window.CenterOnDesktop();
  EXPECT_EQ((desktop.right - 400) / 2, window.X());
  EXPECT_EQ((desktop.bottom - 300) / 2, window.Y());
  EXPECT_EQ(400, window.Width());
  EXPECT_EQ(300, window.Height());
  if (desktop.right == 1024 && desktop.bottom == 768) {
    EXPECT_EQ(312, window.X());
    EXPECT_EQ(234, window.Y());
  }
}

class WindowObject : public ::testing::Test {
 protected:
  // A hidden popup of a fresh class, created through the object.
  void Open(RecordingWindow& window, int x, int y, int width, int height) {
    ASSERT_TRUE(window.RegisterWindowClass(FreshClassName().c_str(), nullptr, nullptr));
    window.MoveAndSize(x, y, width, height, false);
    ASSERT_TRUE(window.Create("test", 0, WS_POPUP, nullptr, nullptr));
  }
  void TearDown() override { QuitPosted(); }
};

TEST_F(WindowObject, CreateTiesObjectAndWindowInBothDirections) {
  RecordingWindow window;
  Open(window, 10, 20, 300, 200);
  HWND handle = window.WindowHandle();
  ASSERT_NE(nullptr, handle);
  EXPECT_EQ(reinterpret_cast<LONG_PTR>(static_cast<Window*>(&window)), GetWindowLongPtrA(handle, GWLP_USERDATA));
  // Messages sent before WM_NCCREATE (WM_GETMINMAXINFO among them) reach
  // no object; WM_NCCREATE is the first one the object sees.
  ASSERT_FALSE(window.messages.empty());
  EXPECT_EQ(static_cast<UINT>(WM_NCCREATE), window.messages.front());
  RECT rect;
  GetWindowRect(handle, &rect);
  EXPECT_EQ(10, rect.left);
  EXPECT_EQ(20, rect.top);
  EXPECT_EQ(310, rect.right);
  DestroyWindow(handle);
}

TEST_F(WindowObject, GeometryOperationsMoveTheWindowAndStoreWhatTheyDid) {
  RecordingWindow window;
  Open(window, 0, 0, 300, 200);
  HWND handle = window.WindowHandle();

  EXPECT_TRUE(window.MoveTo(40, 50, false));
  RECT rect;
  GetWindowRect(handle, &rect);
  EXPECT_EQ(40, rect.left);
  EXPECT_EQ(50, rect.top);
  EXPECT_EQ(300, rect.right - rect.left);

  EXPECT_TRUE(window.SetPosition(nullptr, 60, 70, 1, 1, SWP_NOSIZE | SWP_NOZORDER));
  GetWindowRect(handle, &rect);
  EXPECT_EQ(60, rect.left);
  EXPECT_EQ(200, rect.bottom - rect.top);
  EXPECT_EQ(300, window.Width());

  // RefreshRect reads back what the platform did behind the object's back.
  MoveWindow(handle, 5, 6, 120, 80, FALSE);
  EXPECT_TRUE(window.RefreshRect());
  EXPECT_EQ(5, window.X());
  EXPECT_EQ(120, window.Width());

  RECT desktop;
  GetWindowRect(GetDesktopWindow(), &desktop);
  window.CenterOnDesktop();
  GetWindowRect(handle, &rect);
  EXPECT_EQ((desktop.right - 120) / 2, rect.left);
  EXPECT_EQ((desktop.bottom - 80) / 2, rect.top);
  EXPECT_EQ(rect.left, window.X());
  DestroyWindow(handle);
}

TEST_F(WindowObject, AFailedPlatformCallStoresNothing) {
  RecordingWindow window;
  Open(window, 10, 20, 300, 200);
  DestroyWindow(window.WindowHandle());  // a plain window keeps its old handle
  EXPECT_TRUE(QuitPosted());             // and ends its thread's message loop
  EXPECT_FALSE(window.MoveAndSize(1, 2, 3, 4, false));
  EXPECT_FALSE(window.SetPosition(nullptr, 1, 2, 3, 4, 0));
  EXPECT_FALSE(window.RefreshRect());
  EXPECT_EQ(10, window.X());
  EXPECT_EQ(300, window.Width());
}

TEST_F(WindowObject, CloseDestroysTheWindow) {
  RecordingWindow window;
  Open(window, 0, 0, 100, 100);
  HWND handle = window.WindowHandle();
  EXPECT_EQ(0, SendMessageA(handle, WM_CLOSE, 0, 0));
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_TRUE(QuitPosted());
}

TEST_F(WindowObject, AWindowThatOutlivesItsObjectReachesNoObject) {
  HWND handle;
  {
    auto* window = new RecordingWindow;
    Open(*window, 0, 0, 100, 100);
    handle = window->WindowHandle();
    delete window;
  }
  ASSERT_TRUE(IsWindow(handle));
  EXPECT_EQ(0, GetWindowLongPtrA(handle, GWLP_USERDATA));
  // Default handling only: a close destroys the window without any quit.
  SendMessageA(handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("after"));
  char text[16] = "";
  GetWindowTextA(handle, text, sizeof(text));
  EXPECT_STREQ("after", text);
  SendMessageA(handle, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_FALSE(QuitPosted());
}

TEST(WindowClass, ASecondRegistrationFailsAndKeepsTheObjectAsItWas) {
  std::string name = FreshClassName();
  Window first, second;
  ASSERT_TRUE(first.RegisterWindowClass(name.c_str(), nullptr, nullptr));
  EXPECT_FALSE(second.RegisterWindowClass(name.c_str(), nullptr, nullptr));
  EXPECT_FALSE(second.Create("x", 0, WS_POPUP, nullptr, nullptr));  // no class name to create with
  EXPECT_EQ(nullptr, second.WindowHandle());
}

}  // namespace
