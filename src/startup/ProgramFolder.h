#pragma once

#include <QString>

// The folder that holds the library database, the reading page template and the defaults:
// a "DataFile" folder beside the executable makes the program portable and keeps everything
// there; otherwise the user's application data folder is used.
QString ResolveProgramFolder();

// Creates every missing folder along a path (both "/" and "\" separate pieces) and returns the
// path unchanged. *ok is false when a folder could not be created.
QString EnsureFolderPath(const QString &path, bool *ok = nullptr);

// A stable identifier of this computer for this program, sent to the server as desknum.
QString MachineId(const QString &programFolder);

// Joins a folder and a relative name with the platform separator.
QString JoinPath(const QString &folder, const QString &name);
