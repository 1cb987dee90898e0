#include "tests/clipboard/win32_clipboard_peer.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace quillmore_test {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + " failed, error " +
                           std::to_string(GetLastError()));
}

// Opens the clipboard for the peer, waiting up to five seconds for another
// program (quillmore.exe still closing it, say) to let go.
class PeerOpen {
 public:
  PeerOpen() {
    for (int attempt = 0; !OpenClipboard(nullptr); ++attempt) {
      if (attempt == 500) Fail("OpenClipboard");
      Sleep(10);
    }
  }
  ~PeerOpen() { CloseClipboard(); }
  PeerOpen(const PeerOpen&) = delete;
  PeerOpen& operator=(const PeerOpen&) = delete;
};

HGLOBAL CopyToGlobal(const void* data, std::size_t bytes) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (memory == nullptr) Fail("GlobalAlloc");
  void* at = GlobalLock(memory);
  if (at == nullptr) Fail("GlobalLock");
  std::memcpy(at, data, bytes);
  GlobalUnlock(memory);
  return memory;
}

void EmptyAndPlace(UINT format, HANDLE data) {
  PeerOpen open;
  if (!EmptyClipboard()) Fail("EmptyClipboard");
  if (data != nullptr && SetClipboardData(format, data) == nullptr) {
    Fail("SetClipboardData");
  }
}

}  // namespace

void PeerSetText(const std::u16string& text) {
  std::u16string terminated = text;
  terminated.push_back(u'\0');
  EmptyAndPlace(
      CF_UNICODETEXT,
      CopyToGlobal(terminated.data(), terminated.size() * sizeof(char16_t)));
}

void PeerSetAnsiText(const std::string& text) {
  EmptyAndPlace(CF_TEXT, CopyToGlobal(text.c_str(), text.size() + 1));
}

void PeerSetBitmap() {
  // An 8x8 monochrome checkerboard.
  const WORD rows[8] = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};
  HBITMAP bitmap = CreateBitmap(8, 8, 1, 1, rows);
  if (bitmap == nullptr) Fail("CreateBitmap");
  EmptyAndPlace(CF_BITMAP, bitmap);
}

void PeerEmpty() { EmptyAndPlace(0, nullptr); }

std::optional<std::u16string> PeerGetText() {
  PeerOpen open;
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  if (data == nullptr) return std::nullopt;
  const SIZE_T bytes = GlobalSize(data);
  const auto* units = static_cast<const char16_t*>(GlobalLock(data));
  if (units == nullptr) Fail("GlobalLock");
  std::size_t length = 0;
  while (length < bytes / 2 && units[length] != u'\0') ++length;
  std::u16string text(units, length);
  GlobalUnlock(data);
  return text;
}

std::vector<UINT> PeerFormats() {
  PeerOpen open;
  std::vector<UINT> formats;
  for (UINT format = EnumClipboardFormats(0); format != 0;
       format = EnumClipboardFormats(format)) {
    formats.push_back(format);
  }
  return formats;
}

bool PeerHasFormat(UINT format) {
  for (UINT f : PeerFormats()) {
    if (f == format) return true;
  }
  return false;
}

ClipboardHolder::ClipboardHolder() {
  opened_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (opened_ == nullptr || release_ == nullptr) Fail("CreateEvent");
  thread_ = CreateThread(nullptr, 0, &ClipboardHolder::Hold, this, 0, nullptr);
  if (thread_ == nullptr) Fail("CreateThread");
  const HANDLE either[2] = {opened_, thread_};
  WaitForMultipleObjects(2, either, FALSE, INFINITE);
  if (!ok_) {
    WaitForSingleObject(thread_, INFINITE);
    throw std::runtime_error("the holder could not open the clipboard");
  }
}

ClipboardHolder::~ClipboardHolder() {
  SetEvent(release_);
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  CloseHandle(release_);
  CloseHandle(opened_);
}

DWORD WINAPI ClipboardHolder::Hold(void* self_pointer) {
  auto* self = static_cast<ClipboardHolder*>(self_pointer);
  // A window of the holder's own: the clipboard is then open for that
  // window, and other programs' attempts to open it fail.
  HWND window = CreateWindowExW(0, L"STATIC", L"clipboard holder", 0, 0, 0, 0,
                                0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  if (window == nullptr) return 1;
  self->ok_ = OpenClipboard(window) != FALSE;
  SetEvent(self->opened_);
  if (self->ok_) {
    // Keep answering messages while holding, as a live application would.
    for (;;) {
      const DWORD woke = MsgWaitForMultipleObjects(1, &self->release_, FALSE,
                                                   INFINITE, QS_ALLINPUT);
      if (woke == WAIT_OBJECT_0) break;
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
      }
    }
    CloseClipboard();
  }
  DestroyWindow(window);
  return 0;
}

std::wstring ProgramPath() {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length == MAX_PATH) Fail("GetModuleFileName");
  std::wstring path(self, length);
  path.erase(path.find_last_of(L"\\/") + 1);
  return path + L"quillmore.exe";
}

namespace {

struct WindowSearch {
  DWORD process_id;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM search_pointer) {
  auto* search = reinterpret_cast<WindowSearch*>(search_pointer);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->process_id) search->found.push_back(window);
  return TRUE;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM list_pointer) {
  reinterpret_cast<std::vector<HWND>*>(list_pointer)->push_back(window);
  return TRUE;
}

std::u16string ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return std::u16string(reinterpret_cast<const char16_t*>(name));
}

// WM_GETTEXT is carried across processes, unlike GetWindowText for a
// control of another process.
std::u16string TextOf(HWND window) {
  const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT got = SendMessageW(window, WM_GETTEXT, text.size(),
                                   reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(got));
  return std::u16string(text.begin(), text.end());
}

}  // namespace

ProgramRun::Box AnswerBox(HWND box) {
  ProgramRun::Box seen;
  seen.title = TextOf(box);
  std::vector<HWND> children;
  EnumChildWindows(box, &CollectChild, reinterpret_cast<LPARAM>(&children));
  HWND ok_button = nullptr;
  for (HWND child : children) {
    const std::u16string kind = ClassOf(child);
    if (kind == u"Button") {
      if (GetDlgCtrlID(child) == IDOK) ok_button = child;
    } else if (kind == u"Static") {
      if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        seen.icon =
            reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        seen.has_icon = IsWindowVisible(child) && seen.icon != nullptr;
      } else {
        const std::u16string text = TextOf(child);
        if (!text.empty()) seen.text = text;
      }
    }
  }
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(ok_button));
  return seen;
}

std::vector<HWND> MessageBoxesOf(DWORD process_id) {
  WindowSearch search{process_id, {}};
  EnumWindows(&CollectProcessWindow, reinterpret_cast<LPARAM>(&search));
  std::vector<HWND> boxes;
  for (HWND window : search.found) {
    if (IsWindowVisible(window) && ClassOf(window) == u"#32770") {
      boxes.push_back(window);
    }
  }
  return boxes;
}

ProgramRun RunProgram(const std::wstring& path) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::wstring command_line = L"\"" + path + L"\"";
  if (!CreateProcessW(path.c_str(), command_line.data(), nullptr, nullptr,
                      FALSE, 0, nullptr, nullptr, &startup, &process)) {
    Fail("CreateProcess");
  }
  CloseHandle(process.hThread);

  ProgramRun run;
  std::vector<HWND> answered;
  std::vector<HWND> others;
  const DWORD start = GetTickCount();
  for (;;) {
    // Any window the program opens is looked at while it runs; message
    // boxes are read and answered so the program can end.
    WindowSearch search{process.dwProcessId, {}};
    EnumWindows(&CollectProcessWindow, reinterpret_cast<LPARAM>(&search));
    for (HWND window : search.found) {
      bool known = false;
      for (HWND w : answered) known = known || w == window;
      for (HWND w : others) known = known || w == window;
      if (known || !IsWindowVisible(window)) continue;
      if (ClassOf(window) == u"#32770") {
        run.boxes.push_back(AnswerBox(window));
        answered.push_back(window);
      } else {
        others.push_back(window);
      }
    }
    if (WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0) break;
    if (GetTickCount() - start > 60000) {
      TerminateProcess(process.hProcess, 99);
      CloseHandle(process.hProcess);
      throw std::runtime_error("quillmore.exe did not end within a minute");
    }
  }
  GetExitCodeProcess(process.hProcess, &run.exit_code);
  CloseHandle(process.hProcess);
  run.other_windows = static_cast<int>(others.size());
  return run;
}

}  // namespace quillmore_test
