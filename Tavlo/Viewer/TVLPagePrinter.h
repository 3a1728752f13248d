#pragma once
// Prints a page through the desktop's web browser: the page is written standalone (its scripts
// and styles inlined) with a trigger that prints once it has been laid out, into a directory
// only this user can enter, and opened with the default application for HTML.

#include <QString>
#include <optional>

class TVLPagePrinter final
{
public:
    // The script that prints the page after two frames, as the written file runs it (the page
    // resource "tavlo-print.js"; one line, so that its hash is that of the text inlined).
    static QString printTrigger();

    // <temporary directory>/tavlo-<uid>, created 0700 when needed; nothing (and an error line)
    // when it cannot be made safe: not a directory, somebody else's, or a link.
    static std::optional<QString> privatePrintDirectory();

    // The standalone print document of a page body.
    static QString printDocumentWithBody(const QString &bodyHtml);

    // Writes the print document of the body to tavlo_print.html and opens it. The alert sounds
    // for an empty body or when the file cannot be written; false then.
    static bool printBody(const QString &bodyHtml);
};
