// The failure report's message box, shown inside the test process: here the
// box's icon handle can be compared with the system's error icon, which
// another process cannot do.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "run/failure_box_windows.h"
#include "tests/clipboard/win32_clipboard_peer.h"

namespace {

using quillmore_test::AnswerBox;
using quillmore_test::MessageBoxesOf;
using quillmore_test::ProgramRun;

TEST(Win32FailureBoxTest, ShowsTheSentenceUnderTheErrorIconUntilOk) {
  // Non-ASCII on purpose: the sentence arrives as UTF-8 and must be shown
  // as the same characters.
  const std::string sentence =
      "quillmore: cannot read the clipboard: caf\xC3\xA9 \xE8\xA1\xA8 "
      "(GetText, status 0x80070005)";
  std::atomic<bool> returned{false};
  std::thread shower([&] {
    quillmore::ShowFailureBox(sentence);
    returned = true;
  });

  HWND box = nullptr;
  for (int waited = 0; box == nullptr && waited < 60000; waited += 10) {
    const auto boxes = MessageBoxesOf(GetCurrentProcessId());
    if (!boxes.empty())
      box = boxes.front();
    else
      Sleep(10);
  }
  if (box == nullptr) {
    shower.detach();  // cannot be joined; the test fails below either way
    FAIL() << "no message box appeared";
  }
  Sleep(200);
  EXPECT_FALSE(returned) << "the box must wait for the user";

  const ProgramRun::Box seen = AnswerBox(box);
  shower.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(seen.title, u"quillmore");
  EXPECT_EQ(seen.text,
            u"quillmore: cannot read the clipboard: caf\u00e9 \u8868 "
            u"(GetText, status 0x80070005)");
  EXPECT_TRUE(seen.has_icon);
  // IDI_ERROR, spelled for the wide function.
  EXPECT_EQ(seen.icon, LoadIconW(nullptr, MAKEINTRESOURCEW(32513)));
}

}  // namespace
