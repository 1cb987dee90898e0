// The Windows desktop scenarios' clipboard tool: Wine has no standard
// command-line one. It copies, pastes and lists formats with plain Win32
// calls that share nothing with quillmore's backend, and runs quillmore.exe,
// answering its message boxes. Only `run --hold` drives the backend itself,
// on purpose: with the clipboard held open each write step must fail, and
// once let go each step must give the clipboard back.
//
//   windows_clip clear | copy FILE | copy-ansi FILE | copy-image | paste |
//                types | promise FILE [MS]
//   windows_clip run [--hold | --copy-at N FILE] [ARG...]
//
// promise plays an application that renders its text only when asked
// (delayed rendering), answering each message MS ms late; it says "ready"
// once it owns the clipboard, and ends when another program empties it.
// Texts are WTF-8 both ways, so that lone surrogates can be written and read.
// run prints each message box's text, a line a box, then with --hold how
// each step went; its status is quillmore's. With --copy-at it runs
// quillmore as its debugger and copies FILE just before quillmore's Nth
// OpenClipboard: each step of a run opens the clipboard once (GetText,
// Clear, SetText), so the copy lands between two of them every time, where
// no timing could put it; it says on stderr whose the clipboard was then.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/error.h"
#include "clipboard/win32_clipboard_text.h"

namespace {

std::u16string Units(const std::string& s) {
  std::u16string out;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char b = s[i];
    const int n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t c = n == 1 ? b : b & (0x3F >> (n - 1));
    for (int k = 1; k < n && i + k < s.size(); ++k) {
      c = (c << 6) | (s[i + k] & 0x3F);
    }
    i += n;
    if (c >= 0x10000) out += static_cast<char16_t>(0xD7C0 + (c >> 10));
    out += static_cast<char16_t>(c < 0x10000 ? c : 0xDC00 | (c & 0x3FF));
  }
  return out;
}

std::string Bytes(const std::u16string& units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() &&
        units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    }
    const int n = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    out += static_cast<char>(n == 1 ? c : (0xF00 >> n) | (c >> (6 * n - 6)));
    for (int k = n - 2; k >= 0; --k) {
      out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
    }
  }
  return out;
}

void Print(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }

[[noreturn]] void Fail(const char* why) {
  std::fprintf(stderr, "windows_clip: %s\n", why);
  std::exit(3);
}

// Waits up to 5 s for a clipboard that is briefly busy, where quillmore must
// not wait at all.
void Open(HWND window = nullptr) {
  for (int i = 0; !OpenClipboard(window); ++i) {
    if (i == 500) Fail("the clipboard stays open");
    Sleep(10);
  }
}

void Place(UINT format, HANDLE data) {
  Open();
  EmptyClipboard();
  const bool placed = !data || SetClipboardData(format, data) != nullptr;
  CloseClipboard();
  if (!placed) Fail("the clipboard did not take the data");
}

HGLOBAL Memory(const void* data, std::size_t size) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
  std::memcpy(GlobalLock(memory), data, size);
  GlobalUnlock(memory);
  return memory;
}

std::string Read(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot read the file");
  return {std::istreambuf_iterator<char>(in), {}};
}

void Copy(const char* path, bool ansi = false) {
  const std::string bytes = Read(path);
  const std::u16string units = Units(bytes);
  if (ansi) {
    Place(CF_TEXT, Memory(bytes.c_str(), bytes.size() + 1));
  } else {
    Place(CF_UNICODETEXT, Memory(units.c_str(), (units.size() + 1) * 2));
  }
}

std::u16string promised;
DWORD promise_delay = 0;

LRESULT CALLBACK Promising(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NULL || message == WM_RENDERFORMAT) Sleep(promise_delay);
  if (message == WM_RENDERFORMAT) {
    SetClipboardData(CF_UNICODETEXT,
                     Memory(promised.c_str(), (promised.size() + 1) * 2));
  }
  if (message == WM_DESTROYCLIPBOARD || message == WM_TIMER) PostQuitMessage(0);
  return DefWindowProcW(window, message, w, l);
}

int Promise(const char* path, DWORD delay) {
  promised = Units(Read(path));
  promise_delay = delay;
  WNDCLASSW type = {};
  type.lpfnWndProc = Promising;
  type.lpszClassName = L"promise";
  RegisterClassW(&type);
  HWND window = CreateWindowExW(0, L"promise", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, nullptr, nullptr);
  Open(window);
  EmptyClipboard();
  SetClipboardData(CF_UNICODETEXT, nullptr);
  CloseClipboard();
  Print("ready\n");
  std::fflush(stdout);
  SetTimer(window, 1, 60000, nullptr);  // a bound, should nobody copy
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}

// The clipboard's text, none when it holds no text.
std::optional<std::string> Paste() {
  Open();
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  const auto* units = static_cast<const char16_t*>(GlobalLock(data));
  std::u16string text(units ? units : u"", units ? GlobalSize(data) / 2 : 0);
  if (units) GlobalUnlock(data);
  CloseClipboard();
  if (!units) return std::nullopt;
  return Bytes(text.substr(0, text.find(u'\0')));
}

// WM_GETTEXT is carried across processes, unlike GetWindowText.
std::string TextOf(HWND window) {
  wchar_t text[1024] = {};
  SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
  return Bytes(reinterpret_cast<const char16_t*>(text));
}

// Prints the text of each message box of the thread not seen before (and a
// line for a box without quillmore's title or an icon), and answers it OK.
void AnswerBoxes(DWORD thread, std::set<HWND>& answered) {
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
      if ((GetWindowLongW(part, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        icon = SendMessageW(part, STM_GETICON, 0, 0) != 0;
      } else if (!TextOf(part).empty()) {
        text = TextOf(part);
      }
    }
    const std::string title = TextOf(box);
    Print(text + "\n");
    if (title != "quillmore" || !icon) {
      Print("box titled '" + title + "' with" + (icon ? "" : "out") +
            " an icon\n");
    }
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
}

// quillmore, as a debuggee, is stopped at its Nth OpenClipboard while FILE
// is copied. The breakpoint sits at OpenClipboard's first byte, at one
// address in both processes (a system library is mapped at one address in
// all of them), and is set again after each earlier hit by one step.
struct CopyAt {
  int open = 0, opens = 0;  // N (none at 0), and the opens so far
  std::string file;
  BYTE* armed = nullptr;
  BYTE saved = 0;
};

void Poke(HANDLE process, BYTE* at, BYTE value) {
  WriteProcessMemory(process, at, &value, 1, nullptr);
  FlushInstructionCache(process, at, 1);
}

// Handles the debug event that comes within 20 ms, if one does; false once
// quillmore has ended.
bool Debug(HANDLE process, CopyAt& at) {
  auto* const target = reinterpret_cast<BYTE*>(
      GetProcAddress(GetModuleHandleW(L"user32"), "OpenClipboard"));
  DEBUG_EVENT event;
  if (!WaitForDebugEvent(&event, 20)) return true;
  DWORD reply = DBG_CONTINUE;
  if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
    CloseHandle(event.u.LoadDll.hFile);
  }
  if (!at.armed && ReadProcessMemory(process, target, &at.saved, 1, nullptr) &&
      at.saved == *target) {  // user32 is loaded
    Poke(process, at.armed = target, 0xCC);
  }
  const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
  if (event.dwDebugEventCode != EXCEPTION_DEBUG_EVENT) {
  } else if (record.ExceptionAddress == target) {
    Poke(process, target, at.saved);
    HANDLE thread = OpenThread(THREAD_ALL_ACCESS, FALSE, event.dwThreadId);
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    GetThreadContext(thread, &context);
#ifdef _WIN64
    context.Rip -= 1;  // runs the restored instruction
#else
    context.Eip -= 1;
#endif
    if (++at.opens < at.open) context.EFlags |= 0x100;  // one step
    SetThreadContext(thread, &context);
    CloseHandle(thread);
    if (at.opens == at.open) {
      // Whose the clipboard is then: Wine lets an opener without a window
      // place data, where Windows may not, so this is where it shows.
      DWORD owner = 0;
      GetWindowThreadProcessId(GetClipboardOwner(), &owner);
      std::fprintf(stderr, "owner: %s\n",
                   owner == GetProcessId(process) ? "quillmore" : "other");
      Copy(at.file.c_str());
    }
  } else if (record.ExceptionCode == EXCEPTION_SINGLE_STEP) {
    Poke(process, target, 0xCC);
  } else if (record.ExceptionCode != EXCEPTION_BREAKPOINT) {
    reply = DBG_EXCEPTION_NOT_HANDLED;  // quillmore's own
  }
  ContinueDebugEvent(event.dwProcessId, event.dwThreadId, reply);
  return event.dwDebugEventCode != EXIT_PROCESS_DEBUG_EVENT;
}

const char* const kSteps[] = {"GetText", "Clear", "SetText"};

// Runs step i of the backend; says how it failed, if it did.
bool Step(int i, const char16_t* text) {
  quillmore::Win32ClipboardText clipboard;
  try {
    if (i == 0) clipboard.GetText();
    if (i == 1) clipboard.Clear();
    if (i == 2) clipboard.SetText(text);
    return true;
  } catch (const quillmore::Error& error) {
    char code[16];
    std::snprintf(code, sizeof code, " 0x%08lX\n",
                  static_cast<unsigned long>(error.code()));
    Print(std::string(kSteps[i]) +
          " failed: " + quillmore::OperationName(error.operation()) + code);
    return false;
  }
}

int Run(std::vector<std::string> arguments) {
  // A window of its own holds the clipboard open, as an application does
  // while it works with it. Wine tells openers apart by their window: that
  // this window can open the clipboard after a step shows that the step did
  // not leave it open, which a caller without a window could not see.
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, nullptr, nullptr);
  const bool hold = !arguments.empty() && arguments[0] == "--hold";
  const std::optional<std::string> before = hold ? Paste() : std::nullopt;
  if (hold) {
    arguments.erase(arguments.begin());
    if (!OpenClipboard(window)) Fail("cannot hold the clipboard open");
  }
  CopyAt at;
  if (arguments.size() >= 3 && arguments[0] == "--copy-at") {
    at.open = std::atoi(arguments[1].c_str());
    at.file = arguments[2];
    arguments.erase(arguments.begin(), arguments.begin() + 3);
  }
  wchar_t path[MAX_PATH];
  std::wstring exe(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
  exe = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"quillmore.exe";
  std::wstring line = L"\"" + exe + L"\"";
  for (const std::string& a : arguments) {
    line += L" " + std::wstring(a.begin(), a.end());
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE,
                      at.open ? DEBUG_ONLY_THIS_PROCESS : 0, nullptr, nullptr,
                      &startup, &process)) {
    Fail("cannot start quillmore.exe");
  }
  std::set<HWND> answered;
  DWORD status = 99;
  const ULONGLONG deadline = GetTickCount64() + 60000;
  do {
    AnswerBoxes(process.dwThreadId, answered);
  } while ((at.open
                ? Debug(process.hProcess, at)
                : WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT) &&
           GetTickCount64() < deadline);
  WaitForSingleObject(process.hProcess, 5000);
  if (!GetExitCodeProcess(process.hProcess, &status) ||
      status == STILL_ACTIVE) {
    status = 99;
    TerminateProcess(process.hProcess, status);
    Print("did not end\n");
  }
  if (hold) {
    for (int i = 1; i < 3; ++i) {
      if (Step(i, u"new")) {
        Print(kSteps[i] + std::string(" succeeded while held\n"));
      }
    }
    CloseClipboard();
    if (Paste() != before) Print("the clipboard changed while held\n");
    for (int i = 0; i < 3; ++i) {
      Step(i, u"x");
      const bool back = OpenClipboard(window) && CloseClipboard();
      Print(kSteps[i] + std::string(back ? " gave it back\n" : " kept it\n"));
    }
  }
  return static_cast<int>(status);
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  const std::string command = argc > 1 ? argv[1] : "";
  if ((command == "copy" || command == "copy-ansi") && argc == 3) {
    Copy(argv[2], command == "copy-ansi");
  } else if (command == "promise" && (argc == 3 || argc == 4)) {
    return Promise(argv[2], argc == 4 ? std::atoi(argv[3]) : 0);
  } else if (command == "clear" && argc == 2) {
    Place(0, nullptr);
  } else if (command == "copy-image" && argc == 2) {
    const WORD rows[8] = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};
    Place(CF_BITMAP, CreateBitmap(8, 8, 1, 1, rows));
  } else if (command == "paste" && argc == 2) {
    const std::optional<std::string> text = Paste();
    if (!text) return 1;
    Print(*text);
  } else if (command == "types" && argc == 2) {
    Open();
    for (UINT f = EnumClipboardFormats(0); f; f = EnumClipboardFormats(f)) {
      Print(f == CF_UNICODETEXT ? "CF_UNICODETEXT\n"
            : f == CF_BITMAP    ? "CF_BITMAP\n"
                                : std::to_string(f) + "\n");
    }
    CloseClipboard();
  } else if (command == "run") {
    return Run({argv + 2, argv + argc});
  } else {
    std::fputs(
        "usage: windows_clip clear | copy FILE | copy-ansi FILE | copy-image | "
        "paste | types | promise FILE [MS] | "
        "run [--hold | --copy-at N FILE] [ARG...]\n",
        stderr);
    return 2;
  }
  return 0;
}
