#include "ui/cp932_text.h"

#include <memory>
#include <new>

namespace {

constexpr UINT CODE_PAGE_932 = 932;

// One text in UTF-16: on the stack when it fits there (every text the
// launcher shows does), else on the heap. Empty (Get() null) when code page
// 932 is not installed, the text does not convert, or memory runs out.
class WideText {
 public:
  explicit WideText(const char* text) {
    static const bool installed = IsValidCodePage(CODE_PAGE_932) != FALSE;
    if (!installed || text == nullptr) return;
    const int length = MultiByteToWideChar(CODE_PAGE_932, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (length <= 0) return;
    wchar_t* buffer = local;
    if (length > LOCAL_CAPACITY) {
      heap.reset(new (std::nothrow) wchar_t[length]);
      buffer = heap.get();
      if (buffer == nullptr) return;
    }
    if (MultiByteToWideChar(CODE_PAGE_932, MB_ERR_INVALID_CHARS, text, -1, buffer, length) == length) wide = buffer;
  }
  WideText(const WideText&) = delete;
  WideText& operator=(const WideText&) = delete;

  const wchar_t* Get() const { return wide; }

 private:
  static constexpr int LOCAL_CAPACITY = 256;
  wchar_t local[LOCAL_CAPACITY];
  std::unique_ptr<wchar_t[]> heap;
  const wchar_t* wide = nullptr;
};

}  // namespace

BOOL SetWindowTextCp932(HWND window, const char* text) {
  const WideText wide(text);
  return wide.Get() != nullptr ? SetWindowTextW(window, wide.Get()) : SetWindowTextA(window, text);
}

int MessageBoxCp932(HWND owner, const char* text, const char* caption, UINT type) {
  const WideText wideText(text);
  const WideText wideCaption(caption);
  if (wideText.Get() == nullptr || wideCaption.Get() == nullptr) return MessageBoxA(owner, text, caption, type);
  return MessageBoxW(owner, wideText.Get(), wideCaption.Get(), type);
}
