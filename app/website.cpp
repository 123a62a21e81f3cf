#include "app/website.h"

#include <QDesktopServices>

#include "platform/dialogs.h"

namespace {

TUrlOpener& UrlOpener() {
  static TUrlOpener opener;
  return opener;
}

}  // namespace

void SetUrlOpener(TUrlOpener opener) { UrlOpener() = std::move(opener); }

// The owner is not needed: message boxes are centred on the screen.
void OpenWebsite([[maybe_unused]] QWidget* owner) {
  const QUrl address(QString::fromLatin1(WebsiteAddress));
  const TUrlOpener& opener = UrlOpener();
  const bool opened = opener ? opener(address) : QDesktopServices::openUrl(address);
  if (!opened)
    Dialogs().ShowMessage(QStringLiteral("Could not open Browser"), TMsgKind::Warning, Buttons::Ok);
}
