// The application's title (from the executable's name) and its icon.
#pragma once

#include <QIcon>
#include <QString>

namespace kavrimo {

// The file name of executable_path without its directory and without everything from its first
// "."; the first character upper-cased (executables here are named in lower case), the rest
// lower-cased: "/usr/bin/kavrimo" and "/opt/KAVRIMO.EXE" both give "Kavrimo".
QString TitleFromExecutable(const QString& executable_path);

// The program's 32 x 32 icon, drawn in sixteen-colour style: a grid of coloured cells turned into
// grey bytes.
QIcon ApplicationIcon();

}  // namespace kavrimo
