#include "app/about.h"

#include <QGraphicsDropShadowEffect>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>

#include "app/website.h"
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

QFont PixelFont(const QString& family, int pixelSize, bool bold) {
  QFont font(family);
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

}  // namespace

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowStaysOnTopHint),
      FUi(std::make_unique<Ui::TAboutBox>()) {
  // The pictures live in a static library: make sure the linker keeps them.
  Q_INIT_RESOURCE(about);
  FUi->setupUi(this);
  FormCreate();
}

TAboutBox::~TAboutBox() = default;

void TAboutBox::FormCreate() {
  setFixedSize(312, 212);
  setFont(PixelFont(QStringLiteral("Tahoma"), 11, false));
  setWindowIcon(QIcon(QStringLiteral(":/lumiv.png")));
  FUi->laTitle->setFont(PixelFont(QStringLiteral("Arial"), 19, true));
  FUi->laVersion->setFont(PixelFont(QStringLiteral("Arial"), 15, true));
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
