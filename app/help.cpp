#include "app/help.h"

#include <QFile>
#include <QHeaderView>
#include <QPointer>
#include <QSplitter>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QXmlStreamReader>
#include <vector>

namespace {

QString& HelpFileName() {
  static QString fileName = QString::fromLatin1(BundledHelpFile);
  return fileName;
}

QPointer<THelpWindow>& HelpWindowInstance() {
  static QPointer<THelpWindow> window;
  return window;
}

QUrl FileUrl(const QString& fileName) {
  if (fileName.startsWith(u':')) return QUrl(QStringLiteral("qrc") + fileName);
  return QUrl::fromLocalFile(fileName);
}

constexpr int PageRole = Qt::UserRole;

}  // namespace

QList<THelpTopic> ReadHelpContents(const QString& fileName) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QXmlStreamReader xml(&file);
  QList<THelpTopic> topics;
  std::vector<THelpTopic> items;  // the list items being read, innermost last
  while (!xml.atEnd()) {
    const auto token = xml.readNext();
    if (token == QXmlStreamReader::StartElement) {
      if (xml.name() == u"li") {
        items.emplace_back();
      } else if (xml.name() == u"a" && !items.empty() && items.back().Page.isEmpty()) {
        items.back().Page = xml.attributes().value(QStringLiteral("href")).toString();
        items.back().Title = xml.readElementText(QXmlStreamReader::IncludeChildElements).simplified();
      }
    } else if (token == QXmlStreamReader::EndElement && xml.name() == u"li" && !items.empty()) {
      THelpTopic topic = std::move(items.back());
      items.pop_back();
      if (topic.Page.isEmpty()) continue;
      (items.empty() ? topics : items.back().Children).append(std::move(topic));
    }
  }
  if (xml.hasError()) return {};
  return topics;
}

THelpWindow::THelpWindow(const QUrl& contents, const QList<THelpTopic>& topics, QWidget* parent)
    : QWidget(parent, Qt::Window),
      FContentsUrl(contents),
      FContents(new QTreeWidget),
      FPage(new QTextBrowser) {
  setWindowTitle(QStringLiteral("Tarvek Lumivale Help"));
  setWindowIcon(QIcon(QStringLiteral(":/lumiv.png")));
  resize(760, 520);
  FContents->setObjectName(QStringLiteral("tvContents"));
  FContents->setHeaderLabel(QStringLiteral("Contents"));
  FContents->header()->hide();
  FPage->setObjectName(QStringLiteral("tbPage"));
  FPage->setOpenExternalLinks(true);
  auto* splitter = new QSplitter(Qt::Horizontal);
  splitter->addWidget(FContents);
  splitter->addWidget(FPage);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({220, 540});
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(splitter);

  AddTopics(nullptr, topics);
  FContents->expandAll();
  connect(FContents, &QTreeWidget::itemClicked, this, &THelpWindow::ContentsItemClicked);
  connect(FContents, &QTreeWidget::itemActivated, this, &THelpWindow::ContentsItemClicked);
  if (QTreeWidgetItem* first = FContents->topLevelItem(0)) {
    FContents->setCurrentItem(first);
    ContentsItemClicked(first);
  }
}

void THelpWindow::AddTopics(QTreeWidgetItem* parent, const QList<THelpTopic>& topics) {
  for (const THelpTopic& topic : topics) {
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(FContents);
    item->setText(0, topic.Title);
    item->setData(0, PageRole, FContentsUrl.resolved(QUrl(topic.Page)));
    AddTopics(item, topic.Children);
  }
}

void THelpWindow::ContentsItemClicked(QTreeWidgetItem* item) {
  FPage->setSource(item->data(0, PageRole).toUrl());
}

QString HelpFile() { return HelpFileName(); }

void SetHelpFile(const QString& fileName) { HelpFileName() = fileName; }

void ShowHelpContents(QWidget* parent) {
  QPointer<THelpWindow>& window = HelpWindowInstance();
  if (!window) {
    const QList<THelpTopic> topics = ReadHelpContents(HelpFile());
    if (topics.isEmpty()) return;
    window = new THelpWindow(FileUrl(HelpFile()), topics, parent);
    window->setAttribute(Qt::WA_DeleteOnClose);
  }
  window->show();
  window->raise();
  window->activateWindow();
}

void CloseHelpWindows() { delete HelpWindowInstance().data(); }

THelpWindow* HelpWindow() { return HelpWindowInstance(); }
