#include "Halvex/Foundation/HVXLog.h"
#include "Halvex/cmark/HVXMarkDown.h"
#include "LogCapture.h"

#include <QTest>

class TestMarkdown : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void coreExtensionsAreListedInRegistryOrder()
    {
        const QStringList expected = {QStringLiteral("table"), QStringLiteral("strikethrough"),
                                      QStringLiteral("autolink"), QStringLiteral("tagfilter"),
                                      QStringLiteral("tasklist")};
        QCOMPARE(HVXMarkDown::availableSyntaxExtensions(), expected);
        // Registration is done once; asking again changes nothing.
        QCOMPARE(HVXMarkDown::availableSyntaxExtensions(), expected);
    }

    void messageBlockKeepsItsAttributesAndRendersMarkdownInside()
    {
        const auto html = HVXMarkDown::htmlFromMarkdown(
            QStringLiteral("<div id=\"A-1\" class=\"assistant\">\n\n*word*\n\n</div>\n"));
        QVERIFY(html);
        QCOMPARE(*html, QStringLiteral("<div id=\"A-1\" class=\"assistant\">\n<p><em>word</em></p>\n</div>\n"));
    }

    void tagFilterEscapesScriptButNotDivOrSpan()
    {
        const auto html = HVXMarkDown::htmlFromMarkdown(
            QStringLiteral("<script>alert(1)</script>\n\ntext <span class=\"s\">in</span> <iframe src=x></iframe>\n\n<div>d</div>\n"));
        QVERIFY(html);
        QVERIFY2(html->contains(QStringLiteral("&lt;script>alert(1)&lt;/script>")), qPrintable(*html));
        QVERIFY(!html->contains(QStringLiteral("<script")));
        QVERIFY(html->contains(QStringLiteral("&lt;iframe src=x>")));
        QVERIFY(html->contains(QStringLiteral("<span class=\"s\">in</span>")));
        QVERIFY(html->contains(QStringLiteral("<div>d</div>")));
    }

    void gitHubExtensionsApply()
    {
        const auto html = HVXMarkDown::htmlFromMarkdown(QStringLiteral(
            "~~gone~~ and www.example.com\n\n| a | b |\n|---|---|\n| 1 | 2 |\n\n- [x] done\n- [ ] open\n"));
        QVERIFY(html);
        QVERIFY(html->contains(QStringLiteral("<del>gone</del>")));
        QVERIFY(html->contains(QStringLiteral("<a href=\"http://www.example.com\">www.example.com</a>")));
        QVERIFY(html->contains(QStringLiteral("<table>")));
        QVERIFY(html->contains(QStringLiteral("<th>a</th>")));
        QVERIFY(html->contains(QStringLiteral("<td>2</td>")));
        QVERIFY(html->contains(QStringLiteral("<input type=\"checkbox\" checked=\"\" disabled=\"\" />")));
        QVERIFY(html->contains(QStringLiteral("<input type=\"checkbox\" disabled=\"\" />")));
    }

    void footnotesStayLiteralAndLinksKeepTheirScheme()
    {
        const auto html = HVXMarkDown::htmlFromMarkdown(
            QStringLiteral("See[^1] and [x](javascript:go()).\n\n[^1]: The note.\n"));
        QVERIFY(html);
        QVERIFY2(html->contains(QStringLiteral("[^1]")), qPrintable(*html));
        QVERIFY(html->contains(QStringLiteral("The note.")));
        QVERIFY(!html->contains(QStringLiteral("footnote")));
        QVERIFY(html->contains(QStringLiteral("href=\"javascript:go()\"")));
    }

    void emptyOrBlankMarkdownGivesNothingAndALogLine()
    {
        for (const QString &markdown : {QString(), QStringLiteral("  \n\t\n ")}) {
            LogCapture capture;
            QVERIFY(!HVXMarkDown::htmlFromMarkdown(markdown));
            const QStringList lines = capture.lines();
            QCOMPARE(lines.size(), 1);
            QVERIFY(lines[0].startsWith(QStringLiteral("Halvex/cmark/HVXMarkDown.cpp:")));
            QVERIFY(lines[0].contains(QStringLiteral(": ERROR: cmark_render_html_with_mem failed trying to produce HTML from markdown: ")
                                      + hvxLogValue(markdown)));
        }
    }

    void longMarkdownIsQuotedShortInTheLogLine()
    {
        LogCapture capture;
        QVERIFY(!HVXMarkDown::htmlFromMarkdown(QString(5000, QLatin1Char(' '))));
        QCOMPARE(capture.lines().size(), 1);
        QVERIFY(capture.lines()[0].size() < 1300);
    }

    void nonAsciiTextSurvives()
    {
        const auto html = HVXMarkDown::htmlFromMarkdown(QString::fromUtf8("Grüße — 😀 **fett**"));
        QVERIFY(html);
        QCOMPARE(*html, QString::fromUtf8("<p>Grüße — 😀 <strong>fett</strong></p>\n"));
    }

    void documentWrapsTheFragment()
    {
        const QString top = HVXMarkDown::htmlWrapperTop();
        QVERIFY(top.startsWith(QStringLiteral("<html><head><style>html {\t\tfont-family: -apple-system,")));
        QVERIFY(top.endsWith(QStringLiteral("</style></head><body>")));
        QVERIFY(!top.contains(QLatin1Char('\n')));
        QVERIFY(top.contains(QStringLiteral("-webkit-text-size-adjust:100%;\t}\tcode {\t\tbackground-color: rgba(27,31,35,.05);\t}")));
        QVERIFY(top.contains(QStringLiteral("table tr:nth-child(2n) {\t\tbackground-color: #f6f8fa;\t}")));
        QVERIFY(top.indexOf(QStringLiteral("\tsub {")) < top.indexOf(QStringLiteral("\tsub, sup {")));
        QCOMPARE(HVXMarkDown::htmlWrapperBottom(), QStringLiteral("</body></html>"));
        QCOMPARE(HVXMarkDown::htmlDocFromMarkdown(QStringLiteral("*x*")),
                 top + QStringLiteral("<p><em>x</em></p>\n") + QStringLiteral("</body></html>"));
        LogCapture capture;
        QCOMPARE(HVXMarkDown::htmlDocFromMarkdown(QString()), top + QStringLiteral("</body></html>"));
    }
};

QTEST_GUILESS_MAIN(TestMarkdown)
#include "tst_markdown.moc"
