#pragma once
// Where the program keeps its files: the data folder (base of "Logs" and
// "Params"), fresh private work folders for exports, and the readability
// check of files the user asked to open.
#include <QString>
#include <QUuid>

// <data base>/Norvane, the data folder. Never empty; not created here.
QString getCommonAppDataDir();
// The per-user base of the work folders: <temp>/Norvane-<uid>/2.2.1. Not created here.
QString getTempBaseDir();
// A new work folder <base>/{GUID}, created (with its parents) readable by
// this user only, holding a hidden mark of the process that made it. Each call
// gives a different folder and first removes the folders under base whose
// process has ended (a run killed before it could remove its own).
// When the per-user base belongs to someone else a fresh private folder
// under the temporary folder is used as base instead; an empty text when no
// private folder can be made at all.
QString createTempWorkDir();
// Removes the work folders under base whose mark names a process that has
// ended; returns how many. Folders without a mark are left alone.
int removeStaleWorkDirs(const QString& base);
// A new GUID as upper-case hexadecimal text, with braces (38 characters) or
// without (36).
QString createGuidString(bool stripBraces);
QString guidToString(const QUuid& guid, bool stripBraces);

// True when path names a readable regular file. An empty path only logs a
// warning. A missing or unreadable file, or one that is not a regular file (a
// pipe, device or folder), is logged, and *why (when given) gets the message
// that tells the user (fileNotExistMessage and its kin with the path); it is
// empty when the file is readable or the path empty. Showing it is the
// caller's: the frame knows no window.
bool checkFileReadable(const QString& path, QString* why = nullptr);
QString fileNotExistMessage();
QString fileUnreadableMessage();
QString fileNotRegularMessage();
