// Listing a staged product folder as a manifest's file list.
#pragma once

#include <string>
#include <vector>

#include "manifest.h"

namespace varnel {

// The files and folders below `directory`, relative to the installation
// folder: files directly inside it under ".", a sub-folder under ".\sub".
// Each folder's own entry (empty name) comes before the entries of what it
// holds, so the uninstaller, which works from the last entry to the first,
// empties a folder before it removes it. Names are sorted by their bytes;
// files come before sub-folders. The staged folder itself gets no entry.
// Throws std::runtime_error when the folder cannot be read.
std::vector<FileItem> scanDirectory(const std::string& directory);

} // namespace varnel
