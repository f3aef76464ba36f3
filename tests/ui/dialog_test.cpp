// The dialog object: templates, the modal run and its result, the shared
// dialog procedure's attach on WM_INITDIALOG, and the state after closing.
// The dialogs are made from the launcher's own template 101.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "resources/resource_ids.h"
#include "ui/dialog.h"

namespace {

constexpr UINT WM_TEST_ACTION = WM_APP + 40;

// Records the messages that reach the object and runs a test's action when
// the dialog opens (on WM_INITDIALOG) and when it is poked (WM_TEST_ACTION).
class TestDialog : public Dialog {
 public:
  TestDialog() { SetTemplate(MAKEINTRESOURCEA(IDD_PROGRESS), nullptr); }

  BOOL HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    messages.push_back(message);
    if (message == WM_INITDIALOG) {
      RECT rect;
      GetWindowRect(windowHandle, &rect);
      openedAt = rect;
      if (onOpen) onOpen(*this);
    }
    if (message == WM_TEST_ACTION && onAction) onAction(*this);
    return Dialog::HandleDialogMessage(message, wParam, lParam);
  }
  bool Received(UINT message) const {
    for (UINT m : messages) {
      if (m == message) return true;
    }
    return false;
  }

  std::vector<UINT> messages;
  RECT openedAt = {-1, -1, -1, -1};
  std::function<void(TestDialog&)> onOpen;
  std::function<void(TestDialog&)> onAction;
};

class DialogObject : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Template 101 holds a progress control.
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
  }
};

TEST_F(DialogObject, CloseEndsAModalRunWithZeroAndClearsTheHandle) {
  TestDialog dialog;
  dialog.onOpen = [](TestDialog& d) { PostMessageA(d.WindowHandle(), WM_CLOSE, 0, 0); };
  EXPECT_EQ(0, dialog.RunModal());
  EXPECT_TRUE(dialog.Received(WM_CLOSE));
  EXPECT_TRUE(dialog.Received(WM_DESTROY));
  EXPECT_EQ(nullptr, dialog.WindowHandle());
  EXPECT_EQ(1, dialog.End(5));  // no window: no platform call
}

TEST_F(DialogObject, RunModalReturnsTheResultGivenToEnd) {
  TestDialog dialog;
  dialog.onOpen = [](TestDialog& d) { PostMessageA(d.WindowHandle(), WM_TEST_ACTION, 0, 0); };
  dialog.onAction = [](TestDialog& d) { d.End(7); };
  EXPECT_EQ(7, dialog.RunModal());
  // The object can be run again once closed.
  dialog.onAction = [](TestDialog& d) { d.End(3); };
  EXPECT_EQ(3, dialog.RunModal());
}

TEST_F(DialogObject, MessagesBeforeInitDialogReachNoObject) {
  TestDialog dialog;
  dialog.onOpen = [](TestDialog& d) { d.End(0); };
  dialog.RunModal();
  // The template sets a font: WM_SETFONT comes before WM_INITDIALOG and so
  // never reaches the object.
  EXPECT_TRUE(dialog.Received(WM_INITDIALOG));
  EXPECT_FALSE(dialog.Received(WM_SETFONT));

  HWND plain = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, plain);
  EXPECT_EQ(FALSE, Dialog::DialogProc(plain, WM_SETFONT, 0, 0));
  EXPECT_EQ(FALSE, Dialog::DialogProc(plain, WM_INITDIALOG, 0, 0));  // no object given
  EXPECT_EQ(0, GetWindowLongPtrA(plain, GWLP_USERDATA));
  DestroyWindow(plain);
}

TEST_F(DialogObject, OpensAtTheStoredPositionWithTheTemplatesSize) {
  TestDialog fresh;
  fresh.onOpen = [](TestDialog& d) { d.End(0); };
  fresh.RunModal();
  EXPECT_EQ(0, fresh.openedAt.left);
  EXPECT_EQ(0, fresh.openedAt.top);
  LONG width = fresh.openedAt.right - fresh.openedAt.left;
  EXPECT_GT(width, 100);

  TestDialog moved;
  moved.MoveTo(100, 50, false);
  moved.onOpen = [](TestDialog& d) { d.End(0); };
  moved.RunModal();
  EXPECT_EQ(100, moved.openedAt.left);
  EXPECT_EQ(50, moved.openedAt.top);
  EXPECT_EQ(width, moved.openedAt.right - moved.openedAt.left);
}

TEST_F(DialogObject, AMissingTemplateFailsWithMinusOneAndNeverInitialises) {
  TestDialog dialog;
  dialog.SetTemplate(MAKEINTRESOURCEA(999), nullptr);
  EXPECT_EQ(-1, dialog.RunModal());
  EXPECT_FALSE(dialog.Received(WM_INITDIALOG));
  EXPECT_FALSE(dialog.CreateModeless());
  EXPECT_EQ(nullptr, dialog.WindowHandle());
}

TEST_F(DialogObject, SetTemplateStoresIdsAsTheyAreAndNamesAsOwnedCopies) {
  Dialog dialog;
  EXPECT_EQ(nullptr, dialog.TemplateName());
  dialog.SetTemplate(MAKEINTRESOURCEA(101), reinterpret_cast<HWND>(0x1234));
  EXPECT_EQ(MAKEINTRESOURCEA(101), dialog.TemplateName());
  EXPECT_EQ(reinterpret_cast<HWND>(0x1234), dialog.Owner());

  char name[] = "PROGRESS_TEMPLATE";
  dialog.SetTemplate(name, nullptr);
  std::memset(name, 'x', sizeof(name) - 1);  // the caller's string may change or go
  EXPECT_NE(name, dialog.TemplateName());
  EXPECT_STREQ("PROGRESS_TEMPLATE", dialog.TemplateName());
  EXPECT_EQ(nullptr, dialog.Owner());

  dialog.SetTemplate("ANOTHER", nullptr);  // frees the first copy
  EXPECT_STREQ("ANOTHER", dialog.TemplateName());
  dialog.SetTemplate(MAKEINTRESOURCEA(102), nullptr);
  EXPECT_EQ(MAKEINTRESOURCEA(102), dialog.TemplateName());
  dialog.SetOwner(reinterpret_cast<HWND>(0x99));
  EXPECT_EQ(reinterpret_cast<HWND>(0x99), dialog.Owner());
}

TEST_F(DialogObject, TemplateAndOwnerAreFixedWhileOpen) {
  TestDialog dialog;
  const char* during = nullptr;
  HWND ownerDuring = reinterpret_cast<HWND>(1);
  dialog.onOpen = [&](TestDialog& d) {
    d.SetTemplate("OTHER", reinterpret_cast<HWND>(0x55));
    d.SetOwner(reinterpret_cast<HWND>(0x66));
    during = d.TemplateName();
    ownerDuring = d.Owner();
    d.End(0);
  };
  dialog.RunModal();
  EXPECT_EQ(MAKEINTRESOURCEA(IDD_PROGRESS), during);
  EXPECT_EQ(nullptr, ownerDuring);
}

TEST_F(DialogObject, ModelessDialogIsCreatedOnceAndClosedByDestroy) {
  TestDialog dialog;
  ASSERT_TRUE(dialog.CreateModeless());
  HWND handle = dialog.WindowHandle();
  ASSERT_NE(nullptr, handle);
  EXPECT_TRUE(dialog.Received(WM_INITDIALOG));
  EXPECT_FALSE(dialog.CreateModeless());
  DestroyWindow(handle);
  EXPECT_EQ(nullptr, dialog.WindowHandle());
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // a dialog posts no quit
}

TEST_F(DialogObject, DestroyingTheObjectDetachesAWindowThatStaysOpen) {
  HWND handle;
  {
    TestDialog dialog;
    ASSERT_TRUE(dialog.CreateModeless());
    handle = dialog.WindowHandle();
  }
  ASSERT_TRUE(IsWindow(handle));
  EXPECT_EQ(0, GetWindowLongPtrA(handle, GWLP_USERDATA));
  SendMessageA(handle, WM_TEST_ACTION, 0, 0);  // reaches no object
  DestroyWindow(handle);
}

}  // namespace
