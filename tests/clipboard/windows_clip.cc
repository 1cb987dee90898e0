// windows_clip: the clipboard tool of the Windows desktop scenarios. Wine has
// no standard command-line clipboard tool, so this one copies, pastes and
// lists formats with plain Win32 calls that share nothing with quillmore's
// backend, and runs quillmore.exe, answering its message boxes. Only
// `run --hold` drives the backend itself, on purpose: while the clipboard is
// held open it checks that each write step fails, and afterwards that each
// step gives the clipboard back.
//
//   windows_clip copy FILE | copy-ansi FILE | copy-image | paste | types
//   windows_clip run [--hold] [ARG...]
//
// Texts are WTF-8 both ways, so that lone surrogates can be written and read.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <thread>
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

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "windows_clip: %s\n", why.c_str());
  std::exit(3);
}

// A test may wait for a clipboard that is briefly busy, where quillmore must
// not; 5 seconds at the most.
void Open() {
  for (int i = 0; !OpenClipboard(nullptr); ++i) {
    if (i == 500) Fail("the clipboard stays open");
    Sleep(10);
  }
}

// Empties the clipboard and places data.
void Place(UINT format, HANDLE data) {
  Open();
  EmptyClipboard();
  const bool placed = SetClipboardData(format, data) != nullptr;
  CloseClipboard();
  if (!placed) Fail("the clipboard did not take the data");
}

HGLOBAL Global(const void* data, std::size_t bytes) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  std::memcpy(GlobalLock(memory), data, bytes);
  GlobalUnlock(memory);
  return memory;
}

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(std::string("cannot read ") + path);
  return {std::istreambuf_iterator<char>(in), {}};
}

BOOL CALLBACK Collect(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

// WM_GETTEXT is carried across processes, unlike GetWindowText.
std::string TextOf(HWND window) {
  wchar_t text[1024] = {};
  SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
  return Bytes(reinterpret_cast<const char16_t*>(text));
}

// Prints the text of each message box of the process not seen before, and a
// line for a box without quillmore's title or an icon; answers it with OK.
void AnswerBoxes(DWORD process, std::set<HWND>& answered) {
  std::vector<HWND> windows;
  EnumWindows(&Collect, reinterpret_cast<LPARAM>(&windows));
  for (HWND window : windows) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t kind[16] = {};
    GetClassNameW(window, kind, 16);
    if (owner != process || !IsWindowVisible(window) ||
        std::wcscmp(kind, L"#32770") != 0 || !answered.insert(window).second) {
      continue;
    }
    std::string text;
    bool icon = false;
    std::vector<HWND> children;
    EnumChildWindows(window, &Collect, reinterpret_cast<LPARAM>(&children));
    for (HWND child : children) {
      GetClassNameW(child, kind, 16);
      if (std::wcscmp(kind, L"Static") != 0) continue;
      if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        icon = SendMessageW(child, STM_GETICON, 0, 0) != 0;
      } else if (!TextOf(child).empty()) {
        text = TextOf(child);
      }
    }
    const std::string title = TextOf(window);
    Print(text + "\n");
    if (title != "quillmore" || !icon) {
      Print("box titled '" + title + "' with" + (icon ? "" : "out") +
            " an icon\n");
    }
    PostMessageW(window, WM_COMMAND, IDOK, 0);
  }
}

// Holds the clipboard open for a window of its own, as an application does
// while it works with it, until destroyed.
class Holder {
 public:
  Holder() {
    thread_ = std::thread([this] {
      HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0,
                                    HWND_MESSAGE, nullptr, nullptr, nullptr);
      opened_ = OpenClipboard(window) ? 1 : -1;
      while (!release_) Sleep(5);
      CloseClipboard();
      DestroyWindow(window);
    });
    while (opened_ == 0) Sleep(5);
  }
  ~Holder() {
    release_ = true;
    thread_.join();
  }
  std::atomic<int> opened_{0};

 private:
  std::atomic<bool> release_{false};
  std::thread thread_;
};

// Runs one step of the backend; prints how it failed, if it did.
bool Failed(const char* step, const std::function<void()>& call) {
  try {
    call();
    return false;
  } catch (const quillmore::Error& error) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX",
                  static_cast<unsigned long>(error.code()));
    Print(std::string(step) + " failed: " +
          quillmore::OperationName(error.operation()) + " " + code + "\n");
    return true;
  }
}

int Run(std::vector<std::string> arguments) {
  std::optional<Holder> holder;
  if (!arguments.empty() && arguments[0] == "--hold") {
    arguments.erase(arguments.begin());
    if (holder.emplace().opened_ != 1) Fail("cannot hold the clipboard open");
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
  if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &startup, &process)) {
    Fail("cannot start quillmore.exe");
  }
  std::set<HWND> answered;
  DWORD status = 99;
  const ULONGLONG deadline = GetTickCount64() + 60000;
  for (;;) {
    if (GetTickCount64() >= deadline) {
      TerminateProcess(process.hProcess, 99);
      Print("did not end\n");
      break;
    }
    AnswerBoxes(process.dwProcessId, answered);
    if (WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0) {
      GetExitCodeProcess(process.hProcess, &status);
      break;
    }
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  if (holder) {
    quillmore::Win32ClipboardText clipboard;
    if (!Failed("Clear", [&] { clipboard.Clear(); })) {
      Print("Clear succeeded while held\n");
    }
    if (!Failed("SetText", [&] { clipboard.SetText(u"new"); })) {
      Print("SetText succeeded while held\n");
    }
    holder.reset();
    const std::pair<const char*, std::function<void()>> steps[] = {
        {"GetText", [&] { clipboard.GetText(); }},
        {"Clear", [&] { clipboard.Clear(); }},
        {"SetText", [&] { clipboard.SetText(u"x"); }}};
    for (const auto& [step, call] : steps) {
      Failed(step, call);
      const bool back = OpenClipboard(nullptr) && CloseClipboard();
      Print(std::string(step) + (back ? " gave it back\n" : " kept it\n"));
    }
  }
  return static_cast<int>(status);
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "copy" && argc == 3) {
    const std::u16string text = Units(ReadFile(argv[2]));
    Place(CF_UNICODETEXT, Global(text.c_str(), (text.size() + 1) * 2));
  } else if (command == "copy-ansi" && argc == 3) {
    const std::string text = ReadFile(argv[2]);
    Place(CF_TEXT, Global(text.c_str(), text.size() + 1));
  } else if (command == "copy-image" && argc == 2) {
    const WORD rows[8] = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};
    Place(CF_BITMAP, CreateBitmap(8, 8, 1, 1, rows));
  } else if (command == "paste" && argc == 2) {
    Open();
    std::optional<std::u16string> text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
      if (const void* units = GlobalLock(data)) {
        text.emplace(static_cast<const char16_t*>(units), GlobalSize(data) / 2);
        text->resize(std::min(text->size(), text->find(u'\0')));
        GlobalUnlock(data);
      }
    }
    CloseClipboard();
    if (!text) return 1;
    Print(Bytes(*text));
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
        "usage: windows_clip copy FILE | copy-ansi FILE | copy-image | paste "
        "| types | run [--hold] [ARG...]\n",
        stderr);
    return 2;
  }
  return 0;
}
