#include "platform/messagedialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTextLayout>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

namespace {

struct TButtonInfo {
  unsigned Bit;
  const char* Name;
  const char* Caption;
  int Code;  // 0: the button does not end the dialog
};

// The fixed order of the row, left to right.
constexpr std::array<TButtonInfo, 11> ButtonTable{{
    {Buttons::Yes, "Yes", "&Yes", Answer::Yes},
    {Buttons::No, "No", "&No", Answer::No},
    {Buttons::Ok, "OK", "OK", Answer::Ok},
    {Buttons::Cancel, "Cancel", "Cancel", Answer::Cancel},
    {Buttons::Abort, "Abort", "&Abort", Answer::Abort},
    {Buttons::Retry, "Retry", "&Retry", Answer::Retry},
    {Buttons::Ignore, "Ignore", "&Ignore", Answer::Ignore},
    {Buttons::All, "All", "&All", Answer::All},
    {Buttons::NoToAll, "NoToAll", "N&o to All", Answer::NoToAll},
    {Buttons::YesToAll, "YesToAll", "Yes to &All", Answer::YesToAll},
    {Buttons::Help, "Help", "&Help", 0},
}};

constexpr int ButtonWidth = 75;
constexpr int ButtonHeight = 25;
constexpr int TextWidthLimit = 420;

QStyle::StandardPixmap KindIcon(TMsgKind kind) {
  switch (kind) {
    case TMsgKind::Warning: return QStyle::SP_MessageBoxWarning;
    case TMsgKind::Information: return QStyle::SP_MessageBoxInformation;
    case TMsgKind::Error: break;
  }
  return QStyle::SP_MessageBoxCritical;
}

// The text broken into lines no wider than `width`: at word boundaries, and
// anywhere inside a word too long for a line (a long file name).
QString WrappedText(const QString& text, const QFont& font, int width) {
  QStringList lines;
  for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
    QTextLayout layout(paragraph, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(width);
      lines.append(paragraph.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    if (paragraph.isEmpty()) lines.append(QString());
  }
  return lines.join(QLatin1Char('\n'));
}

}  // namespace

QString KindTitle(TMsgKind kind) {
  switch (kind) {
    case TMsgKind::Warning: return QStringLiteral("Warning");
    case TMsgKind::Information: return QStringLiteral("Information");
    case TMsgKind::Error: break;
  }
  return ApplicationTitle();
}

TMessageDialog::TMessageDialog(const QString& text, TMsgKind kind, unsigned buttons,
                               const QString& title, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("MessageDialog"));
  setWindowTitle(title.isEmpty() ? KindTitle(kind) : title);

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("Image"));
  const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  icon->setPixmap(style()->standardIcon(KindIcon(kind), nullptr, this).pixmap(iconSize, iconSize));
  icon->setAlignment(Qt::AlignTop | Qt::AlignLeft);

  auto* message = new QLabel(this);
  message->setObjectName(QStringLiteral("Message"));
  message->setTextFormat(Qt::PlainText);
  message->setText(WrappedText(text, message->font(), TextWidthLimit));
  message->setFixedSize(message->sizeHint());

  auto* row = new QHBoxLayout;
  row->setSpacing(8);
  row->addStretch();
  int width = ButtonWidth;
  for (const TButtonInfo& info : ButtonTable) {
    if (!(buttons & info.Bit)) continue;
    auto* button = new QPushButton(QString::fromLatin1(info.Caption), this);
    button->setObjectName(QString::fromLatin1(info.Name));
    width = std::max(width, button->fontMetrics().horizontalAdvance(button->text().remove(QLatin1Char('&'))) + 16);
    const int code = info.Code;
    if (code != 0) connect(button, &QPushButton::clicked, this, [this, code] { done(code); });
    FButtons.push_back({info.Bit, button});
    row->addWidget(button);
  }
  row->addStretch();
  for (const TButtonEntry& entry : FButtons) entry.Button->setFixedSize(width, ButtonHeight);

  if (buttons & Buttons::Ok) FDefault = Button(Buttons::Ok);
  else if (buttons & Buttons::Yes) FDefault = Button(Buttons::Yes);
  else FDefault = Button(Buttons::Retry);
  if (buttons & Buttons::Cancel) FCancel = Button(Buttons::Cancel);
  else if (buttons & Buttons::No) FCancel = Button(Buttons::No);
  else FCancel = Button(Buttons::Ok);
  if (FDefault) {
    FDefault->setDefault(true);
    FDefault->setFocus();
  }

  auto* body = new QHBoxLayout;
  body->setSpacing(12);
  body->addWidget(icon, 0, Qt::AlignTop);
  body->addWidget(message, 0, Qt::AlignLeft | Qt::AlignVCenter);
  body->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 12, 12, 10);
  layout->setSpacing(14);
  layout->addLayout(body);
  layout->addLayout(row);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

QPushButton* TMessageDialog::Button(unsigned button) const {
  const auto it = std::find_if(FButtons.begin(), FButtons.end(),
                               [button](const TButtonEntry& entry) { return entry.Bit == button; });
  return it == FButtons.end() ? nullptr : it->Button;
}

void TMessageDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    if (FCancel) FCancel->click();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

// Reached by the title bar's close box (Escape is handled above).
void TMessageDialog::reject() { done(Answer::Cancel); }
