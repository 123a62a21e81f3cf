#pragma once
#include <QString>
#include <functional>

class QWidget;

// Message dialog vocabulary: kinds, the button bit set and the answer codes.
enum class TMsgKind { Warning, Information, Error };
namespace Buttons {
enum : unsigned {
  Yes = 1u << 0, No = 1u << 1, Ok = 1u << 2, Cancel = 1u << 3, Abort = 1u << 4, Retry = 1u << 5,
  Ignore = 1u << 6, All = 1u << 7, NoToAll = 1u << 8, YesToAll = 1u << 9, Help = 1u << 10,
};
}
namespace Answer {
enum : int { Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7, All = 8,
             NoToAll = 9, YesToAll = 10 };
}

// Every message box and question goes through this, so tests can answer them.
class TDialogs {
 public:
  virtual ~TDialogs() = default;
  // Modal message dialog; returns the answer code of the button pressed. An
  // empty title takes the kind's own ("Warning", "Information", the
  // application title for errors).
  virtual int ShowMessage(const QString& text, TMsgKind kind, unsigned buttons,
                          const QString& title = {}) = 0;
};

// The program-wide instance (the real dialogs unless a test installs its own).
TDialogs& Dialogs();
void SetDialogs(TDialogs* dialogs);  // nullptr restores the real dialogs

// The open-file and folder dialogs, replaceable in tests. Both return the
// chosen path, or the empty text when the user cancels.
struct TOpenFileRequest {
  QString Title;
  QString Filter;         // "GPS Exchange File (*.gpx)"
  QString DefaultSuffix;  // "gpx"
};
class TFileChooser {
 public:
  virtual ~TFileChooser() = default;
  virtual QString ChooseOpenFile(QWidget* parent, const TOpenFileRequest& request) = 0;
  // `initialFolder` is preselected when it names an existing folder.
  virtual QString ChooseFolder(QWidget* parent, const QString& title, const QString& initialFolder) = 0;
};
TFileChooser& FileChooser();
void SetFileChooser(TFileChooser* chooser);  // nullptr restores the real dialogs

// The application title, shown as the title of the general error box.
void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

// Runs an event handler. Whatever it throws is shown in the general error box
// (the application title, the error's text, an error icon, OK) and the program
// goes on; errors never cross Qt's event loop.
void RunHandler(const std::function<void()>& handler);
