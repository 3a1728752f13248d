#pragma once
// `tavlo tree [PATH] [--depth N] [--json]`: the outline the viewer shows for PATH (the default log
// roots when none is given), one row per node with its plain title, kind, path, token counts and
// tag summary, children indented; with --json the same as nested objects.

#include "TVLCommand.h"

#include <QJsonObject>
#include <QStringList>
#include <QTextStream>

class TVLObject;

// `args` are the arguments after "tree".
int runTreeCommand(const QStringList &args, QTextStream &out, QTextStream &err);

namespace TVLTreeCommand {
TVLCommand command();
// The title without its colour, font and symbol tags.
QString plainTitle(const QString &markup);
QString kindOfNode(const TVLObject &node);
// The node's display children as rows, `depth` levels deep (negative: all the way down).
QJsonObject outlineAsJson(TVLObject &content, int depth);
QString outlineAsText(TVLObject &content, int depth);
} // namespace TVLTreeCommand
