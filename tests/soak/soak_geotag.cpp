// The soak's child: one geotagging run over a folder, as the Start button runs it, with
// every question answered the same way. Prints "written W skipped S".
//   soak_geotag [--answer yes|no] [--user UID] TRACK FOLDER
// --answer yes answers Yes to All, no answers No. --user drops to that uid and gid first
// (when root), so that permission bits bind.
#include <grp.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/geotagrun.h"
#include "metadata/applicationprocs.h"
#include "metadata/metaprocs.h"
#include "platform/dialogs.h"
#include "track/gpxreader.h"
#include "track/timeshift.h"

namespace {

class TAnsweringSink final : public TRunSink {
 public:
  explicit TAnsweringSink(int answer) : FAnswer(answer) {}
  void RunStarted(int) override {}
  void PhotoStarted(const QString&) override {}
  int Ask(const QString&) override { return FAnswer; }
  void SetBusy(bool) override {}
  void RunFinished(const QString&) override {}

 private:
  int FAnswer;
};

int Usage() {
  std::fprintf(stderr, "usage: soak_geotag [--answer yes|no] [--user UID] TRACK FOLDER\n");
  return 2;
}

bool DropTo(unsigned id) {
  if (::geteuid() != 0) return true;
  return ::setgroups(0, nullptr) == 0 && ::setgid(id) == 0 && ::setuid(id) == 0 && ::setuid(0) != 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  int answer = Answer::YesToAll;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--answer" && i + 1 < argc) {
      const std::string value = argv[++i];
      if (value != "yes" && value != "no") return Usage();
      answer = value == "yes" ? Answer::YesToAll : Answer::No;
    } else if (argument == "--user" && i + 1 < argc) {
      if (!DropTo(static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10)))) {
        std::fprintf(stderr, "soak_geotag: cannot drop privileges\n");
        return 3;
      }
    } else {
      paths.push_back(argument);
    }
  }
  if (paths.size() != 2) return Usage();

  BuildExtensionLists();
  // Track times are taken as camera times.
  TTimeZoneOptions options;
  options.LocalTime = false;
  options.SelectedZone = "(UTC+00:00) UTC";
  TGpxReader reader;
  if (!reader.LoadFile(paths[0])) {
    std::fprintf(stderr, "soak_geotag: cannot read %s\n", paths[0].c_str());
    return 3;
  }
  TTrackPointList points;
  reader.Scan(points, options);
  SortTrackPoints(points);

  std::vector<std::string> photos;
  ScanFolder(paths[1], photos, SupportedExtensions);
  TMetaData metaData;
  TAnsweringSink sink(answer);
  const TRunResult result = RunGeotagging(photos, points, metaData, sink);
  std::printf("written %d skipped %d\n", result.WrittenCount, result.SkippedCount);
  return 0;
}
