#include "metadata/exiflib.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <cstring>

#include "tvkmd/tvkmd.h"

namespace {

using ReadOperation = std::int32_t (*)(TvkHandle, const char*, char*, std::int32_t);

std::string ReadText(ReadOperation read, TImageHandle handle, const std::string& key) {
  TextBuffer<KeyBufferSize> keyBuffer;
  if (!keyBuffer.Set(key)) return {};
  char value[ValueBufferSize];
  FloatingPointGuard guard;
  if (read(handle, keyBuffer.Text(), value, sizeof value) != TvkOk) return {};
  // A value that fills the whole buffer comes without NUL.
  return std::string(value, strnlen(value, sizeof value));
}

}  // namespace

std::string AnsiToUtf8(std::string_view text) {
  const QByteArray bytes = QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size()));
  QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
  const QString decoded = utf8(bytes);
  if (!utf8.hasError()) return std::string(text);
  return QString::fromLatin1(bytes).toStdString();
}

TImageHandle OpenImage(const std::string& path) {
  TextBuffer<PathBufferSize> pathBuffer;
  if (!pathBuffer.Set(path)) return 0;
  FloatingPointGuard guard;
  return OpenFileImage(pathBuffer.Text(), TvkOpenMode);
}

std::string ReadExifValue(TImageHandle handle, const std::string& key) {
  return ReadText(&ReadEXIFMeta, handle, key);
}

std::string ReadXmpValue(TImageHandle handle, const std::string& key) {
  return ReadText(&ReadXMPMeta, handle, key);
}

double ReadMetaDouble(TImageHandle handle, const std::string& key) {
  TextBuffer<KeyBufferSize> keyBuffer;
  if (!keyBuffer.Set(key)) return 0.0;
  double value = 0.0;
  FloatingPointGuard guard;
  return ReadMetaDbl(handle, keyBuffer.Text(), &value) == TvkOk ? value : 0.0;
}

bool WriteXmpValue(TImageHandle handle, const std::string& key, const std::string& value, int type) {
  TextBuffer<KeyBufferSize> keyBuffer;
  TextBuffer<ValueBufferSize> valueBuffer;
  if (!keyBuffer.Set(key) || !valueBuffer.Set(AnsiToUtf8(value))) return false;
  FloatingPointGuard guard;
  return ModifyXMPMeta(handle, keyBuffer.Text(), valueBuffer.Text(), type) == TvkOk;
}
