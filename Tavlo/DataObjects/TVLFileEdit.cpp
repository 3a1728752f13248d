#include "TVLFileEdit.h"

#include "TVLURL.h"

QString TVLFileEdit::url() const { return TVLURL::urlStringForPath(transcriptPath, transcriptExchangeUuid); }

QString TVLFileEdit::diffText() const
{
    QString text;
    for (const TVLEditHunk &hunk : hunks) {
        if (hunk.oldStart > 0 || hunk.newStart > 0)
            text += QStringLiteral("@@ -%1,%2 +%3,%4 @@\n")
                        .arg(hunk.oldStart)
                        .arg(hunk.oldLines)
                        .arg(hunk.newStart)
                        .arg(hunk.newLines);
        else if (hunks.size() > 1)
            text += QStringLiteral("@@\n");  // hunks of the call's own input: positions unknown
        for (const QString &line : hunk.lines)
            text += line + QLatin1Char('\n');
    }
    return text;
}
