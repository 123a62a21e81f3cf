#pragma once
#include <QString>

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
  // Modal message dialog; returns the answer code of the button pressed.
  virtual int ShowMessage(const QString& text, TMsgKind kind, unsigned buttons,
                          const QString& title = {}) = 0;
};

// The program-wide instance (the real dialogs unless a test installs its own).
TDialogs& Dialogs();
void SetDialogs(TDialogs* dialogs);  // nullptr restores the real dialogs
