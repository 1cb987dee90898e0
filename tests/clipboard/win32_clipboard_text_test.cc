// Win32ClipboardText against the real clipboard (Wine's, when the tests run
// under Wine), with a peer that uses plain Win32 calls of its own.
#include "clipboard/win32_clipboard_text.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/error.h"
#include "tests/clipboard/win32_clipboard_peer.h"

namespace quillmore {
namespace {

using quillmore_test::ClipboardHolder;
using quillmore_test::PeerEmpty;
using quillmore_test::PeerFormats;
using quillmore_test::PeerGetText;
using quillmore_test::PeerHasFormat;
using quillmore_test::PeerSetAnsiText;
using quillmore_test::PeerSetBitmap;
using quillmore_test::PeerSetText;

constexpr StatusCode kAccessDenied = static_cast<StatusCode>(0x80070005u);

// Every unit kind that must pass through untouched: ASCII, CR LF, Latin-1,
// CJK, a surrogate pair, a lone high and a lone low surrogate, and the
// noncharacter U+FFFF.
const std::u16string kAwkward =
    u"select \u00e4\u00df, \u8868 from t\r\nwhere x = '\U0001F600' or y = '"
    u"\xD800"
    u"' and z = '"
    u"\xDFFF"
    u"\uFFFF'";

TEST(Win32ClipboardTextTest, GetTextReadsWhatAnotherProgramPlaced) {
  PeerSetText(kAwkward);
  Win32ClipboardText clipboard;
  EXPECT_EQ(clipboard.GetText(), kAwkward);
  // Reading leaves the clipboard as it was.
  EXPECT_EQ(PeerGetText(), kAwkward);
}

TEST(Win32ClipboardTextTest, GetTextOfAnEmptyClipboardIsEmpty) {
  PeerEmpty();
  Win32ClipboardText clipboard;
  EXPECT_EQ(clipboard.GetText(), u"");
}

TEST(Win32ClipboardTextTest, GetTextOfABitmapOnlyIsEmpty) {
  PeerSetBitmap();
  Win32ClipboardText clipboard;
  EXPECT_EQ(clipboard.GetText(), u"");
  EXPECT_TRUE(PeerHasFormat(CF_BITMAP));
}

TEST(Win32ClipboardTextTest, GetTextReadsEightBitTextConverted) {
  PeerSetAnsiText("select a, b from t");
  Win32ClipboardText clipboard;
  EXPECT_EQ(clipboard.GetText(), u"select a, b from t");
}

TEST(Win32ClipboardTextTest, ClearRemovesEveryFormat) {
  PeerSetBitmap();
  ASSERT_FALSE(PeerFormats().empty());
  Win32ClipboardText clipboard;
  clipboard.Clear();
  EXPECT_TRUE(PeerFormats().empty());

  PeerSetText(u"text");
  clipboard.Clear();
  EXPECT_TRUE(PeerFormats().empty());
  EXPECT_EQ(PeerGetText(), std::nullopt);
}

TEST(Win32ClipboardTextTest, SetTextPlacesUnicodeTextForOtherPrograms) {
  PeerEmpty();
  Win32ClipboardText clipboard;
  clipboard.SetText(kAwkward);
  EXPECT_EQ(PeerGetText(), kAwkward);
}

TEST(Win32ClipboardTextTest, SetTextOfTheEmptyTextIsStillMade) {
  PeerSetBitmap();
  Win32ClipboardText clipboard;
  clipboard.SetText(u"");
  EXPECT_EQ(PeerGetText(), u"");
  EXPECT_FALSE(PeerHasFormat(CF_BITMAP));
}

TEST(Win32ClipboardTextTest, TextEndsAtItsFirstNul) {
  // CF_UNICODETEXT is NUL-terminated; a text with a NUL in it cannot be
  // told apart from its first part by any reader.
  PeerSetText(u"before");
  Win32ClipboardText clipboard;
  clipboard.SetText(std::u16string(u"ab\0cd", 5));
  EXPECT_EQ(PeerGetText(), u"ab");
  EXPECT_EQ(clipboard.GetText(), u"ab");
}

TEST(Win32ClipboardTextTest, TenMegabytesRoundTrip) {
  std::u16string big;
  big.reserve(5u << 20);
  for (std::size_t i = 0; big.size() < (5u << 20); ++i) {
    big += u"select a, b from t where x = ";
    big += static_cast<char16_t>(0x4E00 + i % 0x5000);  // CJK units
    big += u"\xD800 or y = 2 and z = 3\r\n";
  }
  PeerSetText(big);
  Win32ClipboardText clipboard;
  const std::u16string read = clipboard.GetText();
  EXPECT_TRUE(read == big) << "read " << read.size() << " units";
  clipboard.Clear();
  clipboard.SetText(big);
  const auto placed = PeerGetText();
  ASSERT_TRUE(placed.has_value());
  EXPECT_TRUE(*placed == big) << "placed " << placed->size() << " units";
}

// With another program holding the clipboard open, each operation fails at
// once with the access-denied status, names itself, and changes nothing.
void ExpectFailsWhileHeld(void (*operation)(Win32ClipboardText&),
                          const char* name) {
  PeerSetText(u"held text");
  {
    ClipboardHolder holder;
    Win32ClipboardText clipboard;
    try {
      operation(clipboard);
      ADD_FAILURE() << name << " succeeded while the clipboard was held";
    } catch (const Error& error) {
      EXPECT_EQ(error.code(), kAccessDenied) << name;
      EXPECT_EQ(error.interface_name(), "ClipboardText");
      EXPECT_STREQ(OperationName(error.operation()), name);
      EXPECT_EQ(error.cause(), "another program has the clipboard open");
    }
  }
  EXPECT_EQ(PeerGetText(), u"held text") << name;
}

TEST(Win32ClipboardTextTest, GetTextFailsWhileAnotherProgramHoldsIt) {
  ExpectFailsWhileHeld([](Win32ClipboardText& c) { c.GetText(); }, "GetText");
}

TEST(Win32ClipboardTextTest, ClearFailsWhileAnotherProgramHoldsIt) {
  ExpectFailsWhileHeld([](Win32ClipboardText& c) { c.Clear(); }, "Clear");
}

TEST(Win32ClipboardTextTest, SetTextFailsWhileAnotherProgramHoldsIt) {
  ExpectFailsWhileHeld([](Win32ClipboardText& c) { c.SetText(u"new"); },
                       "SetText");
}

TEST(Win32ClipboardTextTest, EachOperationGivesTheClipboardBack) {
  // After every operation, another program can take the clipboard with a
  // window of its own, which fails while anyone else has it open.
  Win32ClipboardText clipboard;
  clipboard.SetText(u"x");
  { ClipboardHolder holder; }
  clipboard.GetText();
  { ClipboardHolder holder; }
  clipboard.Clear();
  { ClipboardHolder holder; }
}

}  // namespace
}  // namespace quillmore
