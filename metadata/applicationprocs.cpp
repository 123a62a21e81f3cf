#include "metadata/applicationprocs.h"

#include <QString>
#include <algorithm>
#include <filesystem>
#include <system_error>

TExtensionList BaseExtensions;
TExtensionList WritableExtensions;
TExtensionList SupportedExtensions;

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) >= 1 && static_cast<unsigned char>(c) <= 32; }

// Refills `list` from a comma text: blanks (codes 1 to 32) around entries and
// commas are skipped; an entry ends at a comma or at a code of 32 or below.
void SetCommaText(TExtensionList& list, std::string_view text) {
  list.clear();
  text = text.substr(0, text.find('\0'));
  std::size_t at = 0;
  const auto skipBlanks = [&] {
    while (at < text.size() && IsBlank(text[at])) ++at;
  };
  skipBlanks();
  while (at < text.size()) {
    const std::size_t start = at;
    while (at < text.size() && text[at] != ',' && static_cast<unsigned char>(text[at]) > 32) ++at;
    list.emplace_back(text.substr(start, at - start));
    skipBlanks();
    if (at < text.size() && text[at] == ',') {
      ++at;
      skipBlanks();
    }
  }
}

// The entries joined by commas, without blanks.
std::string CommaText(const TExtensionList& list) {
  std::string text;
  for (const std::string& entry : list) {
    if (!text.empty()) text += ',';
    text += entry;
  }
  return text;
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (IsAscii(a) && IsAscii(b))
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
  return FromUtf8(a).compare(FromUtf8(b), Qt::CaseInsensitive) == 0;
}

}  // namespace

void BuildExtensionLists() {
  SetCommaText(BaseExtensions, ".jpg, .jpeg, .tif, .tiff");
  SetCommaText(WritableExtensions, CommaText(BaseExtensions) + ", .crw, .dng, .nef, .pef, .jp2, .psd, .orf");
  SetCommaText(SupportedExtensions, CommaText(WritableExtensions) +
                                        ", .cr2, .raw, .raf, .bay, .srf, .mrw, .dcr, .srw" +
                                        ", .kdc, .arw, .mef, .3fr, .k25, .erf, .sr2, .rw2, .rwl");
  SetCommaText(WritableExtensions, CommaText(WritableExtensions) + ", .thm");
  SetCommaText(SupportedExtensions, CommaText(SupportedExtensions) + ", .thm");
}

int IndexOfExtension(const TExtensionList& list, std::string_view key) {
  for (std::size_t i = 0; i < list.size(); ++i)
    if (SameIgnoringCase(list[i], key)) return static_cast<int>(i);
  return -1;
}

std::string ExtensionKey(std::string_view fileName) {
  const auto dot = fileName.rfind('.');
  if (dot == std::string_view::npos || fileName.find('/', dot) != std::string_view::npos) return {};
  const std::string_view extension = fileName.substr(dot);
  if (!IsAscii(extension)) return FromUtf8(extension).toLower().toStdString();
  std::string key(extension);
  std::transform(key.begin(), key.end(), key.begin(), AsciiLower);
  return key;
}

void ScanFolder(const std::string& folder, std::vector<std::string>& files, const TExtensionList& extensions) {
  files.clear();
  if (folder.empty()) return;
  std::string base = folder;
  if (base.size() > 1 && base.back() == '/') base.pop_back();
  std::error_code error;
  std::filesystem::directory_iterator entries(base, error);
  if (error) return;
  std::vector<std::string> names;
  for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
    std::error_code kindError;
    if (entries->is_directory(kindError)) continue;
    std::string name = entries->path().filename().string();
    if (IndexOfExtension(extensions, ExtensionKey(name)) >= 0) names.push_back(std::move(name));
  }
  // A directory listing has no stable order; the run goes by file name.
  std::sort(names.begin(), names.end());
  const std::string prefix = base == "/" ? base : base + "/";
  for (const std::string& name : names) files.push_back(prefix + name);
}
