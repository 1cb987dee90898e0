// quillmore.exe run as a user runs it, under the real (Wine) clipboard: a
// peer places text, the program is started as its own process, the peer
// reads what the program left. Expected texts are written out by hand.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/clipboard/win32_clipboard_peer.h"

namespace {

using quillmore_test::ClipboardHolder;
using quillmore_test::PeerEmpty;
using quillmore_test::PeerFormats;
using quillmore_test::PeerGetText;
using quillmore_test::PeerHasFormat;
using quillmore_test::PeerSetBitmap;
using quillmore_test::PeerSetText;
using quillmore_test::ProgramRun;
using quillmore_test::RunProgram;

// A run that succeeded: exit status 0, and nothing shown at all.
void ExpectQuietSuccess(const ProgramRun& run) {
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_TRUE(run.boxes.empty())
      << "message box: "
      << std::string(run.boxes[0].text.begin(), run.boxes[0].text.end());
  EXPECT_EQ(run.other_windows, 0);
}

std::u16string LayOutOnce(const std::u16string& text) {
  PeerSetText(text);
  const ProgramRun run = RunProgram();
  ExpectQuietSuccess(run);
  const auto result = PeerGetText();
  EXPECT_TRUE(result.has_value()) << "no text on the clipboard after the run";
  return result.value_or(u"<none>");
}

constexpr char16_t kWorkedInput[] =
    u"select a, b from t where x = 1 and y = 2 or z = 3 order by a";
constexpr char16_t kWorkedOutput[] =
    u"select a,\r\n"
    u"        b\r\n"
    u"  from t\r\n"
    u"where x = 1\r\n"
    u"  and y = 2\r\n"
    u"   or z = 3\r\n"
    u"order by a";

TEST(Win32ProgramTest, LaysOutTheFirstWorkedExample) {
  EXPECT_EQ(LayOutOnce(kWorkedInput), kWorkedOutput);
}

TEST(Win32ProgramTest, LaysOutTheSecondWorkedExample) {
  const std::u16string input =
      u"SELECT *\r\n"
      u"FROM orders o\r\n"
      u"WHERE o.id IN (1,2)\r\n"
      u"  AND o.state = 'open'\r\n"
      u"ORDER BY o.id";
  const std::u16string output =
      u"SELECT *\r\n"
      u"  FROM\r\n"
      u"orders o\r\n"
      u"WHERE o.id IN (1,\r\n"
      u"       2)\r\n"
      u"  AND o.state = 'open'\r\n"
      u"ORDER BY o.id";
  EXPECT_EQ(LayOutOnce(input), output);
}

TEST(Win32ProgramTest, ASecondRunPutsEightSpacesAfterABareComma) {
  const std::u16string once = LayOutOnce(u"select a,b from t");
  EXPECT_EQ(once, u"select a,\r\n       b\r\n  from t");
  EXPECT_EQ(LayOutOnce(once), u"select a,\r\n        b\r\n  from t");
}

TEST(Win32ProgramTest, AnUnchangedTextIsStillWrittenBack) {
  EXPECT_EQ(LayOutOnce(u"select\ta\tfrom t"), u"select\ta\tfrom t");
}

TEST(Win32ProgramTest, AnEmptyClipboardEndsHoldingTheEmptyText) {
  PeerEmpty();
  ExpectQuietSuccess(RunProgram());
  EXPECT_EQ(PeerGetText(), u"");
}

TEST(Win32ProgramTest, ABitmapOnlyClipboardEndsEmptiedAndGivenTheEmptyText) {
  PeerSetBitmap();
  ASSERT_TRUE(PeerHasFormat(CF_BITMAP));
  ExpectQuietSuccess(RunProgram());
  EXPECT_FALSE(PeerHasFormat(CF_BITMAP));
  EXPECT_EQ(PeerGetText(), u"");
}

TEST(Win32ProgramTest, NonAsciiAndUnpairedSurrogatesSurvive) {
  const std::u16string input =
      u"select \u00e4, \U0001F600 from \u8868 where x = '\xD800' or y = '"
      u"\xDC00"
      u"'";
  const std::u16string output =
      u"select \u00e4,\r\n"
      u"        \U0001F600\r\n"
      u"  from \u8868\r\n"
      u"where x = '\xD800'\r\n"
      u"   or y = '\xDC00'";
  EXPECT_EQ(LayOutOnce(input), output);
}

TEST(Win32ProgramTest, TenMegabytesOfText) {
  // The worked example, over and over, one space apart; joined by a space,
  // each copy lays out exactly as it does alone, and the space between
  // copies stays (no rule breaks in front of "select"). A non-ASCII unit
  // and a lone surrogate ride along in each copy's last item.
  const std::u16string item = std::u16string(kWorkedInput) + u"\u00df\xDBFF";
  const std::u16string laid = std::u16string(kWorkedOutput) + u"\u00df\xDBFF";
  std::u16string input;
  std::u16string output;
  const std::size_t copies = (10u << 20) / sizeof(char16_t) / item.size() + 1;
  input.reserve(copies * (item.size() + 1));
  output.reserve(copies * (laid.size() + 1));
  for (std::size_t i = 0; i < copies; ++i) {
    if (i != 0) {
      input += u' ';
      output += u' ';
    }
    input += item;
    output += laid;
  }
  ASSERT_GE(input.size() * sizeof(char16_t), 10u << 20);
  const std::u16string result = LayOutOnce(input);
  EXPECT_EQ(result.size(), output.size());
  EXPECT_TRUE(result == output) << "first difference at unit "
                                << std::mismatch(result.begin(), result.end(),
                                                 output.begin(), output.end())
                                           .first -
                                       result.begin();
}

TEST(Win32ProgramTest, AClipboardHeldOpenFailsTheRunAndLeavesItUnchanged) {
  PeerSetText(kWorkedInput);
  ProgramRun run;
  {
    ClipboardHolder holder;
    run = RunProgram();
  }
  EXPECT_EQ(run.exit_code, 1u);
  ASSERT_EQ(run.boxes.size(), 1u) << "one message box reports the failure";
  EXPECT_EQ(run.boxes[0].title, u"quillmore");
  EXPECT_EQ(run.boxes[0].text,
            u"quillmore: cannot read the clipboard: another program has the "
            u"clipboard open (GetText, status 0x80070005)");
  EXPECT_TRUE(run.boxes[0].has_icon);
  EXPECT_EQ(run.other_windows, 0);
  EXPECT_EQ(PeerGetText(), kWorkedInput);
  EXPECT_EQ(PeerFormats().size(), 1u + PeerHasFormat(CF_LOCALE) +
                                      PeerHasFormat(CF_TEXT) +
                                      PeerHasFormat(CF_OEMTEXT));
}

}  // namespace
