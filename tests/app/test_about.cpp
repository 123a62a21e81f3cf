#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "guitestenv.h"
#include "app/about.h"
#include "app/website.h"

namespace {

class AboutBoxTest : public testing::Test {
 protected:
  void TearDown() override { SetUrlOpener({}); }

  // Runs `inside` once the About box is up, then presses its OK button.
  static void WhileShown(const std::function<void(TAboutBox*)>& inside) {
    QTimer::singleShot(0, [inside] {
      auto* box = qobject_cast<TAboutBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr) << "the About box is not the modal window";
      inside(box);
      if (box->isVisible()) box->findChild<QPushButton*>("OKButton")->click();
    });
  }
};

void Click(QWidget* widget) {
  const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
  QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
  QApplication::sendEvent(widget, &release);
}

TEST_F(AboutBoxTest, IsCreatedOnceAndShowsTheVersion) {
  QWidget mainWindow;
  TAboutBox* first = nullptr;
  WhileShown([&](TAboutBox* box) {
    first = box;
    EXPECT_EQ(box->findChild<QLabel*>("laVersion")->text(), "1.20");
  });
  ShowAboutBox(&mainWindow);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(AboutBox(), first);
  EXPECT_FALSE(first->isVisible()) << "OK closes the box";
  EXPECT_EQ(first->result(), QDialog::Accepted);

  TAboutBox* second = nullptr;
  WhileShown([&](TAboutBox* box) { second = box; });
  ShowAboutBox(&mainWindow);
  EXPECT_EQ(second, first) << "the second showing created a new box";
  EXPECT_EQ(first->findChild<QLabel*>("laVersion")->text(), "1.20");
}

TEST_F(AboutBoxTest, LaidOutAsAFixedInfoBox) {
  QWidget mainWindow;
  WhileShown([](TAboutBox* box) {
    EXPECT_EQ(box->windowTitle(), "Info");
    EXPECT_EQ(box->size(), QSize(312, 212));
    EXPECT_EQ(box->minimumSize(), box->maximumSize()) << "the box can be resized";
    EXPECT_FALSE(box->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(box->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(box->findChild<QLabel*>("laTitle")->text(), "Tarvek Lumivale");
    const auto* image = box->findChild<QLabel*>("Image1");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixmap().size(), QSize(140, 140)) << "the picture is missing";
    EXPECT_FALSE(box->windowIcon().isNull());
    const auto* link = box->findChild<QLabel*>("LA_Website2");
    EXPECT_EQ(link->text(), "https://www.tarvek-systems.example");
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    const auto* ok = box->findChild<QPushButton*>("OKButton");
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(ok->text(), "OK");
    const QImage shot = box->grab().toImage();
    KeepScreenshot(shot, "about");
    EXPECT_GT(DistinctColours(shot), 50) << "the box looks blank";
  });
  ShowAboutBox(&mainWindow);
}

TEST_F(AboutBoxTest, LinkOpensTheWebSiteAndLeavesTheBoxOpen) {
  QWidget mainWindow;
  QList<QUrl> opened;
  SetUrlOpener([&](const QUrl& url) {
    opened.append(url);
    return true;
  });
  WhileShown([&](TAboutBox* box) {
    Click(box->findChild<QLabel*>("LA_Website2"));
    EXPECT_TRUE(box->isVisible());
  });
  ShowAboutBox(&mainWindow);
  ASSERT_EQ(opened.size(), 1);
  EXPECT_EQ(opened[0], QUrl("https://www.tarvek-systems.example"));
}

TEST_F(AboutBoxTest, EscapeDoesNotCloseIt) {
  QWidget mainWindow;
  WhileShown([](TAboutBox* box) {
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(box, &escape);
    EXPECT_TRUE(box->isVisible());
  });
  ShowAboutBox(&mainWindow);
  EXPECT_EQ(AboutBox()->result(), QDialog::Accepted);
}

}  // namespace
