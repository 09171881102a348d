// The X11 clipboard of paste delivery against other holders of CLIPBOARD on a private Xvfb
// display: what it keeps and puts back, also in parts (INCR), and what it leaves alone.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/clipboard.h"
#include "posix/posix_test_support.h"
#include "support/x_key_window.h"
#include "support/xvfb_server.h"

namespace {

using lintrel::platform::Clipboard;
using lintrel::testing::ReadClipboardText;
using lintrel::testing::XKeyWindow;

class X11ClipboardTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = std::make_unique<lintrel::testing::XvfbServer>(160, "320x200x24");
    if (!server_->Start(&setup_error_)) server_.reset();
  }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override { ASSERT_NE(server_, nullptr) << setup_error_; }

  // A clipboard of paste delivery, as another lintrel-cli would hold it.
  std::unique_ptr<Clipboard> Open() {
    lintrel::testing::ScopedEnvironment display("DISPLAY", server_->display_name());
    std::string error;
    std::unique_ptr<Clipboard> clipboard = lintrel::platform::OpenSystemClipboard(&error);
    EXPECT_NE(clipboard, nullptr) << error;
    return clipboard;
  }
  std::optional<std::string> Read() { return ReadClipboardText(server_->display_name()); }

  static inline std::unique_ptr<lintrel::testing::XvfbServer> server_;
  static inline std::string setup_error_;
  std::string error_;
};

// A copy of 1 MiB goes both ways in parts: read from its holder before the paste, and served
// again after it, when its holder has let it go.
TEST_F(X11ClipboardTest, ALargeCopyIsKeptAndServedAgainAfterThePaste) {
  std::string large;
  for (std::size_t i = 0; large.size() < 1024 * 1024; ++i) large += "part " + std::to_string(i) + " \u00E9\n";
  const std::unique_ptr<Clipboard> holder = Open();
  ASSERT_TRUE(holder->PutText(large, &error_)) << error_;
  const std::unique_ptr<Clipboard> paste = Open();
  ASSERT_TRUE(paste->Save(&error_)) << error_;
  ASSERT_TRUE(paste->PutText("the line", &error_)) << error_;
  EXPECT_EQ(Read(), "the line");
  EXPECT_TRUE(paste->AwaitTaken(&error_)) << error_;
  ASSERT_TRUE(paste->Restore(&error_)) << error_;
  const std::optional<std::string> restored = Read();
  ASSERT_TRUE(restored);
  EXPECT_TRUE(*restored == large) << restored->size() << " bytes of " << large.size();
}

// An empty clipboard is empty again; a paste nobody fetches is one not taken.
TEST_F(X11ClipboardTest, AnEmptyClipboardIsLeftEmptyAndAnUnfetchedPasteIsNotTaken) {
  const std::unique_ptr<Clipboard> paste = Open();
  ASSERT_TRUE(paste->Save(&error_)) << error_;
  ASSERT_TRUE(paste->PutText("the line", &error_)) << error_;
  EXPECT_FALSE(paste->AwaitTaken(&error_));
  EXPECT_EQ(error_, "the window in front did not take the pasted text within 2 s");
  ASSERT_TRUE(paste->Restore(&error_)) << error_;
  EXPECT_EQ(Read(), std::nullopt);
}

// What another program put on the clipboard during the paste is newer than the copy kept:
// it stays.
TEST_F(X11ClipboardTest, AClipboardTakenDuringThePasteIsNotOverwritten) {
  const std::unique_ptr<Clipboard> holder = Open();
  ASSERT_TRUE(holder->PutText("before", &error_)) << error_;
  const std::unique_ptr<Clipboard> paste = Open();
  ASSERT_TRUE(paste->Save(&error_)) << error_;
  ASSERT_TRUE(paste->PutText("the line", &error_)) << error_;
  const std::unique_ptr<Clipboard> other = Open();
  ASSERT_TRUE(other->PutText("newer", &error_)) << error_;
  EXPECT_FALSE(paste->AwaitTaken(&error_));
  EXPECT_EQ(error_, "another program took the clipboard before the window in front pasted");
  ASSERT_TRUE(paste->Restore(&error_)) << error_;
  EXPECT_EQ(Read(), "newer");
}

// A program that reads every new copy at once (a clipboard manager) does not take the paste:
// only the read of the window with the focus does.
TEST_F(X11ClipboardTest, OnlyTheReadOfTheWindowWithTheFocusTakesThePaste) {
  std::string error;
  const std::unique_ptr<XKeyWindow> editor = XKeyWindow::Open(server_->display_name(), {.wm_class = "editor", .pastes = true}, &error);
  ASSERT_NE(editor, nullptr) << error;
  const std::unique_ptr<Clipboard> paste = Open();
  ASSERT_TRUE(paste->Save(&error_)) << error_;
  ASSERT_TRUE(paste->PutText("the line", &error_)) << error_;
  EXPECT_EQ(Read(), "the line");
  EXPECT_FALSE(paste->AwaitTaken(&error_));
  editor->Paste();
  EXPECT_TRUE(paste->AwaitTaken(&error_)) << error_;
  EXPECT_TRUE(paste->Restore(&error_)) << error_;
}

}  // namespace
