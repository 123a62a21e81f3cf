#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QXmlStreamReader>

#include "guitestenv.h"
#include "app/help.h"

namespace {

class HelpTest : public testing::Test {
 protected:
  void TearDown() override {
    CloseHelpWindows();
    SetHelpFile(QString::fromLatin1(BundledHelpFile));
  }

  static QString Write(const QTemporaryDir& dir, const QString& name, const QByteArray& text) {
    QFile file(dir.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
    return file.fileName();
  }

};

QStringList TopLevelTitles(const QTreeWidget* tree) {
  QStringList titles;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) titles << tree->topLevelItem(i)->text(0);
  return titles;
}

TEST_F(HelpTest, ShowsTheBundledTableOfContentsAndItsFirstPage) {
  QWidget mainWindow;
  ShowHelpContents(&mainWindow);
  THelpWindow* window = HelpWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  const QStringList titles = TopLevelTitles(window->Contents());
  for (const char* topic : {"Geotagging a folder", "Time zone settings", "The two questions",
                            "Raw photos and sidecar files", "What \"skipped\" means"})
    EXPECT_TRUE(titles.contains(QString::fromUtf8(topic))) << topic;
  EXPECT_EQ(window->Page()->source(), QUrl("qrc:/help/welcome.html"));
  EXPECT_TRUE(window->Page()->toPlainText().contains("Tarvek Lumivale"));
  const QImage shot = window->grab().toImage();
  KeepScreenshot(shot, "help");
  EXPECT_GT(DistinctColours(shot), 2) << "the help window looks blank";

  QTreeWidgetItem* questions = window->Contents()->findItems("The two questions", Qt::MatchExactly)[0];
  emit window->Contents()->itemClicked(questions, 0);
  EXPECT_EQ(window->Page()->source(), QUrl("qrc:/help/questions.html"));
  EXPECT_TRUE(window->Page()->toPlainText().contains("Yes to All"));
}

TEST_F(HelpTest, ShowingAgainReusesTheWindowAndCloseHelpWindowsClosesIt) {
  QWidget mainWindow;
  ShowHelpContents(&mainWindow);
  THelpWindow* first = HelpWindow();
  ShowHelpContents(&mainWindow);
  EXPECT_EQ(HelpWindow(), first);
  CloseHelpWindows();
  EXPECT_EQ(HelpWindow(), nullptr);
  CloseHelpWindows();  // nothing open: nothing happens
}

TEST_F(HelpTest, HelpThatCannotBeFoundShowsNothing) {
  QTemporaryDir dir;
  const QStringList files = {
      dir.filePath("missing.html"),
      Write(dir, "broken.html", "<html><body><ul><li><a href=\"x.html\">X</a></li>"),
      Write(dir, "empty.html", "<html><body><p>no contents</p></body></html>"),
  };
  QWidget mainWindow;
  for (const QString& file : files) {
    SetHelpFile(file);
    ShowHelpContents(&mainWindow);
    EXPECT_EQ(HelpWindow(), nullptr) << file.toStdString();
  }
}

TEST_F(HelpTest, ReadsNestedContentsFromAFolderOfItsOwn) {
  QTemporaryDir dir;
  Write(dir, "one.html", "<html><body><p>Page one</p></body></html>");
  const QString contents = Write(dir, "toc.html",
                                 "<?xml version=\"1.0\"?><html><body><ul>"
                                 "<li><a href=\"one.html\">One <b>bold</b></a>"
                                 "<ul><li><a href=\"one.html#a\">One A</a></li>"
                                 "<li>no link</li></ul></li>"
                                 "<li><a href=\"two.html\">Two</a></li>"
                                 "</ul></body></html>");
  const QList<THelpTopic> topics = ReadHelpContents(contents);
  ASSERT_EQ(topics.size(), 2);
  EXPECT_EQ(topics[0].Title, "One bold");
  EXPECT_EQ(topics[0].Page, "one.html");
  ASSERT_EQ(topics[0].Children.size(), 1);
  EXPECT_EQ(topics[0].Children[0].Title, "One A");
  EXPECT_EQ(topics[1].Page, "two.html");

  SetHelpFile(contents);
  QWidget mainWindow;
  ShowHelpContents(&mainWindow);
  ASSERT_NE(HelpWindow(), nullptr);
  EXPECT_EQ(HelpWindow()->Page()->source(), QUrl::fromLocalFile(dir.filePath("one.html")));
  EXPECT_TRUE(HelpWindow()->Page()->toPlainText().contains("Page one"));
}

TEST_F(HelpTest, DestroyingTheMainWindowTakesTheHelpWindowAlong) {
  {
    QWidget mainWindow;
    ShowHelpContents(&mainWindow);
    ASSERT_NE(HelpWindow(), nullptr);
  }
  EXPECT_EQ(HelpWindow(), nullptr);
}

// Every bundled page is well-formed and every link in it leads to a page and anchor that exist.
TEST_F(HelpTest, BundledPagesLinkOnlyToWhatExists) {
  QDirIterator pages(":/help", {"*.html"});
  int count = 0;
  while (pages.hasNext()) {
    const QString page = pages.next();
    ++count;
    QFile file(page);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QXmlStreamReader xml(text);
    while (!xml.atEnd()) {
      xml.readNext();
      if (!xml.isStartElement() || xml.name() != u"a" || !xml.attributes().hasAttribute("href"))
        continue;
      const QUrl link(xml.attributes().value("href").toString());
      const QString target = link.path().isEmpty() ? page : ":/help/" + link.path();
      QFile linked(target);
      ASSERT_TRUE(linked.open(QIODevice::ReadOnly)) << page.toStdString() << " -> " << target.toStdString();
      if (link.hasFragment()) {
        EXPECT_TRUE(linked.readAll().contains(("id=\"" + link.fragment() + "\"").toUtf8()))
            << page.toStdString() << " -> #" << link.fragment().toStdString();
      }
    }
    EXPECT_FALSE(xml.hasError()) << page.toStdString() << ": " << xml.errorString().toStdString();
  }
  EXPECT_GE(count, 6);
}

}  // namespace
