#pragma once
#include <QString>
#include <functional>
#include <vector>

#include "platform/dialogs.h"

// Answers the program's message boxes and records them; a test may act while
// a box is open (OnShow) and choose the answer, OK otherwise.
class TRecordingDialogs : public TDialogs {
 public:
  struct TShown {
    QString Text;
    TMsgKind Kind;
    unsigned Buttons;
    QString Title;
  };
  int ShowMessage(const QString& text, TMsgKind kind, unsigned buttons, const QString& title) override {
    Shown.push_back({text, kind, buttons, title});
    if (OnShow) return OnShow(Shown.back());
    return Answer::Ok;
  }
  std::vector<TShown> Shown;
  std::function<int(const TShown&)> OnShow;
};
