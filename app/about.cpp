#include "app/about.h"

#include <QGraphicsDropShadowEffect>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>

#include "app/website.h"
#include "platform/fonts.h"
#include "ui_about.h"

namespace {

QPointer<TAboutBox>& AboutBoxInstance() {
  static QPointer<TAboutBox> box;
  return box;
}

void AddWhiteShadow(QWidget* label) {
  auto* shadow = new QGraphicsDropShadowEffect(label);
  shadow->setColor(Qt::white);
  shadow->setOffset(1, 1);
  shadow->setBlurRadius(0);
  label->setGraphicsEffect(shadow);
}

QFont BoldArial(int pixelSize) {
  QFont font = ArialFont(pixelSize);
  font.setBold(true);
  return font;
}

}  // namespace

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowStaysOnTopHint),
      FUi(std::make_unique<Ui::TAboutBox>()) {
  FUi->setupUi(this);
  FormCreate();
}

TAboutBox::~TAboutBox() = default;

void TAboutBox::FormCreate() {
  setFixedSize(312, 212);
  setFont(WindowFont());
  setWindowIcon(QIcon(QStringLiteral(":/lumiv.png")));
  FUi->laTitle->setFont(BoldArial(19));
  FUi->laVersion->setFont(BoldArial(15));
  AddWhiteShadow(FUi->laTitle);
  AddWhiteShadow(FUi->laVersion);
  FUi->laVersion->setText(QStringLiteral("1.20"));
  FUi->LA_Website2->setText(QString::fromLatin1(WebsiteAddress));
  FUi->LA_Website2->installEventFilter(this);
  connect(FUi->OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutBox::LA_Website2Click() { OpenWebsite(this); }

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FUi->LA_Website2 && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    LA_Website2Click();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

// Without a cancel button Escape does not close the box; only OK (or Enter) does.
void TAboutBox::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void ShowAboutBox(QWidget* parent) {
  QPointer<TAboutBox>& box = AboutBoxInstance();
  if (!box) box = new TAboutBox(parent);
  box->exec();
}

TAboutBox* AboutBox() { return AboutBoxInstance(); }
