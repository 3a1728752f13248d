#pragma once
// How the directories of a log root relate and what they are called. The assistant names a
// project's directory after its working directory with every "/", "\", ":", ".", "_" and space
// written as "-", so a "--" in a name may be a worktree or other subproject of the project the
// name extends (-Users-me-app--claude-worktrees-x beside -Users-me-app), a hidden folder
// (-home-me--dotfiles) or a drive (C--Users-me). Only the listing of the root tells them apart.

#include <QString>
#include <QStringList>
#include <vector>

namespace TVLProjectNames {
// The names of the directories in `rootDirectory`, in listing order.
QStringList directoriesIn(const QString &rootDirectory);

// The directory of `directories` (names in `rootDirectory`) that `name` extends with "--" and a
// suffix, the shortest such one; empty when there is none, and `name` is a project of its own.
// Names are compared the way the file system does: a name differing only in case counts where
// the file system finds the one by the other (drive letters of roots copied from Windows).
QString parentProjectDirectory(const QString &rootDirectory, const QString &name, const QStringList &directories);

// The subproject's name: what follows the parent's name and its "--".
QString subprojectName(const QString &name, const QString &parentName);

// The names shown for projects of one root given their directory names and their plain names:
// plain names that collide get the shortest tail of their directory name that tells them apart,
// "app (client-b)".
QStringList distinctNames(const QStringList &directoryNames, const QStringList &plainNames);
} // namespace TVLProjectNames
