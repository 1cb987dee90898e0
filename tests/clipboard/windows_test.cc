// quillmore.exe under Wine, against Wine's real clipboard. No standard
// clipboard tool exists there, so the other program on the desktop is this
// test itself, with plain Win32 calls that share nothing with the backend.
// The table's scenarios run through the adapter below; after it come the
// cases only Windows has: a clipboard held open, the message box, 8-bit text.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "base/error.h"
#include "clipboard/win32_clipboard_text.h"
#include "tests/clipboard/scenarios.h"

namespace quillmore_test {
namespace {

// WTF-8 both ways, so that a test can write lone surrogates.
std::u16string Units(const std::string& s) {
  std::u16string out;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char b = s[i];
    const int n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t c = n == 1 ? b : b & (0x3F >> (n - 1));
    for (int k = 1; k < n; ++k) c = (c << 6) | (s[i + k] & 0x3F);
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

// Empties the clipboard and places data; a test may wait for a clipboard
// that is briefly busy, where quillmore must not.
void Place(UINT format, HANDLE data) {
  for (int i = 0; !OpenClipboard(nullptr); ++i) {
    if (i == 500) throw std::runtime_error("the clipboard stays open");
    Sleep(10);
  }
  EmptyClipboard();
  if (data != nullptr) SetClipboardData(format, data);
  CloseClipboard();
}

HGLOBAL Global(const void* data, std::size_t bytes) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  std::memcpy(GlobalLock(memory), data, bytes);
  GlobalUnlock(memory);
  return memory;
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

struct Box {
  std::string title, text;
  bool icon = false;
};

// Reads the visible message boxes of a process and answers each with OK.
std::vector<Box> AnswerBoxes(DWORD process) {
  std::vector<HWND> windows;
  std::vector<Box> boxes;
  EnumWindows(&Collect, reinterpret_cast<LPARAM>(&windows));
  for (HWND window : windows) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t kind[16] = {};
    GetClassNameW(window, kind, 16);
    if (owner != process || !IsWindowVisible(window) ||
        std::wcscmp(kind, L"#32770") != 0) {
      continue;
    }
    Box box{TextOf(window), {}, false};
    std::vector<HWND> children;
    EnumChildWindows(window, &Collect, reinterpret_cast<LPARAM>(&children));
    for (HWND child : children) {
      GetClassNameW(child, kind, 16);
      if (std::wcscmp(kind, L"Static") != 0) continue;
      if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        box.icon = SendMessageW(child, STM_GETICON, 0, 0) != 0;
      } else if (!TextOf(child).empty()) {
        box.text = TextOf(child);
      }
    }
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    boxes.push_back(box);
  }
  return boxes;
}

class WindowsDesktop : public Desktop {
 public:
  WindowsDesktop() : Desktop("CF_UNICODETEXT", "CF_BITMAP", "\r\n") {
    Place(0, nullptr);
  }
  void Copy(const std::string& bytes, const std::string& type) override {
    const WORD rows[8] = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};
    const std::u16string text = Units(bytes);
    if (type == image_type) {
      Place(CF_BITMAP, CreateBitmap(8, 8, 1, 1, rows));
    } else {
      Place(CF_UNICODETEXT, Global(text.c_str(), (text.size() + 1) * 2));
    }
  }
  std::optional<std::string> Paste() override {
    std::optional<std::string> text;
    if (!OpenClipboard(nullptr)) return "(the clipboard is held open)";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
      text = Bytes(static_cast<const char16_t*>(GlobalLock(data)));
      GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
  }
  std::vector<std::string> Types() override {
    std::vector<std::string> types;
    OpenClipboard(nullptr);
    for (UINT f = EnumClipboardFormats(0); f; f = EnumClipboardFormats(f)) {
      types.push_back(f == CF_UNICODETEXT ? text_type
                      : f == CF_BITMAP    ? image_type
                                          : std::to_string(f));
    }
    CloseClipboard();
    return types;
  }
  // Starts quillmore.exe, found beside this program, and answers its boxes.
  using Desktop::Run;
  Outcome Run(const std::vector<std::string>& arguments) override {
    wchar_t path[MAX_PATH];
    std::wstring exe(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    exe = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"quillmore.exe";
    std::wstring line = L"\"" + exe + L"\"";
    for (const std::string& a : arguments)
      line += L" " + std::wstring(a.begin(), a.end());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &process)) {
      throw std::runtime_error("cannot start quillmore.exe");
    }
    boxes_.clear();
    Outcome outcome;
    for (int waited = 0; waited < 60000 && outcome.status < 0; waited += 20) {
      for (const Box& box : AnswerBoxes(process.dwProcessId)) {
        boxes_.push_back(box);
        outcome.said += box.text;
      }
      DWORD code = 0;
      if (WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0 &&
          GetExitCodeProcess(process.hProcess, &code)) {
        outcome.status = static_cast<int>(code);
      }
    }
    if (outcome.status < 0) TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return outcome;
  }
  void PauseOwner(bool) override {}  // the system keeps what was copied
  int Servers() override { return -1; }

  std::vector<Box> boxes_;
};

QUILLMORE_DESKTOP_SCENARIOS(Windows, kWindows,
                            std::make_unique<WindowsDesktop>());

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

TEST(WindowsOnly, AClipboardHeldOpenFailsEachStepAndEachStepGivesItBack) {
  WindowsDesktop d;
  d.Copy("select a, b from t", {});
  Outcome run;
  {
    Holder holder;
    ASSERT_EQ(holder.opened_, 1);
    run = d.Run();
    quillmore::Win32ClipboardText clipboard;
    for (const char* step : {"Clear", "SetText"}) {
      try {
        *step == 'C' ? clipboard.Clear() : clipboard.SetText(u"new");
        ADD_FAILURE() << step << " succeeded while the clipboard was held";
      } catch (const quillmore::Error& error) {
        EXPECT_EQ(error.code(), quillmore::StatusCode(0x80070005u));
        EXPECT_STREQ(quillmore::OperationName(error.operation()), step);
      }
    }
  }
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.said,
            "quillmore: cannot read the clipboard: another program has the "
            "clipboard open (GetText, status 0x80070005)");
  ASSERT_EQ(d.boxes_.size(), 1u) << "one message box reports the failure";
  EXPECT_EQ(d.boxes_[0].title, "quillmore");
  EXPECT_TRUE(d.boxes_[0].icon);
  EXPECT_EQ(d.Paste(), "select a, b from t");
  // Let go, the clipboard is the backend's again, 8-bit text included, and
  // each step gives it back.
  Place(CF_TEXT, Global("select a, b from t", 19));
  quillmore::Win32ClipboardText clipboard;
  EXPECT_EQ(clipboard.GetText(), u"select a, b from t");
  EXPECT_EQ(Holder().opened_, 1);
  clipboard.Clear();
  EXPECT_EQ(Holder().opened_, 1);
  clipboard.SetText(u"x");
  EXPECT_EQ(Holder().opened_, 1);
  EXPECT_EQ(d.Paste(), "x");
}

}  // namespace
}  // namespace quillmore_test
