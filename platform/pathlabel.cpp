#include "platform/pathlabel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

QString PathEllipsis(const QString& text, const QFontMetrics& metrics, int width) {
  if (metrics.horizontalAdvance(text) <= width) return text;
  const QString ellipsis = QStringLiteral("...");
  const qsizetype slash = text.lastIndexOf(QLatin1Char('/'));
  const QString tail = slash < 0 ? QString() : text.mid(slash);
  const QString head = slash < 0 ? text : text.left(slash);
  // Longest start of the folder part that fits before "...", then the name.
  qsizetype low = 0, high = head.size();
  if (metrics.horizontalAdvance(ellipsis + tail) <= width) {
    while (low < high) {
      const qsizetype mid = (low + high + 1) / 2;
      if (metrics.horizontalAdvance(head.left(mid) + ellipsis + tail) <= width) low = mid;
      else high = mid - 1;
    }
    return head.left(low) + ellipsis + tail;
  }
  // Not even the name fits: as much of it as the width takes.
  return metrics.elidedText(ellipsis + tail, Qt::ElideRight, width);
}

TPathLabel::TPathLabel(QWidget* parent) : QLabel(parent) {}

QString TPathLabel::ShownText() const { return PathEllipsis(text(), fontMetrics(), contentsRect().width()); }

void TPathLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOption option;
  option.initFrom(this);
  style()->drawItemText(&painter, contentsRect(), QStyle::visualAlignment(layoutDirection(), alignment()),
                        option.palette, isEnabled(), ShownText(), foregroundRole());
}
