// Dialog: a dialog box made from a template in the program's resources. Its
// messages reach the object through the shared DialogProc, which attaches the
// object on WM_INITDIALOG and afterwards finds it through the window's user
// data; each goes to the virtual HandleDialogMessage.
#pragma once

#include "ui/window.h"

class Dialog : public Window {
 public:
  Dialog();
  // Ends the dialog with 0 through Dialog's own End (not an override), frees
  // an owned template name, then runs the Window destructor.
  ~Dialog() override;

  int OnClose(UINT message, WPARAM wParam, LPARAM lParam) override;
  int OnDestroy(UINT message, WPARAM wParam, LPARAM lParam) override;

  // Virtual operations added after Window's, in this slot order.
  virtual INT_PTR End(INT_PTR result);
  virtual BOOL HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam);
  virtual BOOL IsAvailable();  // always TRUE; nothing in the launcher asks

  // Template: an integer id (MAKEINTRESOURCEA) is stored as it is, a name as a
  // heap copy the object owns. Both are ignored while the dialog is open.
  void SetTemplate(const char* templateName, HWND owner);
  void SetOwner(HWND owner);

  // DialogBoxParamA: the result given to End, or -1 when the dialog could not
  // be created (missing template, unregistered control class).
  INT_PTR RunModal();
  bool CreateModeless();

  const char* TemplateName() const { return templateName; }
  HWND Owner() const { return ownerWindow; }

  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  HWND ownerWindow;
  const char* templateName;  // integer id below 0x10000, or an owned copy
};
