#pragma once
#include <QDialog>
#include <QString>
#include <vector>

#include "platform/dialogs.h"

class QPushButton;

// The message dialog of our own: an icon and title by kind, the text, and the
// buttons of the set in their fixed order. Each button ends the dialog with its
// answer code; Escape presses the cancel button (Cancel, else No, else OK) and
// closing through the title bar answers Cancel (2) whatever the buttons.
class TMessageDialog : public QDialog {
  Q_OBJECT

 public:
  TMessageDialog(const QString& text, TMsgKind kind, unsigned buttons, const QString& title = {},
                 QWidget* parent = nullptr);

  // The button of one bit of the set; nullptr when it is not in the set.
  QPushButton* Button(unsigned button) const;
  QPushButton* DefaultButton() const { return FDefault; }
  QPushButton* CancelButton() const { return FCancel; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 public slots:
  void reject() override;

 private:
  struct TButtonEntry {
    unsigned Bit;
    QPushButton* Button;
  };
  std::vector<TButtonEntry> FButtons;
  QPushButton* FDefault = nullptr;
  QPushButton* FCancel = nullptr;
};

// "Warning", "Information", or the application title for errors.
QString KindTitle(TMsgKind kind);
