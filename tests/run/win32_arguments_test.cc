// quillmore.exe refuses any argument: the usage in its failure box, exit
// status 2, and the clipboard (Wine's real one) left as it was. Blanks alone
// are no argument, and such a run lays the text out.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "tests/clipboard/win32_clipboard_peer.h"

namespace {

using quillmore_test::AnswerBox;
using quillmore_test::MessageBoxesOf;
using quillmore_test::PeerGetText;
using quillmore_test::PeerSetText;
using quillmore_test::ProgramPath;
using quillmore_test::ProgramRun;

// Starts quillmore.exe with `arguments` after its name, answers each box it
// shows, and waits for it to end (a minute at most, so a hang fails).
ProgramRun RunWith(const std::wstring& arguments) {
  const std::wstring path = ProgramPath();
  std::wstring command_line = L"\"" + path + L"\"" + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(path.c_str(), command_line.data(), nullptr, nullptr,
                      FALSE, 0, nullptr, nullptr, &startup, &process)) {
    throw std::runtime_error("CreateProcess");
  }
  CloseHandle(process.hThread);
  ProgramRun run;
  std::vector<HWND> answered;
  DWORD ended = WAIT_TIMEOUT;
  for (int i = 0; i < 3000 && ended != WAIT_OBJECT_0; ++i) {
    for (HWND box : MessageBoxesOf(process.dwProcessId)) {
      if (std::find(answered.begin(), answered.end(), box) != answered.end())
        continue;
      run.boxes.push_back(AnswerBox(box));
      answered.push_back(box);
    }
    ended = WaitForSingleObject(process.hProcess, 20);
  }
  if (ended != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 99);
  GetExitCodeProcess(process.hProcess, &run.exit_code);
  CloseHandle(process.hProcess);
  return run;
}

constexpr char16_t kQuery[] = u"select a, b from t";

TEST(Win32ArgumentsTest, AnyArgumentIsRefusedWithTheUsageInTheFailureBox) {
  for (const wchar_t* arguments : {L" x", L" --help", L" \"\"", L" a b"}) {
    SCOPED_TRACE(std::string(arguments, arguments + wcslen(arguments)));
    PeerSetText(kQuery);
    const ProgramRun run = RunWith(arguments);
    EXPECT_EQ(run.exit_code, 2u);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].title, u"quillmore");
    EXPECT_EQ(run.boxes[0].text,
              u"usage: quillmore (takes no arguments; lays out the SQL on "
              u"the clipboard)");
    EXPECT_EQ(PeerGetText(), kQuery);
  }
}

TEST(Win32ArgumentsTest, BlanksAloneAreNoArgument) {
  PeerSetText(kQuery);
  const ProgramRun run = RunWith(L"   ");
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_EQ(PeerGetText(), u"select a,\r\n        b\r\n  from t");
}

}  // namespace
