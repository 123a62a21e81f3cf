#include "platform/dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QScreen>
#include <exception>

#include "platform/filedialogs.h"
#include "platform/messagedialog.h"

namespace {

// Owner of a modal box: the window the user is working in.
QWidget* ActiveOwner() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return QApplication::activeWindow();
}

class TWidgetDialogs final : public TDialogs {
 public:
  int ShowMessage(const QString& text, TMsgKind kind, unsigned buttons, const QString& title) override {
    TMessageDialog dialog(text, kind, buttons, title, ActiveOwner());
    dialog.adjustSize();
    const QScreen* screen = dialog.parentWidget() ? dialog.parentWidget()->screen() : QApplication::primaryScreen();
    if (screen) {
      QRect frame = dialog.frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      dialog.move(frame.topLeft());
    }
    return dialog.exec();
  }
};

class TWidgetFileChooser final : public TFileChooser {
 public:
  QString ChooseOpenFile(QWidget* parent, const TOpenFileRequest& request) override {
    const auto dialog = MakeOpenFileDialog(parent, request);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
    return dialog->selectedFiles().constFirst();
  }
  QString ChooseFolder(QWidget* parent, const QString& title, const QString& initialFolder) override {
    const auto dialog = MakeFolderDialog(parent, title, initialFolder);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
    return QDir::cleanPath(dialog->selectedFiles().constFirst());
  }
};

TWidgetDialogs RealDialogs;
TDialogs* InstalledDialogs = nullptr;
TWidgetFileChooser RealFileChooser;
TFileChooser* InstalledFileChooser = nullptr;
QString Title;

}  // namespace

TDialogs& Dialogs() { return InstalledDialogs ? *InstalledDialogs : RealDialogs; }
void SetDialogs(TDialogs* dialogs) { InstalledDialogs = dialogs; }

TFileChooser& FileChooser() { return InstalledFileChooser ? *InstalledFileChooser : RealFileChooser; }
void SetFileChooser(TFileChooser* chooser) { InstalledFileChooser = chooser; }

void SetApplicationTitle(const QString& title) { Title = title; }
QString ApplicationTitle() { return Title; }

std::unique_ptr<QFileDialog> MakeOpenFileDialog(QWidget* parent, const TOpenFileRequest& request) {
  auto dialog = std::make_unique<QFileDialog>(parent, request.Title);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setNameFilter(request.Filter);
  dialog->setDefaultSuffix(request.DefaultSuffix);
  return dialog;
}

std::unique_ptr<QFileDialog> MakeFolderDialog(QWidget* parent, const QString& title,
                                              const QString& initialFolder) {
  auto dialog = std::make_unique<QFileDialog>(parent, title);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::Directory);
  dialog->setOption(QFileDialog::ShowDirsOnly);
  dialog->setOption(QFileDialog::ReadOnly);  // no new folder from here
  const QFileInfo initial(initialFolder);
  // A stored text that no longer names a folder only means no preselection.
  dialog->setDirectory(!initialFolder.isEmpty() && initial.isDir() ? initial.absoluteFilePath()
                                                                   : QDir::rootPath());
  return dialog;
}

void RunHandler(const std::function<void()>& handler) {
  QString error;
  try {
    handler();
    return;
  } catch (const std::exception& e) {
    error = QString::fromUtf8(e.what());
  } catch (...) {
    error = QStringLiteral("Unknown error");
  }
  try {
    Dialogs().ShowMessage(error, TMsgKind::Error, Buttons::Ok, ApplicationTitle());
  } catch (...) {
    // Nothing may cross the event loop, not even a failing error box.
  }
}
