#include "app/geotagrun.h"

#include <sys/stat.h>

#include <functional>
#include <optional>
#include <string_view>

#include "metadata/applicationprocs.h"
#include "metadata/exiflib.h"
#include "metadata/metaprocs.h"
#include "platform/dialogs.h"
#include "track/position.h"

namespace {

const std::string LatitudeKey = "Exif.GPSInfo.GPSLatitude";
const std::string LongitudeKey = "Exif.GPSInfo.GPSLongitude";
const std::string XmpLatitudeKey = "Xmp.exif.GPSLatitude";
const std::string XmpLongitudeKey = "Xmp.exif.GPSLongitude";

// One question's pair of flags and how an answer code sets them.
struct TQuestion {
  bool Ask = true;
  bool Write = false;

  void Take(int answer) {
    Write = answer == Answer::Yes || answer == Answer::YesToAll;
    Ask = answer == Answer::Yes || answer == Answer::No;
  }
};

std::string_view FileNamePart(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

QString QuestionText(const char* pattern, const QString& displayName) {
  return QString::fromUtf8(pattern).arg(u'"' + displayName + u'"');
}

// Lets the owner write a read-only photo for as long as it is in hand and puts
// the permission bits read before back on every way out, also over a file that
// the save replaced.
class TOwnerWriteGrant {
 public:
  TOwnerWriteGrant(const std::string& path, mode_t mode) : FPath(path), FMode(mode & 07777) {
    ::chmod(FPath.c_str(), FMode | S_IWUSR);
  }
  ~TOwnerWriteGrant() { ::chmod(FPath.c_str(), FMode); }
  TOwnerWriteGrant(const TOwnerWriteGrant&) = delete;
  TOwnerWriteGrant& operator=(const TOwnerWriteGrant&) = delete;

 private:
  std::string FPath;
  mode_t FMode;
};

// Closes the photo on every way out, so that MetaData stays usable after an error too.
class TPhotoCloser {
 public:
  explicit TPhotoCloser(TMetaData& metaData) : FMetaData(metaData) {}
  ~TPhotoCloser() {
    try {
      FMetaData.Close();
    } catch (...) {
      // An error while releasing must not replace the one that is already on its way.
    }
  }
  TPhotoCloser(const TPhotoCloser&) = delete;
  TPhotoCloser& operator=(const TPhotoCloser&) = delete;

 private:
  TMetaData& FMetaData;
};

bool BothPresent(const std::string& latitude, const std::function<std::string()>& longitude) {
  return !latitude.empty() && !longitude().empty();
}

// GPS data in the photo's EXIF, or in the open sidecar, which a later write would replace.
bool HoldsPosition(TMetaData& metaData) {
  if (BothPresent(metaData.ReadExif(LatitudeKey), [&] { return metaData.ReadExif(LongitudeKey); }))
    return true;
  if (!metaData.HasSidecar || metaData.XmpHandle == metaData.MainHandle) return false;
  const TImageHandle sidecar = metaData.XmpHandle;
  return BothPresent(ReadExifValue(sidecar, LatitudeKey),
                     [&] { return ReadExifValue(sidecar, LongitudeKey); }) ||
         BothPresent(ReadXmpValue(sidecar, XmpLatitudeKey),
                     [&] { return ReadXmpValue(sidecar, XmpLongitudeKey); });
}

enum class TPhotoOutcome { Written, Skipped, Untouched };

class TRun {
 public:
  TRun(const TTrackPointList& points, TMetaData& metaData, TRunSink& sink)
      : FPoints(points), FMetaData(metaData), FSink(sink) {}

  TPhotoOutcome Photo(const std::string& path) {
    const std::string name(FileNamePart(path));
    const QString displayName = QString::fromUtf8(name);
    FSink.PhotoStarted(displayName);

    struct stat attributes {};
    if (::stat(path.c_str(), &attributes) != 0) return TPhotoOutcome::Skipped;
    const bool readOnly = (attributes.st_mode & S_IWUSR) == 0;
    if (readOnly) {
      if (FReadOnly.Ask) {
        FSink.SetBusy(false);
        FReadOnly.Take(FSink.Ask(QuestionText(
            "The file %1 is write protected. Are you sure you want to save the changes?",
            displayName)));
      }
      if (!FReadOnly.Write) return TPhotoOutcome::Untouched;
    }
    std::optional<TOwnerWriteGrant> grant;
    if (readOnly) grant.emplace(path, attributes.st_mode);

    FSink.SetBusy(true);
    if (!FMetaData.Open(path, false, true, {})) return TPhotoOutcome::Skipped;
    TPhotoCloser closer(FMetaData);

    std::string latitude, longitude;
    if (!FindPosition(FPoints, FMetaData.CaptureTime, latitude, longitude))
      return TPhotoOutcome::Skipped;

    if (HoldsPosition(FMetaData)) {
      if (FOverwrite.Ask) {
        FSink.SetBusy(false);
        FOverwrite.Take(FSink.Ask(QuestionText("Overwrite existing GPS data in %1?", displayName)));
      }
      if (!FOverwrite.Write) return TPhotoOutcome::Skipped;
    }

    if (IndexOfExtension(WritableExtensions, ExtensionKey(name)) < 0) {
      FMetaData.AddSidecar();
      if (!FMetaData.HasSidecar) return TPhotoOutcome::Skipped;
    }
    FMetaData.WriteGps(LatitudeKey, XmpLatitudeKey, latitude);
    FMetaData.WriteGps(LongitudeKey, XmpLongitudeKey, longitude);
    return FMetaData.Save() ? TPhotoOutcome::Written : TPhotoOutcome::Skipped;
  }

 private:
  const TTrackPointList& FPoints;
  TMetaData& FMetaData;
  TRunSink& FSink;
  TQuestion FReadOnly;
  TQuestion FOverwrite;
};

}  // namespace

QString FinalRunText(int skippedCount) {
  if (skippedCount == 0) return QStringLiteral("Finished.");
  return QStringLiteral("Finished (skipped %1 %2).")
      .arg(skippedCount)
      .arg(skippedCount == 1 ? QStringLiteral("file") : QStringLiteral("files"));
}

TRunResult RunGeotagging(const std::vector<std::string>& imageFiles, const TTrackPointList& points,
                         TMetaData& metaData, TRunSink& sink) {
  TRunResult result;
  const int total = static_cast<int>(imageFiles.size());
  try {
    sink.RunStarted(total);
    TRun run(points, metaData, sink);
    for (int i = 0; i < total; ++i) {
      switch (run.Photo(imageFiles[i])) {
        case TPhotoOutcome::Written: ++result.WrittenCount; break;
        case TPhotoOutcome::Skipped: ++result.SkippedCount; break;
        case TPhotoOutcome::Untouched: break;
      }
    }
  } catch (...) {
    sink.RunFinished(FinalRunText(result.SkippedCount));
    throw;
  }
  sink.RunFinished(FinalRunText(result.SkippedCount));
  return result;
}
