// Folders as input: the movie files a folder holds, found the same way wherever a folder is
// given (the command line, "Add folder...", a folder dropped on the window).
#pragma once

#include <string>
#include <vector>

namespace tav {

// Whether a file name (without folder) is one of the converter's own outputs, which start
// like the default output name ("[QVF]-clip.qvf", "[QVF]-clip0002.qvf").
bool IsOwnOutputName(const std::string& fileName);

// Every movie file inside folder and its subfolders, as full names: the entries of each
// folder in name order (byte order), a subfolder's movies at the subfolder's place. Left out:
// names IsMovieFile refuses, the converter's own outputs, hidden files and folders (names
// starting with "."), anything that is not a regular file (a pipe would block the probe), and
// a folder reached a second time through a link (a loop). Folders that cannot be read are
// passed over. Empty when folder is no folder.
std::vector<std::string> MovieFilesInFolder(const std::string& folder);

// Whether path names a folder (following links).
bool IsFolder(const std::string& path);

}  // namespace tav
