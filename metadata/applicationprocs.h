#pragma once
#include <string>
#include <string_view>
#include <vector>

// Extension lists: lower-case, leading dot, in their fixed order.
using TExtensionList = std::vector<std::string>;
extern TExtensionList BaseExtensions;
extern TExtensionList WritableExtensions;
extern TExtensionList SupportedExtensions;

// Builds the three lists; runs once at start-up.
void BuildExtensionLists();
// Index of the first entry equal to `key` ignoring case, -1 when none.
int IndexOfExtension(const TExtensionList& list, std::string_view key);

// From the last dot of the file name to its end, lower-cased; empty when there is none.
std::string ExtensionKey(std::string_view fileName);

// Fills `files` with the full paths of the folder's entries (sub-folders passed
// over) whose ExtensionKey is in `extensions`, ordered by file name.
void ScanFolder(const std::string& folder, std::vector<std::string>& files,
                const TExtensionList& extensions);
