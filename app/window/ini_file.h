// TIniFile: the settings file, an initialisation-style text file of [section] lines and key=value
// lines, read and written one key at a time straight to the file (no cache).
//
// Sections and keys match without regard to ASCII letter case; every line the writer does not
// replace is kept byte for byte, and every value written is read back byte for byte: a value that
// begins or ends with a blank, or is itself in double quotes, is stored in double quotes, and reading
// takes the quotes off a value stored in them. A write replaces the file as a whole, as every output
// is replaced (runtime/temporary_output.h), so a failure never leaves a half-written settings file.
#pragma once

#include <string>

namespace kavrimo {

class TIniFile {
 public:
  // Whether a write may create the folders on the way to the file.
  enum class Folder { MustExist, CreateMissing };

  // Keeps the full path only; neither opens nor creates the file (nor its folder).
  explicit TIniFile(std::string file_name, Folder folder = Folder::MustExist);
  // Flushes the file to disk (as UpdateFile); never raises.
  ~TIniFile();
  TIniFile(const TIniFile&) = delete;
  TIniFile& operator=(const TIniFile&) = delete;

  const std::string& FileName() const { return file_name_; }

  // The value of key in section: the text after the "=", blanks around it removed, then the double
  // quotes around it, if it has them (one pair); default_value when the file, the section or the key
  // is missing or the file cannot be read. Never raises.
  std::string ReadString(const std::string& section, const std::string& key, const std::string& default_value) const;

  // Sets key in section to value, creating the file, the section or the key when missing and
  // replacing an existing value. A value that cannot be kept (CanKeep) raises EIniFileException
  // "Unable to write to <FileName>: the value holds a line break", the file untouched. With
  // Folder::CreateMissing, missing folders on the way are made first (mode 0700, as a user's
  // configuration folder). Raises EIniFileException "Unable to write to <FileName>" when the file
  // or its directory cannot be written or made; the file is then as it was.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);

  // Whether a value can be written and read back: a value is one line, without a line break (a
  // carriage return or a line feed).
  static bool CanKeep(const std::string& value);

  // Asks the system to write the file's cached data to disk; does nothing when there is no file.
  // Never raises.
  void UpdateFile() const;

 private:
  std::string file_name_;
  Folder folder_;
};

}  // namespace kavrimo
