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

constexpr char kInterface[] = "ClipboardText";

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
[[noreturn]] void ThrowLastError(Operation operation, const char* cause) {
  const StatusCode code = LastErrorStatus();
  throw Error(code, kInterface, operation, cause);
}

// The clipboard, open for one operation: closed by its owner.
struct OpenClipboardTraits {
  using Value = bool;
  static bool Empty() noexcept { return false; }
  static void Release(bool) noexcept { CloseClipboard(); }
};

class OpenClipboardAccess {
 public:
  // Opens the clipboard without an owner window: the program has no window,
  // and none is needed to read, empty or place data. Fails at once when
  // another program has the clipboard open.
  explicit OpenClipboardAccess(Operation operation) : operation_(operation) {
    if (!OpenClipboard(nullptr)) {
      ThrowLastError(operation_, GetLastError() == ERROR_ACCESS_DENIED
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
      ThrowLastError(operation_, "the clipboard could not be closed");
    }
  }

 private:
  Operation operation_;
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
  GlobalLockAccess(HGLOBAL handle, Operation operation)
      : data_(GlobalLock(handle)) {
    if (data_ == nullptr) {
      ThrowLastError(operation, "the text's memory could not be locked");
    }
    lock_.Reset(handle);
  }

  void* data() const noexcept { return data_; }

 private:
  void* data_;
  Handle<GlobalLockTraits> lock_;
};

}  // namespace

Win32ClipboardText::Text Win32ClipboardText::GetText() {
  constexpr Operation kOperation = Operation::kGetText;
  OpenClipboardAccess clipboard(kOperation);
  Text text;
  // CF_UNICODETEXT also covers text placed in the 8-bit formats, which the
  // system converts on request. Anything else (an image, files) is no text.
  if (IsClipboardFormatAvailable(CF_UNICODETEXT)) {
    const HANDLE handle = GetClipboardData(CF_UNICODETEXT);
    if (handle == nullptr) {
      ThrowLastError(kOperation, "the clipboard's text could not be fetched");
    }
    SetLastError(ERROR_SUCCESS);
    const SIZE_T bytes = GlobalSize(handle);
    if (bytes == 0 && GetLastError() != ERROR_SUCCESS) {
      ThrowLastError(kOperation, "the clipboard's text has no readable size");
    }
    const GlobalLockAccess lock(handle, kOperation);
    // The text ends at its first NUL; the block may be larger than the text
    // but never shorter, so the search is bounded by the block's size. Every
    // unit before the NUL is taken as it is, unpaired surrogates included.
    const auto* units = static_cast<const char16_t*>(lock.data());
    const std::size_t capacity = bytes / sizeof(char16_t);
    std::size_t length = 0;
    while (length < capacity && units[length] != u'\0') ++length;
    text.assign(units, length);
  }
  clipboard.Close();
  return text;
}

void Win32ClipboardText::Clear() {
  constexpr Operation kOperation = Operation::kClear;
  OpenClipboardAccess clipboard(kOperation);
  if (!EmptyClipboard()) {
    ThrowLastError(kOperation, "the clipboard could not be emptied");
  }
  left_empty_ = true;
  clipboard.Close();
}

void Win32ClipboardText::SetText(TextView text) {
  constexpr Operation kOperation = Operation::kSetText;
  // The copy is made before the clipboard is opened, so the clipboard is
  // held only for the moment it takes to hand the memory over.
  if (text.size() >= static_cast<SIZE_T>(-1) / sizeof(char16_t)) {
    SetLastError(ERROR_ARITHMETIC_OVERFLOW);
    ThrowLastError(kOperation, "the text is too long for the clipboard");
  }
  const SIZE_T bytes = (text.size() + 1) * sizeof(char16_t);
  GlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, bytes));
  if (memory.get() == nullptr) {
    ThrowLastError(kOperation, "not enough memory for the text");
  }
  {
    const GlobalLockAccess lock(memory.get(), kOperation);
    auto* units = static_cast<char16_t*>(lock.data());
    if (!text.empty()) {
      std::memcpy(units, text.data(), text.size() * sizeof(char16_t));
    }
    units[text.size()] = u'\0';
  }

  OpenClipboardAccess clipboard(kOperation);
  // Emptying makes this program the clipboard's owner, which it has to be to
  // place data; the run has emptied it just before, so nothing is lost here.
  if (!EmptyClipboard()) {
    ThrowLastError(kOperation, "the clipboard could not be emptied");
  }
  if (SetClipboardData(CF_UNICODETEXT, memory.get()) == nullptr) {
    ThrowLastError(kOperation, "the clipboard did not take the text");
  }
  memory.Abandon();  // The clipboard owns and frees it from now on.
  left_empty_ = false;
  clipboard.Close();
}

}  // namespace quillmore
