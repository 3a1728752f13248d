#include "TVLChangesPanel.h"

#include "TVLPageController.h"
#include "Tavlo/DataObjects/TVLMessage.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSessionChanges.h"

#include <QJsonArray>
#include <QLocale>
#include <QStringList>

namespace {
QString count(qint64 value, const QString &one, const QString &many)
{
    return QLocale().toString(value) + QLatin1Char(' ') + (value == 1 ? one : many);
}

QString totalsText(const TVLSessionChanges &changes)
{
    QString text = count(qint64(changes.files().size()), QStringLiteral("file"), QStringLiteral("files"))
                   + QStringLiteral(" \u00b7 ") + count(changes.appliedEdits(), QStringLiteral("edit"), QStringLiteral("edits"))
                   + QStringLiteral(" \u00b7 +%1 \u2212%2").arg(QLocale().toString(changes.added()),
                                                                QLocale().toString(changes.removed()));
    if (changes.failedEdits() > 0)
        text += QStringLiteral(" \u00b7 ")
                + count(changes.failedEdits(), QStringLiteral("failed call"), QStringLiteral("failed calls"));
    return text;
}

// Long diffs start folded, as the page folds patches.
bool startsFolded(const TVLFileEdit &edit, qint64 limit)
{
    qint64 lines = 0;
    for (const TVLEditHunk &hunk : edit.hunks)
        lines += hunk.lines.size();
    return limit == 0 || lines > limit;
}

QJsonObject editData(const TVLFileEdit &edit, qint64 foldLimit)
{
    const QDateTime time = edit.timestampMSecs ? QDateTime::fromMSecsSinceEpoch(edit.timestampMSecs) : QDateTime();
    return {{QStringLiteral("tool"), edit.tool},
            {QStringLiteral("time"), time.isValid() ? QLocale().toString(time.time(), QStringLiteral("HH:mm:ss")) : QString()},
            {QStringLiteral("sectionId"), edit.sectionId},
            {QStringLiteral("inSubagent"), edit.inSubagent},
            {QStringLiteral("failed"), edit.failed},
            {QStringLiteral("error"), edit.error},
            {QStringLiteral("created"), edit.created},
            {QStringLiteral("added"), edit.added},
            {QStringLiteral("removed"), edit.removed},
            {QStringLiteral("diff"), edit.diffText()},
            {QStringLiteral("folded"), startsFolded(edit, foldLimit)}};
}
} // namespace

QJsonObject TVLChangesPanel::pageData(TVLSession &session)
{
    const TVLSessionChanges changes = TVLSessionChanges::ofSession(session);
    const qint64 foldLimit = TVLMessage::patchLineLimit();
    QJsonArray files;
    for (const auto &file : changes.files()) {
        QJsonArray items;
        qint64 failed = 0;
        for (const TVLFileEdit &edit : file.edits) {
            items.append(editData(edit, foldLimit));
            failed += edit.failed ? 1 : 0;
        }
        files.append(QJsonObject{{QStringLiteral("path"), file.path},
                                 {QStringLiteral("shownPath"), file.shownPath},
                                 {QStringLiteral("edits"), file.appliedEdits},
                                 {QStringLiteral("failed"), failed},
                                 {QStringLiteral("added"), file.added},
                                 {QStringLiteral("removed"), file.removed},
                                 {QStringLiteral("created"), file.created},
                                 {QStringLiteral("items"), items}});
    }
    QStringList unchanged;
    for (const TVLFileEdit &edit : changes.unlistedFailures()) {
        const QString path = TVLSessionChanges::shownPath(edit.filePath, changes.workingDirectory());
        if (!unchanged.contains(path))
            unchanged << path;
    }
    QJsonObject data{{QStringLiteral("totals"), totalsText(changes)}, {QStringLiteral("files"), files}};
    if (!unchanged.isEmpty())
        data.insert(QStringLiteral("note"), QString(QStringLiteral("Only failed calls named: ") + unchanged.join(QStringLiteral(", "))));
    return data;
}

void TVLChangesPanel::show(TVLPageController &page, TVLSession &session)
{
    page.script().showChanges(pageData(session));
}
