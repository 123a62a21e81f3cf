#include "metadata/applicationprocs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "photofixtures.h"

using namespace fixtures;

namespace {

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start < text.size()) {
    const auto space = text.find(' ', start);
    parts.push_back(text.substr(start, space - start));
    start = space == std::string::npos ? text.size() : space + 1;
  }
  return parts;
}

}  // namespace

TEST(ExtensionLists, HoldTheirMembersInOrder) {
  BuildExtensionLists();
  EXPECT_EQ(BaseExtensions, Split(".jpg .jpeg .tif .tiff"));
  EXPECT_EQ(WritableExtensions, Split(".jpg .jpeg .tif .tiff .crw .dng .nef .pef .jp2 .psd .orf .thm"));
  EXPECT_EQ(SupportedExtensions, Split(".jpg .jpeg .tif .tiff .crw .dng .nef .pef .jp2 .psd .orf .cr2 .raw .raf "
                                       ".bay .srf .mrw .dcr .srw .kdc .arw .mef .3fr .k25 .erf .sr2 .rw2 .rwl .thm"));
  for (const std::string& writable : WritableExtensions) EXPECT_GE(IndexOfExtension(SupportedExtensions, writable), 0);
  BuildExtensionLists();
  EXPECT_EQ(SupportedExtensions.size(), 29u);
  EXPECT_EQ(WritableExtensions.size(), 12u);
}

TEST(ExtensionLists, LookUpIgnoresCase) {
  BuildExtensionLists();
  struct Case {
    const char* key;
    int index;
  };
  const Case cases[] = {{".jpg", 0}, {".JPG", 0}, {".Tiff", 3}, {".thm", 28}, {".ARW", 20},
                        {".xmp", -1}, {"", -1}, {"jpg", -1}, {".jpg ", -1}};
  for (const Case& c : cases) EXPECT_EQ(IndexOfExtension(SupportedExtensions, c.key), c.index) << c.key;
  EXPECT_EQ(IndexOfExtension(WritableExtensions, ".cr2"), -1);
  EXPECT_EQ(IndexOfExtension({".\xC3\xA9t\xC3\xA9"}, ".\xC3\x89T\xC3\x89"), 0);
}

TEST(ExtensionKey, TakesTheLastDotOfTheFileNameLowerCased) {
  struct Case {
    const char* name;
    const char* key;
  };
  const Case cases[] = {
      {"photo.JPG", ".jpg"},
      {"/photos/2021/IMG_0001.Cr2", ".cr2"},
      {"archive.tar.gz", ".gz"},
      {".jpg", ".jpg"},
      {"noextension", ""},
      {"/folder.jpg/noextension", ""},
      {"trailingdot.", "."},
      {"photo.\xC3\x89T\xC3\x89", ".\xC3\xA9t\xC3\xA9"},        // É to é
      {"photo.\xC3\x9F", ".\xC3\x9F"},                          // ß stays
      {"photo.\xCE\xA3\xCE\xA3", ".\xCF\x83\xCF\x83"},          // Σ to σ
  };
  for (const Case& c : cases) EXPECT_EQ(ExtensionKey(c.name), c.key) << c.name;
}

TEST(ScanFolder, ListsSupportedFilesByNameAndPassesOverFolders) {
  BuildExtensionLists();
  TempFolder folder;
  for (const char* name : {"b.JPG", "a.jpg", "c.cr2", ".hidden.tif", "notes.txt", "photo.xmp", "noextension",
                           "d.jpeg", "Z.arw", "e.thm", ".photo.jpg.abc12345.tmp"})
    WriteBytes(folder.File(name), TinyJpeg());
  ASSERT_EQ(::chmod(folder.File("d.jpeg").c_str(), 0444), 0);
  ASSERT_EQ(::mkdir(folder.File("album.jpg").c_str(), 0755), 0);
  WriteBytes(folder.File("album.jpg/inner.jpg"), TinyJpeg());
  ASSERT_EQ(::symlink("album.jpg", folder.File("linked.jpg").c_str()), 0);
  ASSERT_EQ(::symlink("a.jpg", folder.File("alias.jpg").c_str()), 0);

  std::vector<std::string> files = {"stale entry"};
  ScanFolder(folder.Path(), files, SupportedExtensions);
  std::vector<std::string> expected;
  for (const char* name : {".hidden.tif", "Z.arw", "a.jpg", "alias.jpg", "b.JPG", "c.cr2", "d.jpeg", "e.thm"})
    expected.push_back(folder.File(name));
  EXPECT_EQ(files, expected);

  ScanFolder(folder.Path() + "/", files, SupportedExtensions);
  EXPECT_EQ(files, expected);

  ScanFolder(folder.Path(), files, BaseExtensions);
  EXPECT_EQ(files.size(), 5u);
}

TEST(ScanFolder, AFolderThatCannotBeListedGivesNothing) {
  BuildExtensionLists();
  TempFolder folder;
  std::vector<std::string> files = {"stale entry"};
  for (const std::string& path : {folder.File("missing"), std::string(), folder.File("file.jpg")}) {
    if (path == folder.File("file.jpg")) WriteBytes(path, TinyJpeg());
    ScanFolder(path, files, SupportedExtensions);
    EXPECT_TRUE(files.empty()) << path;
  }
  ASSERT_EQ(::mkdir(folder.File("closed").c_str(), 0755), 0);
  WriteBytes(folder.File("closed/a.jpg"), TinyJpeg());
  ASSERT_TRUE(GiveToUnprivileged(folder.File("closed")));
  ASSERT_EQ(::chmod(folder.File("closed").c_str(), 0), 0);
  const std::string message = RunUnprivileged([&]() -> std::string {
    std::vector<std::string> listed = {"stale entry"};
    ScanFolder(folder.File("closed"), listed, SupportedExtensions);
    return listed.empty() ? "" : std::to_string(listed.size()) + " entries listed";
  });
  if (message.rfind("SKIP", 0) == 0) GTEST_SKIP() << message;
  EXPECT_EQ(message, "");
}
