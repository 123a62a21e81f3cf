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
  // The longest `count` for which make(count) still fits.
  const auto longest = [&](qsizetype most, const auto& make) {
    qsizetype low = 0, high = most;
    while (low < high) {
      const qsizetype mid = (low + high + 1) / 2;
      if (metrics.horizontalAdvance(make(mid)) <= width) low = mid;
      else high = mid - 1;
    }
    return make(low);
  };
  // The start of the folder part, "...", and the whole name.
  if (metrics.horizontalAdvance(ellipsis + tail) <= width)
    return longest(head.size(), [&](qsizetype n) { return head.left(n) + ellipsis + tail; });
  // Not even the name fits: as much of its start as the width takes.
  return longest(tail.size(), [&](qsizetype n) { return ellipsis + tail.left(n) + ellipsis; });
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
