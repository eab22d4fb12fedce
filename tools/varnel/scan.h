// Listing a staged product folder as a manifest's file list.
#pragma once

#include <string>
#include <vector>

#include "manifest.h"

namespace varnel {

// What a scan found: the file list, and what the vendor should look at.
struct ScanReport {
    std::vector<FileItem> files;
    uint64_t bytes = 0;                // the sizes of the files listed, added up
    size_t unstorable = 0;             // names that the code page cannot store
    std::vector<std::string> warnings; // "PATH: ...": symbolic links passed over
    std::vector<std::string> errors;   // "PATH: ...": names that cannot be stored, loops
};

// The files and folders below `directory`, relative to the installation
// folder: files directly inside it under ".", a sub-folder under ".\sub".
// Each folder's own entry (empty name) comes before the entries of what it
// holds, so the uninstaller, which works from the last entry to the first,
// empties a folder before it removes it. Names are taken to normal form C
// (as a Mac gives them decomposed) and sorted by their bytes; files come
// before sub-folders. Symbolic links are neither followed nor listed (a
// warning each); a folder met twice (a loop) is not entered again (an
// error); a name that is not UTF-8, or that `codePage` cannot store, is an
// error. The staged folder itself gets no entry. A file or folder that one of
// `excludes` matches, by its name or by its path below `directory` written
// with "/" ("*.pdb", "docs/drafts"; "*" any run of characters, "?" one, ASCII
// letters in either case), is neither listed nor entered. Throws
// std::runtime_error when the folder cannot be read.
ScanReport scanTree(const std::string& directory, unsigned codePage = 1252,
                    const std::vector<std::string>& excludes = {});

// The estimated size of Programs and Features: KB (1,024 bytes) rounded up.
uint32_t estimatedSizeKb(uint64_t bytes);

// The file list alone; throws std::runtime_error on the first error.
std::vector<FileItem> scanDirectory(const std::string& directory, unsigned codePage = 1252);

} // namespace varnel
