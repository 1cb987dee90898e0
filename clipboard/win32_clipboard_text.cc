// All of the program's Win32 clipboard code.
//
// Every handle taken here has an owner whose destructor gives it back, so a
// failure at any step (an Error thrown, or a bad_alloc) closes the clipboard
// and frees the memory on the way out. The owners are move-only: a handle
// has exactly one owner, and ownership leaves ours only where Windows takes
// it over (memory placed with SetClipboardData).
#include "clipboard/win32_clipboard_text.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "base/error.h"
#include "base/handle.h"

namespace quillmore {
namespace {

// How long the clipboard's owner has to answer at all, as on other
// desktops.
constexpr DWORD kOwnerAnswerMs = 2000;

static_assert(sizeof(wchar_t) == sizeof(char16_t),
              "Windows wide text is UTF-16 code units");

// The status of the Win32 call that has just failed. Some calls fail without
// setting a last error; those still have to read as a failure.
StatusCode LastErrorStatus() {
  const DWORD error = GetLastError();
  if (error == ERROR_SUCCESS) return status::kFail;
  return static_cast<StatusCode>(HRESULT_FROM_WIN32(error));
}

// Takes the cause as a plain pointer so that nothing (not even building a
// string, which may allocate) runs between the failed call and the reading
// of its error code.
[[noreturn]] void ThrowLastError(const char* cause) {
  const StatusCode code = LastErrorStatus();
  throw Failure(code, cause);
}

// The clipboard, open for one operation: closed by its owner.
struct OpenClipboardTraits {
  using Value = bool;
  static bool Empty() noexcept { return false; }
  static void Release(bool) noexcept { CloseClipboard(); }
};

class OpenClipboardAccess {
 public:
  // Fails at once when another program has the clipboard open.
  explicit OpenClipboardAccess(HWND window) {
    if (!OpenClipboard(window)) {
      ThrowLastError(GetLastError() == ERROR_ACCESS_DENIED
                         ? "another program has the clipboard open"
                         : "the clipboard could not be opened");
    }
    open_.Reset(true);
  }

  // Closes the clipboard, checking the result: closing is what tells other
  // programs that the clipboard has changed, so a failure there matters.
  void Close() {
    open_.Abandon();  // closed here, where its result is seen
    if (!CloseClipboard()) {
      ThrowLastError("the clipboard could not be closed");
    }
  }

 private:
  Handle<OpenClipboardTraits> open_;
};

// Movable global memory, as the clipboard takes it.
struct GlobalMemoryTraits {
  using Value = HGLOBAL;
  static HGLOBAL Empty() noexcept { return nullptr; }
  static void Release(HGLOBAL handle) noexcept { GlobalFree(handle); }
};
using GlobalMemory = Handle<GlobalMemoryTraits>;

// A lock on global memory: the address of its contents while it lasts. The
// memory may belong to us or to the clipboard; the lock never frees it.
struct GlobalLockTraits {
  using Value = HGLOBAL;
  static HGLOBAL Empty() noexcept { return nullptr; }
  static void Release(HGLOBAL handle) noexcept { GlobalUnlock(handle); }
};

class GlobalLockAccess {
 public:
  explicit GlobalLockAccess(HGLOBAL handle) : data_(GlobalLock(handle)) {
    if (data_ == nullptr) {
      ThrowLastError("the text's memory could not be locked");
    }
    lock_.Reset(handle);
  }

  void* data() const noexcept { return data_; }

 private:
  void* data_;
  Handle<GlobalLockTraits> lock_;
};

}  // namespace

Win32ClipboardText::~Win32ClipboardText() {
  if (window_ != nullptr) DestroyWindow(window_);
}

HWND Win32ClipboardText::Window() {
  if (window_ == nullptr) {
    window_ = CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0,
                              HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (window_ == nullptr) {
      ThrowLastError("the clipboard's window could not be made");
    }
  }
  return window_;
}

// The clipboard must be open.
Win32ClipboardText::Text Win32ClipboardText::ReadText() const {
  // CF_UNICODETEXT also covers text placed in the 8-bit formats, which the
  // system converts on request. Anything else (an image, files) is no text.
  if (!IsClipboardFormatAvailable(CF_UNICODETEXT)) return {};
  // Fetching a format the owner renders only when asked, and emptying the
  // clipboard, each send the owner a message that waits for as long as the
  // owner takes: a hung owner would hold the run without end. So the owner
  // must first answer at all, within the same time as on other desktops.
  // (One that answers this and hangs in rendering still holds the run.)
  const HWND owner = GetClipboardOwner();
  DWORD_PTR answer;
  if (owner != nullptr && owner != window_ &&
      !SendMessageTimeoutW(owner, WM_NULL, 0, 0, SMTO_ABORTIFHUNG,
                           kOwnerAnswerMs, &answer) &&
      GetLastError() != ERROR_INVALID_WINDOW_HANDLE) {  // gone: nothing waits
    throw Failure(status::kTimeout,
                  "the owning program did not answer within " +
                      std::to_string(kOwnerAnswerMs / 1000) + " s");
  }
  const HANDLE handle = GetClipboardData(CF_UNICODETEXT);
  if (handle == nullptr) {
    ThrowLastError("the clipboard's text could not be fetched");
  }
  SetLastError(ERROR_SUCCESS);
  const SIZE_T bytes = GlobalSize(handle);
  if (bytes == 0 && GetLastError() != ERROR_SUCCESS) {
    ThrowLastError("the clipboard's text has no readable size");
  }
  const GlobalLockAccess lock(handle);
  // The text ends at its first NUL; the block may be larger than the text
  // but never shorter, so the search is bounded by the block's size. Every
  // unit before the NUL is taken as it is, unpaired surrogates included.
  const auto* units = static_cast<const char16_t*>(lock.data());
  const std::size_t capacity = bytes / sizeof(char16_t);
  std::size_t length = 0;
  while (length < capacity && units[length] != u'\0') ++length;
  return Text(units, length);
}

// The swap's check, with the clipboard open: a write goes on only over the
// clipboard GetText read, or the run's own Clear left. A copy another
// program made since is the user's newer text and stays; one that offers
// the text that was read (a program taking the clipboard again with what it
// just gave) is none, and the write goes on against it.
void Win32ClipboardText::CheckUnchanged() {
  if (!sequence_) return;  // nothing read, so nothing to keep
  const DWORD now = GetClipboardSequenceNumber();
  if (now == *sequence_) return;
  left_empty_ = false;  // whatever it holds now, the run did not empty it
  // With no text read there is none to match: a change then is a copy of
  // something else (an image) that the write would replace.
  if (read_.empty() || ReadText() != read_) {
    throw Failure(status::kAccessDenied,
                  "the clipboard changed while the text was laid out; "
                  "nothing was written");
  }
  sequence_ = now;
}

Win32ClipboardText::Text Win32ClipboardText::GetText() {
  return AsOperation(Operation::kGetText, [&] {
    OpenClipboardAccess clipboard(Window());
    read_ = ReadText();
    // Taken while the clipboard is still open, so no change falls between
    // what was read and the number the writes check.
    sequence_ = GetClipboardSequenceNumber();
    clipboard.Close();
    return read_;
  });
}

void Win32ClipboardText::Clear() {
  AsOperation(Operation::kClear, [&] {
    OpenClipboardAccess clipboard(Window());
    CheckUnchanged();
    if (!EmptyClipboard()) {
      ThrowLastError("the clipboard could not be emptied");
    }
    left_empty_ = true;
    sequence_ = GetClipboardSequenceNumber();
    clipboard.Close();
  });
}

void Win32ClipboardText::SetText(Text text) {
  AsOperation(Operation::kSetText, [&] { Write(text); });
}

void Win32ClipboardText::Write(TextView text) {
  // The copy is made before the clipboard is opened, so the clipboard is
  // held only for the moment it takes to hand the memory over.
  if (text.size() >= static_cast<SIZE_T>(-1) / sizeof(char16_t)) {
    SetLastError(ERROR_ARITHMETIC_OVERFLOW);
    ThrowLastError("the text is too long for the clipboard");
  }
  const SIZE_T bytes = (text.size() + 1) * sizeof(char16_t);
  GlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, bytes));
  if (memory.get() == nullptr) {
    ThrowLastError("not enough memory for the text");
  }
  {
    const GlobalLockAccess lock(memory.get());
    auto* units = static_cast<char16_t*>(lock.data());
    if (!text.empty()) {
      std::memcpy(units, text.data(), text.size() * sizeof(char16_t));
    }
    units[text.size()] = u'\0';
  }

  OpenClipboardAccess clipboard(Window());
  CheckUnchanged();
  // Emptying drops any other format and makes the run's window the owner,
  // which it has to be to place data; after the run's Clear, or over the
  // clipboard that was read, nothing is lost by it.
  if (!EmptyClipboard()) {
    ThrowLastError("the clipboard could not be emptied");
  }
  left_empty_ = true;
  if (sequence_) sequence_ = GetClipboardSequenceNumber();
  if (SetClipboardData(CF_UNICODETEXT, memory.get()) == nullptr) {
    ThrowLastError("the clipboard did not take the text");
  }
  memory.Abandon();  // The clipboard owns and frees it from now on.
  left_empty_ = false;
  clipboard.Close();
}

}  // namespace quillmore
