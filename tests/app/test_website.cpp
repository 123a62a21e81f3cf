#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QUrl>
#include <vector>

#include "app/website.h"
#include "platform/dialogs.h"
#include "support/recordingdialogs.h"

namespace {

class WebsiteTest : public testing::Test {
 protected:
  void SetUp() override { SetDialogs(&Dialogs); }
  void TearDown() override {
    SetDialogs(nullptr);
    SetUrlOpener({});
  }
  TRecordingDialogs Dialogs;
};

TEST_F(WebsiteTest, OpensTheMakersAddress) {
  std::vector<QUrl> opened;
  SetUrlOpener([&](const QUrl& url) {
    opened.push_back(url);
    return true;
  });
  OpenWebsite(nullptr);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl("https://www.tarvek-systems.example"));
  EXPECT_TRUE(Dialogs.Shown.empty()) << "a message although the browser opened";
}

TEST_F(WebsiteTest, FailureShowsCouldNotOpenBrowser) {
  SetUrlOpener([](const QUrl&) { return false; });
  OpenWebsite(nullptr);
  ASSERT_EQ(Dialogs.Shown.size(), 1u);
  EXPECT_EQ(Dialogs.Shown[0].Text, "Could not open Browser");
  EXPECT_EQ(Dialogs.Shown[0].Kind, TMsgKind::Warning);
  EXPECT_EQ(Dialogs.Shown[0].Buttons, unsigned{Buttons::Ok});
}

}  // namespace
