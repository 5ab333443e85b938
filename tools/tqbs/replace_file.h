// Replaces a file's contents whole: readers see the old file or the new one,
// never a part, and nothing is written through a name someone else planted.
#ifndef TQBS_REPLACE_FILE_H
#define TQBS_REPLACE_FILE_H

#include <string>

namespace tqbs {

// Writes contents to a private temporary file (mkstemp) in path's directory,
// gives it mode 0644 and renames it over path; a link at path is replaced, not
// followed. false with *error set when that fails; no temporary stays behind.
bool ReplaceFile(const std::string& path, const std::string& contents, std::string* error);

}  // namespace tqbs

#endif  // TQBS_REPLACE_FILE_H
