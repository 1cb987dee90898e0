// The other program on Wine's clipboard, which has no command-line tool, in
// plain Win32 calls; texts are UTF-16LE as they are, lone surrogates too.
//
//   windows_clip clear | copy FILE | copy-ansi FILE | copy-image | paste |
//                types | promise FILE [MS] |
//                run [--hold | --copy-at N FILE] [ARG...]
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>

#include "base/error.h"
#include "clipboard/win32_clipboard_text.h"

namespace {

void Print(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }

[[noreturn]] void Fail(const char* why) {
  std::fprintf(stderr, "windows_clip: %s\n", why);
  std::exit(3);
}

HWND MessageWindow() {
  return CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                         nullptr, nullptr, nullptr);
}

// Waits up to 5 s for a briefly busy clipboard (quillmore must not wait).
void Open(HWND window = nullptr) {
  for (int i = 0; !OpenClipboard(window); ++i) {
    if (i == 500) Fail("the clipboard stays open");
    Sleep(10);
  }
}

// Empties the clipboard and places data (none: rendered when asked), if any.
void Place(UINT format, HANDLE data, HWND window = nullptr) {
  Open(window);
  EmptyClipboard();
  const bool placed = !format || SetClipboardData(format, data) || !data;
  CloseClipboard();
  if (!placed) Fail("the clipboard did not take the data");
}

HGLOBAL Memory(const std::string& bytes) {  // and a NUL, of either width
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes.size() + 2);
  std::memcpy(GlobalLock(memory), bytes.data(), bytes.size());
  GlobalUnlock(memory);
  return memory;
}

std::string Read(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot read the file");
  return {std::istreambuf_iterator<char>(in), {}};
}

void Copy(const char* path, bool ansi = false) {
  Place(ansi ? CF_TEXT : CF_UNICODETEXT, Memory(Read(path)));
}

std::string promised;
DWORD promise_delay = 0;

LRESULT CALLBACK Promising(HWND window, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_NULL || m == WM_RENDERFORMAT) Sleep(promise_delay);
  if (m == WM_RENDERFORMAT) SetClipboardData(CF_UNICODETEXT, Memory(promised));
  if (m == WM_DESTROYCLIPBOARD) PostQuitMessage(0);
  return DefWindowProcW(window, m, w, l);
}

// An application that renders its text only when asked, MS ms late; it
// prints "ready" once it owns the clipboard, and ends once it is emptied.
void Promise(const char* path, DWORD delay) {
  promised = Read(path);
  promise_delay = delay;
  HWND window = MessageWindow();
  SetWindowLongPtrW(window, GWLP_WNDPROC,
                    reinterpret_cast<LONG_PTR>(Promising));
  Place(CF_UNICODETEXT, nullptr, window);
  Print("ready\n");
  std::fflush(stdout);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
}

// WM_GETTEXT is carried across processes, unlike GetWindowText.
std::string TextOf(HWND window) {
  wchar_t text[1024] = {};
  char bytes[4096] = {};
  SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
  WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr,
                      nullptr);
  return bytes;
}

// Prints the text of each box of the thread not seen before, and a line
// more for one without quillmore's title or an icon, and answers it OK.
void AnswerBoxes(DWORD thread) {
  static std::set<HWND> answered;
  for (HWND box = nullptr;
       (box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr;) {
    if (GetWindowThreadProcessId(box, nullptr) != thread ||
        !IsWindowVisible(box) || !answered.insert(box).second) {
      continue;
    }
    std::string text;
    bool icon = false;
    for (HWND part = nullptr;
         (part = FindWindowExW(box, part, L"Static", nullptr)) != nullptr;) {
      icon |= SendMessageW(part, STM_GETICON, 0, 0) != 0;
      if (!TextOf(part).empty()) text = TextOf(part);
    }
    Print(text + "\n");
    if (TextOf(box) != "quillmore" || !icon) Print("not quillmore's box\n");
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
}

// --copy-at N FILE: as quillmore's debugger, copies FILE just before its
// Nth OpenClipboard (one a step), where no timing could put it. The
// breakpoint on OpenClipboard's first byte is at one address in both
// processes (a system library is mapped alike in all), set when the loader
// has mapped them, and again by one step after each earlier hit.
int copy_at = 0, opens = 0;
const char* copy_file = nullptr;

void Poke(HANDLE process, BYTE* at, BYTE value) {
  WriteProcessMemory(process, at, &value, 1, nullptr);
}

// Handles the debug event that comes within 20 ms, if one does; false once
// quillmore has ended.
bool Debug(HANDLE process) {
  auto* const target = reinterpret_cast<BYTE*>(
      GetProcAddress(GetModuleHandleW(L"user32"), "OpenClipboard"));
  DEBUG_EVENT event;
  if (!WaitForDebugEvent(&event, 20)) return true;
  DWORD reply = DBG_CONTINUE;
  const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
  if (event.dwDebugEventCode != EXCEPTION_DEBUG_EVENT) {
  } else if (record.ExceptionAddress == target) {
    Poke(process, target, *target);
    HANDLE thread = OpenThread(THREAD_ALL_ACCESS, FALSE, event.dwThreadId);
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    GetThreadContext(thread, &context);
#ifdef _WIN64
    context.Rip -= 1;  // runs the restored instruction
#else
    context.Eip -= 1;
#endif
    if (++opens < copy_at) context.EFlags |= 0x100;  // one step
    SetThreadContext(thread, &context);
    CloseHandle(thread);
    if (opens == copy_at) {
      // Wine lets an opener without a window place data, where Windows may
      // not: the owner then shows whether quillmore opened with one.
      DWORD owner = 0;
      GetWindowThreadProcessId(GetClipboardOwner(), &owner);
      std::fprintf(stderr, "owner: %s\n",
                   owner == GetProcessId(process) ? "quillmore" : "other");
      Copy(copy_file);
    }
  } else if (record.ExceptionCode == EXCEPTION_SINGLE_STEP ||
             record.ExceptionCode == EXCEPTION_BREAKPOINT) {  // the loader's
    Poke(process, target, 0xCC);
  } else {
    reply = DBG_EXCEPTION_NOT_HANDLED;  // quillmore's own
  }
  ContinueDebugEvent(event.dwProcessId, event.dwThreadId, reply);
  return event.dwDebugEventCode != EXIT_PROCESS_DEBUG_EVENT;
}

const char* const kSteps[] = {"GetText", "Clear", "SetText"};

// Step i of the backend, on a clipboard of its own; prints how it failed.
void Step(int i) {
  quillmore::Win32ClipboardText clipboard;
  try {
    if (i == 0) clipboard.GetText();
    if (i == 1) clipboard.Clear();
    if (i == 2) clipboard.SetText(u"x");
  } catch (const quillmore::Error& error) {
    std::printf("%s failed: %s 0x%08lX\n", kSteps[i],
                quillmore::OperationName(error.operation()),
                static_cast<unsigned long>(error.code()));
  }
}

// Runs quillmore.exe, prints and answers its message boxes, and returns its
// status. --hold holds the clipboard open meanwhile with a window of its own
// (Wine tells openers apart by their window), then drives the backend
// itself: each write step must fail while held, and each step give it back.
int Run(char** arg, char** end) {
  HWND window = MessageWindow();
  const bool hold = arg < end && std::string_view(*arg) == "--hold";
  if (hold && !OpenClipboard(window)) Fail("cannot hold the clipboard open");
  if (end - (arg += hold) >= 3 && std::string_view(*arg) == "--copy-at") {
    copy_at = std::atoi(arg[1]);
    copy_file = arg[2];
    arg += 3;
  }
  std::wstring line = L"quillmore.exe";  // found beside this program first
  for (; arg < end; ++arg) line.append(L" ").append(*arg, *arg + strlen(*arg));
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE,
                      copy_at ? DEBUG_ONLY_THIS_PROCESS : 0, nullptr, nullptr,
                      &startup, &process)) {
    Fail("cannot start quillmore.exe");
  }
  const ULONGLONG deadline = GetTickCount64() + 60000;
  do {
    AnswerBoxes(process.dwThreadId);
  } while ((copy_at
                ? Debug(process.hProcess)
                : WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT) &&
           GetTickCount64() < deadline);
  DWORD status = 99;
  if (WaitForSingleObject(process.hProcess, 5000) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.hProcess, &status)) {
    TerminateProcess(process.hProcess, status = 99);  // it did not end
  }
  if (hold) {
    for (int i = 1; i < 3; ++i) Step(i);  // each fails while held
    CloseClipboard();
    for (int i = 0; i < 3; ++i) {
      Step(i);
      const bool back = OpenClipboard(window) && CloseClipboard();
      std::printf("%s %s\n", kSteps[i], back ? "gave it back" : "kept it");
    }
  }
  return static_cast<int>(status);
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  const std::string command = argc > 1 ? argv[1] : "";
  const char* const file = argc > 2 ? argv[2] : nullptr;
  if (command == "run") return Run(argv + 2, argv + argc);
  if ((command == "copy" || command == "copy-ansi") && file) {
    Copy(file, command == "copy-ansi");
  } else if (command == "promise" && file) {
    Promise(file, argc > 3 ? std::atoi(argv[3]) : 0);
  } else if (command == "clear") {
    Place(0, nullptr);
  } else if (command == "copy-image") {
    const WORD rows[8] = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};
    Place(CF_BITMAP, CreateBitmap(8, 8, 1, 1, rows));
  } else if (command == "paste") {
    Open();
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const auto* units = static_cast<const char16_t*>(GlobalLock(data));
    std::size_t size = 0;
    while (units && size < GlobalSize(data) / 2 && units[size]) ++size;
    if (units) std::fwrite(units, 2, size, stdout);
    GlobalUnlock(data);
    CloseClipboard();
    return units ? 0 : 1;
  } else if (command == "types") {
    Open();
    for (UINT f = EnumClipboardFormats(0); f; f = EnumClipboardFormats(f)) {
      Print(f == CF_UNICODETEXT ? "CF_UNICODETEXT\n"
            : f == CF_BITMAP    ? "CF_BITMAP\n"
                                : std::to_string(f) + "\n");
    }
    CloseClipboard();
  } else {
    Fail("usage: see the opening comment of windows_clip.cc");
  }
  return 0;
}
