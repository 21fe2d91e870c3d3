// Names of files: strings of bytes with "/" between folders, used exactly as given (never converted
// through a text type). Pure text: nothing here looks at the file system.
#pragma once

#include <string>

namespace kavrimo {

// The folder that holds path: "." for a bare name, "/" for a name at the root, else everything
// before the last "/" ("a/b/c" -> "a/b").
std::string FolderOf(const std::string& path);
// The last component of path: everything after its last "/" (empty when path ends in "/").
std::string NameOf(const std::string& path);
// folder and name joined by one "/" ("a" + "b" -> "a/b", "a/" + "b" -> "a/b"); name alone when folder
// is empty.
std::string JoinPath(const std::string& folder, const std::string& name);
// folder ending in "/" ("" -> "./").
std::string WithTrailingSlash(std::string folder);
bool IsAbsolutePath(const std::string& path);

// name with its extension replaced by extension (which includes the "."): the last ".", "/", "\" or
// ":" of name decides; only a "." there starts an extension to drop. "dem.flt" -> "dem.hdr",
// "old.grids/dem" -> "old.grids/dem.hdr".
std::string ReplaceExtension(const std::string& name, const std::string& extension);
// True when name ends in extension (which includes the "."), in any ASCII letter case.
bool HasExtension(const std::string& name, const std::string& extension);

}  // namespace kavrimo
