#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <stdexcept>
#include <vector>

#include "guitestenv.h"
#include "platform/dialogs.h"
#include "support/recordingdialogs.h"
#include "platform/messagedialog.h"

namespace {

constexpr unsigned AllButtons = (1u << 11) - 1;
constexpr unsigned Questions = Buttons::Yes | Buttons::No | Buttons::NoToAll | Buttons::YesToAll;

struct TButtonCase {
  unsigned Bit;
  const char* Caption;
  int Code;
};

const std::vector<TButtonCase> ButtonRow = {
    {Buttons::Yes, "&Yes", 6},         {Buttons::No, "&No", 7},
    {Buttons::Ok, "OK", 1},            {Buttons::Cancel, "Cancel", 2},
    {Buttons::Abort, "&Abort", 3},     {Buttons::Retry, "&Retry", 4},
    {Buttons::Ignore, "&Ignore", 5},   {Buttons::All, "&All", 8},
    {Buttons::NoToAll, "N&o to All", 9}, {Buttons::YesToAll, "Yes to &All", 10},
    {Buttons::Help, "&Help", 0},
};

TEST(MessageDialog, EachButtonAnswersItsCode) {
  ASSERT_EQ(static_cast<unsigned>(Questions), 771u);
  for (const TButtonCase& c : ButtonRow) {
    TMessageDialog dialog(QStringLiteral("text"), TMsgKind::Warning, AllButtons);
    dialog.show();
    QPushButton* button = dialog.Button(c.Bit);
    ASSERT_NE(button, nullptr) << c.Caption;
    EXPECT_EQ(button->text().toStdString(), c.Caption);
    button->click();
    if (c.Code == 0) {
      EXPECT_TRUE(dialog.isVisible()) << "Help leaves the dialog open";
    } else {
      EXPECT_FALSE(dialog.isVisible()) << c.Caption;
      EXPECT_EQ(dialog.result(), c.Code) << c.Caption;
    }
  }
}

TEST(MessageDialog, ButtonsStandInTheFixedOrderLeftToRight) {
  TMessageDialog dialog(QStringLiteral("text"), TMsgKind::Information, AllButtons);
  dialog.show();
  int lastX = -1;
  for (const TButtonCase& c : ButtonRow) {
    const QPushButton* button = dialog.Button(c.Bit);
    EXPECT_GT(button->x(), lastX) << c.Caption;
    EXPECT_EQ(button->y(), dialog.Button(Buttons::Yes)->y());
    lastX = button->x();
  }
  TMessageDialog some(QStringLiteral("text"), TMsgKind::Information, Buttons::Ok | Buttons::Cancel);
  EXPECT_EQ(some.findChildren<QPushButton*>().size(), 2);
  EXPECT_EQ(some.Button(Buttons::Yes), nullptr);
}

struct TRoleCase {
  unsigned Set;
  unsigned Default;  // 0: none
  unsigned Cancel;   // 0: none
  int Escape;        // answer to Escape; 0: the dialog stays open
};

void PrintTo(const TRoleCase& c, std::ostream* os) { *os << "buttons " << c.Set; }

class MessageDialogRoles : public ::testing::TestWithParam<TRoleCase> {};

TEST_P(MessageDialogRoles, DefaultAndCancelButtons) {
  const TRoleCase c = GetParam();
  TMessageDialog dialog(QStringLiteral("text"), TMsgKind::Warning, c.Set);
  EXPECT_EQ(dialog.DefaultButton(), c.Default ? dialog.Button(c.Default) : nullptr);
  EXPECT_EQ(dialog.CancelButton(), c.Cancel ? dialog.Button(c.Cancel) : nullptr);
  if (c.Default) {
    EXPECT_TRUE(dialog.Button(c.Default)->isDefault());
  }

  dialog.show();
  QTest::keyClick(&dialog, Qt::Key_Escape);
  if (c.Escape == 0) {
    EXPECT_TRUE(dialog.isVisible());
  } else {
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), c.Escape);
  }
}

TEST_P(MessageDialogRoles, TheTitleBarCloseAnswersCancel) {
  TMessageDialog dialog(QStringLiteral("text"), TMsgKind::Warning, GetParam().Set);
  dialog.show();
  EXPECT_TRUE(dialog.close());
  EXPECT_EQ(dialog.result(), Answer::Cancel);
}

INSTANTIATE_TEST_SUITE_P(
    Sets, MessageDialogRoles,
    ::testing::Values(TRoleCase{Questions, Buttons::Yes, Buttons::No, Answer::No},
                      TRoleCase{Buttons::Ok, Buttons::Ok, Buttons::Ok, Answer::Ok},
                      TRoleCase{Buttons::Ok | Buttons::Cancel, Buttons::Ok, Buttons::Cancel, Answer::Cancel},
                      TRoleCase{Buttons::Yes | Buttons::No | Buttons::Cancel, Buttons::Yes, Buttons::Cancel, Answer::Cancel},
                      TRoleCase{Buttons::Abort | Buttons::Retry | Buttons::Ignore, Buttons::Retry, 0, 0},
                      TRoleCase{Buttons::Yes | Buttons::NoToAll, Buttons::Yes, 0, 0}));

TEST(MessageDialog, EnterPressesTheDefaultButton) {
  TMessageDialog dialog(QStringLiteral("Overwrite existing GPS data in \"a.jpg\"?"), TMsgKind::Warning, Questions);
  dialog.show();
  QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &dialog, Qt::Key_Return);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), Answer::Yes);
}

TEST(MessageDialog, KindsGiveTitleAndIcon) {
  SetApplicationTitle(QStringLiteral("Tarvek Lumivale"));
  const struct {
    TMsgKind Kind;
    const char* Title;
  } kinds[] = {{TMsgKind::Warning, "Warning"}, {TMsgKind::Information, "Information"}, {TMsgKind::Error, "Tarvek Lumivale"}};
  QList<QImage> icons;
  for (const auto& k : kinds) {
    TMessageDialog dialog(QStringLiteral("text"), k.Kind, Buttons::Ok);
    EXPECT_EQ(dialog.windowTitle().toStdString(), k.Title);
    const QLabel* image = dialog.findChild<QLabel*>(QStringLiteral("Image"));
    ASSERT_NE(image, nullptr);
    ASSERT_FALSE(image->pixmap().isNull());
    icons.append(image->pixmap().toImage());
  }
  EXPECT_NE(icons[0], icons[1]);
  EXPECT_NE(icons[1], icons[2]);
  TMessageDialog titled(QStringLiteral("text"), TMsgKind::Warning, Buttons::Ok, QStringLiteral("Own"));
  EXPECT_EQ(titled.windowTitle(), QStringLiteral("Own"));
}

TEST(MessageDialog, LongTextsWrapAndEveryCaptionFits) {
  const QString text = QStringLiteral("The file \"") + QString(120, QLatin1Char('x')) +
                       QStringLiteral(".jpg\" is write protected. Are you sure you want to save the changes?");
  TMessageDialog dialog(text, TMsgKind::Warning, AllButtons);
  dialog.show();
  const QLabel* message = dialog.findChild<QLabel*>(QStringLiteral("Message"));
  EXPECT_LE(message->width(), 430);
  EXPECT_GT(message->height(), message->fontMetrics().height());
  for (const TButtonCase& c : ButtonRow) {
    const QPushButton* button = dialog.Button(c.Bit);
    EXPECT_GE(button->width(), button->fontMetrics().horizontalAdvance(QString::fromUtf8(c.Caption).remove(QLatin1Char('&'))) + 8);
    EXPECT_TRUE(dialog.rect().contains(button->geometry())) << c.Caption;
  }
  const QImage shot = dialog.grab().toImage();
  EXPECT_GT(DistinctColours(shot), 8);
  KeepScreenshot(shot, QStringLiteral("messagedialog"));
}

// The real dialog as the program shows it: modal, answered while it runs.
TEST(MessageDialog, RealDialogsReturnTheAnswerOfTheModalBox) {
  SetDialogs(nullptr);
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<TMessageDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->Button(Buttons::NoToAll)->click();
  });
  EXPECT_EQ(Dialogs().ShowMessage(QStringLiteral("Overwrite?"), TMsgKind::Warning, Questions), Answer::NoToAll);

  QTimer::singleShot(0, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape); });
  EXPECT_EQ(Dialogs().ShowMessage(QStringLiteral("Overwrite?"), TMsgKind::Warning, Questions), Answer::No);

  QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
  EXPECT_EQ(Dialogs().ShowMessage(QStringLiteral("Overwrite?"), TMsgKind::Warning, Questions), Answer::Cancel);
}

TEST(RunHandler, WhatAHandlerThrowsShowsTheGeneralErrorBox) {
  TRecordingDialogs dialogs;
  SetDialogs(&dialogs);
  SetApplicationTitle(QStringLiteral("Tarvek Lumivale"));
  int ran = 0;
  RunHandler([&] { ++ran; });
  EXPECT_TRUE(dialogs.Shown.empty());
  RunHandler([] { throw std::runtime_error("Could not store the setting \"UseDst\""); });
  RunHandler([] { throw 42; });
  SetDialogs(nullptr);
  EXPECT_EQ(ran, 1);
  ASSERT_EQ(dialogs.Shown.size(), 2u);
  EXPECT_EQ(dialogs.Shown[0].Text, QStringLiteral("Could not store the setting \"UseDst\""));
  EXPECT_EQ(dialogs.Shown[0].Kind, TMsgKind::Error);
  EXPECT_EQ(dialogs.Shown[0].Buttons, static_cast<unsigned>(Buttons::Ok));
  EXPECT_EQ(dialogs.Shown[0].Title, QStringLiteral("Tarvek Lumivale"));
  EXPECT_EQ(dialogs.Shown[1].Kind, TMsgKind::Error);
  EXPECT_FALSE(dialogs.Shown[1].Text.isEmpty());
}

}  // namespace
