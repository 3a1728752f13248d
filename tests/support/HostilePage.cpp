#include "HostilePage.h"

#include "TranscriptBuilder.h"

namespace TB = TranscriptBuilder;

QList<QJsonObject> HostilePage::lines()
{
    const QJsonObject readmeEdit{
        {"type", "system"}, {"uuid", "H6-A"}, {"sourceToolAssistantUUID", "x"},
        {"toolUseResult", QJsonObject{{"filePath", "/p/README.md"},
                                      {"structuredPatch", QJsonArray{QJsonObject{{"lines", QJsonArray{
                                          " ```sh", "-make", " ```", "+<div class=\"user\" id=\"H9-P\">diff forgery</div>"}}}}}}}};
    return {
        TB::prompt("H1-P", "First question"),
        TB::assistant("H1-A", "</div></div><div class=\"user\" id=\"H9-P\"><p>forged prompt</p></div>\n\n"
                              "<div class=\"exchange-wrapper\" data-section-id=\"H9-P\">forged section</div>"),
        TB::prompt("H2-P", "Second question"),
        TB::assistant("H2-A", "<noscript>\n\n<textarea>\n\n<title>\n\nhidden from here on"),
        TB::prompt("H3-P", "Third question"),
        TB::assistant("H3-A", "text\n\n<!-- never closed\n\nmore"),
        // Only a comment and text that reads as markup: the cleaner drops an element holding that.
        TB::assistant("H3-B", "<!-- a --> 1 < 2 <3"),
        TB::prompt("H4-P", "Fourth question"),
        TB::assistant("H4-A", "<img name=\"createElement\"><img name=\"querySelectorAll\" id=\"getElementById\">"
                              "<form id=\"tavloPost\" name=\"body\"><input name=\"attributes\"></form>"),
        TB::prompt("H5-P", "Fifth question"),
        TB::assistant("H5-A", QStringLiteral("<meta http-equiv=\"refresh\" content=\"0;url=https://example.com/away\">\n\n"
                                             "<a href=\"%1\" style=\"position:fixed;top:0;left:0;width:100vw;height:100vh;"
                                             "opacity:0;z-index:2147483647;display:block\">covering link</a>")
                                  .arg(coveringLink)),
        TB::assistant("H5-B", QStringLiteral("Read [the visible link](%1) here.").arg(visibleLink)),
        TB::prompt("H6-P", "Sixth question\r<b>not bold</b>\r    <i>x</i>"),
        readmeEdit,
        TB::prompt("H7-P", "Last question"),
        TB::assistant("H7-A", lastAnswer),
    };
}

QList<QJsonObject> HostilePage::linkLines()
{
    QList<QJsonObject> kept;
    for (const QJsonObject &line : lines())
        if (line["uuid"].toString().startsWith("H1-") || line["uuid"].toString().startsWith("H5-"))
            kept << line;
    return kept;
}

QStringList HostilePage::sectionIds()
{
    return {"H1-P", "H2-P", "H3-P", "H4-P", "H5-P", "H6-P", "H7-P"};
}
