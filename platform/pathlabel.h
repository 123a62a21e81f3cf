#pragma once
#include <QLabel>
#include <QString>

class QFontMetrics;

// `text` shortened to `width` pixels by an ellipsis in its middle, keeping as
// much as possible of the part after the last '/'.
QString PathEllipsis(const QString& text, const QFontMetrics& metrics, int width);

// A label that shows a path too long for it with an ellipsis in its middle;
// text() keeps the whole path.
class TPathLabel : public QLabel {
  Q_OBJECT

 public:
  explicit TPathLabel(QWidget* parent = nullptr);
  // What the label shows at its current width.
  QString ShownText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
};
