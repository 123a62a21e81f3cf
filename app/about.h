#pragma once
#include <QDialog>
#include <memory>

namespace Ui {
class TAboutBox;
}

// The About box: product name, version and a link to the maker's web site.
class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutBox(QWidget* parent = nullptr);
  ~TAboutBox() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FormCreate();
  void LA_Website2Click();

  std::unique_ptr<Ui::TAboutBox> FUi;
};

// Shows the program-wide About box modally; it is created on the first call and
// reused afterwards. `parent` (the main window) owns it and centres it.
void ShowAboutBox(QWidget* parent);
// The About box once it has been shown, otherwise nullptr.
TAboutBox* AboutBox();
