#pragma once
#include <QList>
#include <QString>
#include <QUrl>
#include <QWidget>

class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;

// One entry of the help's table of contents; Children are its sub-topics.
struct THelpTopic {
  QString Title;
  QString Page;  // as the link gives it, relative to the table of contents
  QList<THelpTopic> Children;
};

// The topics of a table of contents page: each list item's first link is a topic,
// a nested list holds its sub-topics. Empty when the page cannot be read.
QList<THelpTopic> ReadHelpContents(const QString& fileName);

// The help window: the table of contents on the left, the chosen page on the right.
class THelpWindow : public QWidget {
  Q_OBJECT

 public:
  THelpWindow(const QUrl& contents, const QList<THelpTopic>& topics, QWidget* parent);

  QTreeWidget* Contents() const { return FContents; }
  QTextBrowser* Page() const { return FPage; }

 private:
  void AddTopics(QTreeWidgetItem* parent, const QList<THelpTopic>& topics);
  void ContentsItemClicked(QTreeWidgetItem* item);

  QUrl FContentsUrl;
  QTreeWidget* FContents;
  QTextBrowser* FPage;
};

// The help file: a path, ":/" for the bundled help. Start-up may name another.
inline constexpr char BundledHelpFile[] = ":/help/lumiv.html";
QString HelpFile();
void SetHelpFile(const QString& fileName);

// Shows the help window with the help file's table of contents; shows nothing
// when the help cannot be found.
void ShowHelpContents(QWidget* parent);
// Closes every help window the program opened.
void CloseHelpWindows();
// The open help window, nullptr when there is none.
THelpWindow* HelpWindow();
