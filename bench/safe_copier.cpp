// The reference safe copier over a folder, for bench/e2e.sh: rewrites every file
// of FOLDER (sub-folders passed over) in place through SafeCopy.
//   safe_copier FOLDER
#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "safecopy.h"

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: safe_copier FOLDER\n");
    return 2;
  }
  try {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1]))
      if (entry.is_regular_file()) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    for (const std::string& file : files) SafeCopy(file, file);
    std::printf("%zu files rewritten\n", files.size());
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "safe_copier: %s\n", error.what());
    return 1;
  }
}
