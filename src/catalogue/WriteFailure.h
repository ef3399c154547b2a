#pragma once

#include <QString>

// Why a file or folder of the download folder could not be written, in words a reader knows:
// "只读文件系统", "没有写入权限", "磁盘已满", "路径不存在"; other causes in the system's words.

// The text for a system error number; empty for 0.
QString WriteFailureText(int error);
// Tries to open path for appending, as a download does, and says why that fails; empty when it
// does not. A file that the attempt made is removed again.
QString FileWriteFailure(const QString &path);
// Says why the folder cannot be made: the first missing level is tried. Empty when it could be.
QString FolderMakeFailure(const QString &folder);
