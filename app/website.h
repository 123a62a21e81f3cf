#pragma once
#include <QUrl>
#include <functional>

class QWidget;

// The maker's web address: opened by OpenWebsite and shown by the About box's link.
inline constexpr char WebsiteAddress[] = "https://www.tarvek-systems.example";

// Opens the maker's web site in the user's browser; "Could not open Browser"
// (warning, OK) when that fails.
void OpenWebsite(QWidget* owner);

// What hands a web address to the desktop; true when it was opened. Tests put
// their own in place; an empty function restores QDesktopServices::openUrl.
using TUrlOpener = std::function<bool(const QUrl&)>;
void SetUrlOpener(TUrlOpener opener);
