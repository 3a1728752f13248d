#include "Halvex/Foundation/HVXDefaults.h"
#include "Halvex/Foundation/HVXModifierKeys.h"
#include "LogCapture.h"
#include "Tavlo/DataObjects/TVLLineParser.h"
#include "Tavlo/DataObjects/TVLMessage.h"
#include "Tavlo/DataObjects/TVLToolSteps.h"
#include "Halvex/cmark/HVXMarkDown.h"
#include "TranscriptBuilder.h"

#include <QJsonArray>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

using namespace TranscriptBuilder;

namespace {
std::shared_ptr<TVLMessage> messageFor(const QJsonObject &object) { return TVLMessage::initWithString(line(object)); }

const QString kDash = QStringLiteral(" \u2013 ");

QJsonObject userLine(const QJsonValue &content) { return {{"type", "user"}, {"uuid", "u1"}, {"message", QJsonObject{{"content", content}}}}; }
} // namespace

class TestMessages : public QObject
{
    Q_OBJECT
    QTemporaryDir m_settings;

private Q_SLOTS:
    void initTestCase()
    {
        HVXDefaults::useStoreAtPath(m_settings.filePath("settings.ini"));
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void classification_data()
    {
        QTest::addColumn<QString>("json");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("starter");
        QTest::newRow("prompt") << R"({"type":"user","uuid":"a","message":{"content":"hi"}})" << "user" << true;
        QTest::newRow("prompt with array content") << R"({"type":"user","uuid":"a","message":{"content":[{"type":"text","text":"x"}]}})" << "user" << true;
        QTest::newRow("compact summary wins over tool use") << R"({"type":"user","isCompactSummary":true,"sourceToolAssistantUUID":"x","isMeta":true})"
                                                            << "user" + kDash + "Compact summary" << false;
        QTest::newRow("tool result") << R"({"type":"user","sourceToolAssistantUUID":null,"isMeta":1})" << "user" + kDash + "Tool use" << false;
        QTest::newRow("meta as bool") << R"({"type":"user","isMeta":true,"message":{"content":"hi"}})" << "user" + kDash + "Meta" << false;
        QTest::newRow("meta zero is no meta") << R"({"type":"user","isMeta":0,"message":{"content":"hi"}})" << "user" << true;
        QTest::newRow("slash command") << R"({"type":"user","message":{"content":"<command-name>/clear</command-name>"}})" << "user" << true;
        QTest::newRow("slash command, newer order") << R"({"type":"user","message":{"content":"<command-message>x</command-message>\n<command-name>/x</command-name>"}})" << "user" << true;
        QTest::newRow("skill text is meta") << R"({"type":"user","isMeta":true,"message":{"content":"<command-name>/x</command-name>"}})" << "user" + kDash + "Meta" << false;
        QTest::newRow("shell command") << R"({"type":"user","message":{"content":"<bash-input>ls</bash-input>"}})" << "user" << true;
        QTest::newRow("shell output") << R"({"type":"user","message":{"content":"<bash-stdout>a</bash-stdout><bash-stderr></bash-stderr>"}})" << "user" + kDash + "Shell output" << false;
        QTest::newRow("task notification") << R"({"type":"user","message":{"content":"<task-notification>\n<status>failed</status>"}})" << "user" + kDash + "Task notification" << false;
        QTest::newRow("tag later in the text") << R"({"type":"user","message":{"content":"see <bash-input>"}})" << "user" << true;
        QTest::newRow("command output") << R"({"type":"user","message":{"content":"<local-command-stdout>ok"}})" << "user" + kDash + "local-command-stdout" << false;
        QTest::newRow("assistant text first") << R"({"type":"assistant","message":{"content":["x",{"text":"t"},{"type":"text"},{"type":"tool_use"}]}})"
                                              << "assistant" + kDash + "text" << false;
        QTest::newRow("assistant tool call") << R"({"type":"assistant","message":{"content":[{"type":"tool_use","id":"t1"}]}})" << "assistant" + kDash + "tool_use" << false;
        QTest::newRow("assistant string content") << R"({"type":"assistant","message":{"content":"plain"}})" << "assistant" << false;
        QTest::newRow("other record type") << R"({"type":"summary"})" << "summary" << false;
        QTest::newRow("no type") << R"({"uuid":"x"})" << QString() << false;
        QTest::newRow("message not an object") << R"({"type":"assistant","message":"odd"})" << "assistant" << false;
    }

    void classification()
    {
        QFETCH(QString, json);
        QFETCH(QString, type);
        QFETCH(bool, starter);
        LogCapture capture;
        const auto message = TVLMessage::initWithString(json);
        QCOMPARE(message->type(), type);
        QCOMPARE(message->type().isNull(), type.isNull());
        QCOMPARE(message->exchangeStarter(), starter);
        QVERIFY(capture.lines().isEmpty());
    }

    void identifiersAndTimestamps()
    {
        QCOMPARE(TVLMessage::initWithString(R"({"uuid":"u","messageId":"m"})")->uuid(), QStringLiteral("u"));
        QCOMPARE(TVLMessage::initWithString(R"({"messageId":"m"})")->uuid(), QStringLiteral("m"));
        const QString generated = TVLMessage::initWithString(R"({"type":"x"})")->uuid();
        QVERIFY(QRegularExpression("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$").match(generated).hasMatch());
        QVERIFY(TVLMessage::initWithString(R"({"type":"x"})")->uuid() != generated);

        auto at = [](const char *text) { return TVLLineParser::parseTimestamp(text); };
        QCOMPARE(at("2025-06-01T10:00:00.123Z"), std::optional<qint64>(1748772000123));
        QCOMPARE(at("2025-06-01T10:00:00Z"), std::optional<qint64>(1748772000000));
        QCOMPARE(at("2025-06-01T12:00:00+02:00"), std::optional<qint64>(1748772000000));
        QCOMPARE(at("2025-06-01T10:00:00.5-00:30"), std::optional<qint64>(1748773800500));
        QVERIFY(!at("2025-06-01 10:00:00Z"));
        QVERIFY(!at("2025-06-01T10:00:00"));
        QVERIFY(!at("2025-02-30T10:00:00Z"));
        QVERIFY(!at("2025-06-01T10:00:00.Z"));
        QVERIFY(!at(""));
        const auto message = TVLMessage::initWithString(R"({"timestamp":"2025-06-01T10:00:00.000Z"})");
        QCOMPARE(message->timestamp(), QDateTime(QDate(2025, 6, 1), QTime(10, 0), Qt::UTC));
        QVERIFY(!TVLMessage::initWithString(R"({"timestamp":42})")->hasTimestamp());
    }

    void promptFragmentIsAnIndentedBlockAfterABreak()
    {
        const auto message = messageFor(prompt("p1", "first\nsecond"));
        QCOMPARE(message->htmlBlock(),
                 QStringLiteral("\n<div id=\"p1\" class=\"user\">\n\n\n\n---\n\n\tfirst\n\tsecond\n\n\n\n</div>\n\n"));
        QJsonObject meta = prompt("p2", "x");
        meta.insert("isMeta", true);
        QCOMPARE(messageFor(meta)->htmlBlock(), QString());
        QCOMPARE(messageFor(userLine("<local-command-stdout>done</local-command-stdout>"))->htmlBlock(), QString());
    }

    // Slash and shell-mode commands read as typed; their output and task notices show as blocks
    // of their own, never as prompts, and no tag name reaches the page.
    void typedInput_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<QString>("markdown");  // null: hidden from titles and search
        QTest::addColumn<QStringList>("present");
        QTest::newRow("slash command, newer order")
            << "<command-message>fix</command-message>\n<command-name>/fix</command-name>\n<command-args>a  b\nc</command-args>"
            << "/fix a  b\nc" << QStringList{"class=\"user\"", "\t/fix a  b\n\tc"};
        QTest::newRow("slash command, older order, no arguments")
            << "<command-name>/review</command-name>\n  <command-message>review</command-message>\n  <command-args></command-args>"
            << "/review" << QStringList{"\t/review\n"};
        QTest::newRow("name without its slash") << "<command-name>model</command-name>" << "/model" << QStringList{};
        QTest::newRow("only the message") << "<command-message>deploy is running\u2026</command-message>" << "/deploy" << QStringList{};
        QTest::newRow("shell command") << "<bash-input>ls <dir></bash-input>" << "! ls <dir>" << QStringList{"\t! ls <dir>"};
        QTest::newRow("shell output")
            << "<bash-stdout>a <b>\nc</bash-stdout><bash-stderr>oops</bash-stderr>" << QString()
            << QStringList{"class=\"shell-output\"", "Output <span class=\"tool-step-length\">2 lines, 7 characters</span>",
                           "a &lt;b&gt;&#10;c", "tool-step-error", "Error output", "tool-step-body folded"};
        QTest::newRow("silent shell command") << "<bash-stdout></bash-stdout><bash-stderr></bash-stderr>" << QString()
                                              << QStringList{"Output <span class=\"tool-step-length\">0 lines"};
        QTest::newRow("task notification")
            << "<task-notification>\n<task-id>b1</task-id>\n<status>completed</status>\n<summary>Background command \"make\"\ncompleted (exit code 0)</summary>\n</task-notification>\nRead the output file"
            << QString()
            << QStringList{"class=\"task-notification\"",
                           "<p class=\"task-note\">Background command &quot;make&quot; completed (exit code 0) <span class=\"task-status\">completed</span></p>"};
    }

    void typedInput()
    {
        QFETCH(QString, content);
        QFETCH(QString, markdown);
        QFETCH(QStringList, present);
        const auto message = messageFor(userLine(content));
        QCOMPARE(message->rawMarkdown().has_value(), !markdown.isNull());
        if (!markdown.isNull())
            QCOMPARE(*message->rawMarkdown(), markdown);
        const QString html = message->htmlBlock();
        for (const QString &fragment : present)
            QVERIFY2(html.contains(fragment), qPrintable(html));
        for (const char *tag : {"<command-", "<bash-", "<task-", "<summary", "<status"})
            QVERIFY2(!html.contains(QLatin1String(tag)), qPrintable(html));
    }

    void assistantAndToolLines()
    {
        const auto text = messageFor(assistant("a1", "**bold**"));
        QCOMPARE(text->htmlBlock(), QStringLiteral("\n<div id=\"a1\" class=\"assistant\">\n\n**bold**\n\n</div>\n\n"));
        QCOMPARE(messageFor(toolCall("a2", "t1"))->htmlBlock(), QString());
        // A tool result never shows, even with a patch.
        QJsonObject patch{{"filePath", "/p/a.txt"}, {"structuredPatch", QJsonArray{QJsonObject{{"lines", QJsonArray{"+x"}}}}}};
        QCOMPARE(messageFor(toolResult("r1", "t1", patch))->htmlBlock(), QString());
        // Items that are not objects are skipped with an error; the rest still shows.
        LogCapture capture;
        const auto mixed = TVLMessage::initWithString(R"({"type":"assistant","uuid":"m","message":{"content":[1,{"type":"text","text":"ok"}]}})");
        QCOMPARE(mixed->rawMarkdown(), std::optional<QString>(QStringLiteral("ok")));
        QCOMPARE(capture.count("ERROR: Expected dictionary, got: 1"), 1);
        const auto number = TVLMessage::initWithString(R"({"type":"assistant","uuid":"n","message":{"content":42}})");
        QCOMPARE(number->rawMarkdown(), std::optional<QString>(QString()));
        QCOMPARE(capture.count("WARNING: Didn't expect: 42"), 1);
    }

    void toolStepsWhenShown_data()
    {
        const QString image = R"({"type":"image","source":{"type":"base64","media_type":"image/png","data":"iVBORw0KGgo="}})";
        const QString result = R"({"type":"user","uuid":"r","sourceToolAssistantUUID":"a","message":{"content":[{"type":"tool_result","tool_use_id":"t","content":%1}]}})";
        QTest::addColumn<QString>("json");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        QTest::newRow("call") << R"({"type":"assistant","uuid":"c","message":{"content":[{"type":"tool_use","id":"t","name":"Bash","input":{"description":"list","command":"ls -la\nrm <x>"}}]}})"
                              << QStringList{"<span class=\"tool-step-name\">Bash</span>",
                                             "<code class=\"tool-step-argument\">ls -la rm &lt;x&gt;</code>",
                                             "tool-step-body folded"}
                              << QStringList{"<x>"};
        QTest::newRow("screenshot result")
            << result.arg("[{\"type\":\"text\",\"text\":\"Took it\"}," + image + "]")
            << QStringList{"Result <span class=\"tool-step-length\">1 line, 7 characters</span>", "Took it",
                           "src=\"data:image/png;base64,iVBORw0KGgo=\""}
            << QStringList{};
        QTest::newRow("image only") << result.arg("[" + image + "]") << QStringList{"<img class=\"tool-step-image\""}
                                    << QStringList{"Result"};
        QTest::newRow("not base64")
            << result.arg(QStringLiteral("[{\"type\":\"image\",\"source\":{\"type\":\"base64\",\"media_type\":\"image/png\","
                                         "\"data\":\"x\\\" onerror=\\\"alert(1)\"}}]"))
            << QStringList{"Image not shown"} << QStringList{"onerror", "<img"};
        QTest::newRow("not an image type")
            << result.arg(R"([{"type":"image","source":{"type":"base64","media_type":"text/html","data":"PGI+"}}])")
            << QStringList{"Image not shown"} << QStringList{"<img"};
        QTest::newRow("error result") << result.arg(R"("<b>failed</b>")").replace("\"tool_result\"", "\"tool_result\",\"is_error\":true")
                                      << QStringList{"tool-step-error", "&lt;b&gt;failed&lt;/b&gt;"} << QStringList{"<b>"};
        QTest::newRow("prompt with image")
            << R"({"type":"user","uuid":"p","message":{"content":[{"type":"text","text":"look"},)" + image + "]}}"
            << QStringList{"\n\n---\n\n\tlook\n\n", "<div class=\"tool-step-images\"><img"} << QStringList{};
        QTest::newRow("meta line") << R"({"type":"user","uuid":"m","isMeta":true,"message":{"content":[)" + image + "]}}"
                                   << QStringList{} << QStringList{"<img"};
    }

    void toolStepsWhenShown()
    {
        QFETCH(QString, json);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        const auto message = TVLMessage::initWithString(json);
        const QString hidden = message->htmlBlock();
        TVLToolSteps::setShownOverride(true);
        const QString html = message->htmlBlock();
        TVLToolSteps::setShownOverride(std::nullopt);
        for (const QString &text : present)
            QVERIFY2(html.contains(text), qPrintable(text + " not in " + html));
        for (const QString &text : absent)
            QVERIFY2(!html.contains(text), qPrintable(text + " in " + html));
        QVERIFY(!hidden.contains("tool-step"));
        QCOMPARE(message->rawMarkdown(), TVLMessage::initWithString(json)->rawMarkdown());  // titles and search unchanged
    }

    void toolResultsAreCutAndStayOneHtmlBlock()
    {
        QStringList lines;
        for (int i = 1; i <= 100; ++i)
            lines << QStringLiteral("line %1").arg(i);
        lines[1] = "";
        lines[2] = "    *not emphasis*";
        QJsonObject result = toolResult("r", "t");
        QJsonObject message = result["message"].toObject();
        message["content"] = QJsonArray{QJsonObject{{"type", "tool_result"}, {"tool_use_id", "t"}, {"content", lines.join('\n')}}};
        result["message"] = message;
        TVLToolSteps::setShownOverride(true);
        const QString markdown = messageFor(result)->htmlBlock();
        TVLToolSteps::setShownOverride(std::nullopt);
        QVERIFY(markdown.contains("line 40") && !markdown.contains("line 41"));
        QVERIFY(markdown.contains("Cut: 100 lines, "));
        const QString html = HVXMarkDown::htmlFromMarkdown(markdown).value_or(QString());
        QVERIFY2(html.contains("line 1&#10;&#10;    *not emphasis*&#10;line 4"), qPrintable(html));
        QVERIFY(!html.contains("<em>"));
    }

    void attachmentsFoldAfterTheLimit()
    {
        auto attachment = [](int lines) {
            QStringList text;
            for (int i = 0; i < lines; ++i)
                text << QStringLiteral("l%1").arg(i);
            return messageFor({{"type", "attachment"}, {"uuid", "at"}, {"attachment", QJsonObject{{"prompt", text.join('\n')}}}});
        };
        QVERIFY(attachment(16)->htmlBlock().contains("<div class=\"attachment-body \">"));
        QVERIFY(attachment(16)->htmlBlock().contains("\u25BC</span> Attachment"));
        QVERIFY(attachment(17)->htmlBlock().contains("<div class=\"attachment-body folded\">"));
        QVERIFY(attachment(17)->htmlBlock().contains("\u25B6</span> Attachment"));
        HVXDefaults::standard().setValue("TVLDefaultVisibleAttachementLines", 0);
        QVERIFY(attachment(1)->htmlBlock().contains("attachment-body folded"));
        HVXDefaults::standard().remove("TVLDefaultVisibleAttachementLines");

        const auto escaped = messageFor({{"type", "attachment"}, {"uuid", "e"}, {"attachment", QJsonObject{{"prompt", "a & <b>"}}}});
        QVERIFY(escaped->htmlBlock().contains("<code class=\"nohighlight\">a &amp; &lt;b&gt;</code>"));
        const auto noPrompt = messageFor({{"type", "attachment"}, {"uuid", "e"}, {"attachment", QJsonObject{{"prompt", 3}}}});
        QCOMPARE(noPrompt->htmlBlock(), QString());
    }

    void fileEditDiffBlock()
    {
        const QJsonObject edit{{"type", "system"},
                               {"uuid", "d1"},
                               {"cwd", "/work/app"},
                               {"sourceToolAssistantUUID", "a"},
                               {"toolUseResult",
                                QJsonObject{{"filePath", "/work/app/src/main.c"},
                                            {"structuredPatch", QJsonArray{QJsonObject{{"lines", QJsonArray{"+added", "-removed", " same", 7}}},
                                                                           "not a hunk", QJsonObject{{"lines", "nope"}}}}}}};
        const auto message = messageFor(edit);
        const QString block = message->htmlBlock();
        QVERIFY(block.startsWith("\n<div id=\"d1\" class=\"tool-use\">\n\n<p class=\"tool-use-header\"><span class=\"fold-toggle\">\u25BC</span> Update(src/main.c)</p>\n"));
        QVERIFY(block.contains("Added 1 lines, removed 1 lines</p>\n<div class=\"tool-use-diff \">\n\n```diff\n+added\n-removed\n same\n```\n\n</div>\n"));
        HVXDefaults::standard().setValue("TVLDefaultVisiblePatchLines", 2);
        QVERIFY(message->htmlBlock().contains("tool-use-diff folded"));
        HVXDefaults::standard().remove("TVLDefaultVisiblePatchLines");
        // Without a patch the line falls back to its content.
        QVERIFY(!messageFor({{"type", "system"}, {"sourceToolAssistantUUID", "a"}, {"toolUseResult", "text"}})->markdownForStructuredPatch());
    }

    // Text inside the Markdown that Tavlo writes around it stays inside: in code, as text.
    void textCannotBreakOutOfTavlosMarkdown_data()
    {
        QTest::addColumn<QJsonObject>("line");
        QTest::addColumn<QString>("inside");  // text that must stay escaped in one code block
        QJsonObject readmeEdit{{"type", "system"}, {"uuid", "d"}, {"sourceToolAssistantUUID", "a"},
                               {"toolUseResult", QJsonObject{{"filePath", "/p/README.md"},
                                                             {"structuredPatch", QJsonArray{QJsonObject{{"lines", QJsonArray{
                                                                 " ```sh", "-make", "+````", " ```", "+<i>after</i>"}}}}}}}};
        QTest::newRow("diff with fences") << readmeEdit << "+&lt;i&gt;after&lt;/i&gt;";
        QTest::newRow("lone carriage return in a prompt") << prompt("p", "hello\r<b>bold</b>\r\n<i>x</i>")
                                                          << "&lt;b&gt;bold&lt;/b&gt;";
        QTest::newRow("blank line in an attachment")
            << QJsonObject{{"type", "attachment"}, {"uuid", "at"},
                           {"attachment", QJsonObject{{"prompt", "first\n\n# Heading\n*em* <b>bold</b>\r\r    code"}}}}
            << "# Heading&#10;*em* &lt;b&gt;bold&lt;/b&gt;";
    }

    void textCannotBreakOutOfTavlosMarkdown()
    {
        QFETCH(QJsonObject, line);
        QFETCH(QString, inside);
        const QString html = HVXMarkDown::htmlFromMarkdown(messageFor(line)->htmlBlock()).value_or(QString());
        QVERIFY2(html.count("<pre>") == 1 && html.contains(inside), qPrintable(html));
        const QString code = html.section("<pre>", 1).section("</pre>", 0, 0);
        QVERIFY2(code.contains(inside), qPrintable(html));
        for (const char *tag : {"<b>", "<i>", "<em>", "<h1>"})
            QVERIFY2(!html.contains(QLatin1StringView(tag)), qPrintable(html));
    }

    void markupFromTheTranscriptIsEscapedInAttributes()
    {
        QJsonObject hostile = assistant("\"><img src=x onerror=alert(1)>", "hi");
        hostile.insert("type", "assistant\" onclick=\"x");
        const QString block = messageFor(hostile)->htmlBlock();
        QVERIFY(block.startsWith("\n<div id=\"&quot;&gt;&lt;img src=x onerror=alert(1)&gt;\" class=\"assistant&quot; onclick=&quot;x\">"));
        QJsonObject edit{{"type", "system"}, {"uuid", "d"}, {"sourceToolAssistantUUID", "a"},
                         {"toolUseResult", QJsonObject{{"filePath", "<script>x</script>"}, {"structuredPatch", QJsonArray{QJsonObject{{"lines", QJsonArray{"+a"}}}}}}}};
        QVERIFY(messageFor(edit)->htmlBlock().contains("Update(&lt;script&gt;x&lt;/script&gt;)"));
    }

    void compactSummaryShowsItsUsageTable()
    {
        QJsonObject summary = userLine("the summary text");
        summary.insert("isCompactSummary", true);
        const auto message = messageFor(summary);
        QCOMPARE(message->htmlBlock(),
                 QStringLiteral("\n<div id=\"u1\" class=\"compact-boundary\">\n\n| Compaction | input | cache create | cache read | output |\n"
                                "|---|---:|---:|---:|---:|\n| *# tokens* | \u2013 | \u2013 | \u2013 | \u2013 |\n\n\n</div>\n\n"));
        message->injectCompactionUsage(TVLTokenUsage{1234, 5, 6789, 10, 0, 0});
        QVERIFY(message->htmlBlock().contains("| *# tokens* | 1,234 | 6,789 | 10 | 5 |"));
        QCOMPARE(message->tokenUsage()->totalTokens(), 1234 + 5 + 6789 + 10);
    }

    void usageIsReadFromTheLine()
    {
        QJsonObject usageObject = usage(10, 20, 30, 40);
        usageObject.insert("cache_creation", QJsonObject{{"ephemeral_5m_input_tokens", 7}, {"ephemeral_1h_input_tokens", 8}});
        const auto message = messageFor(assistant("a", "x", "m1", usageObject));
        const TVLTokenUsage expected{10, 20, 30, 40, 7, 8};
        QCOMPARE(message->tokenUsage(), std::optional<TVLTokenUsage>(expected));
        QCOMPARE(expected.totalTokens(), 100);
        message->markUsageDuplicate();
        QVERIFY(!message->tokenUsage());
        // Strings and nulls where numbers belong count as 0.
        const auto odd = TVLMessage::initWithString(R"({"type":"assistant","message":{"usage":{"input_tokens":"12","output_tokens":null,"cache_read_input_tokens":2.9}}})");
        QCOMPARE(odd->tokenUsage()->inputTokens, 0);
        QCOMPARE(odd->tokenUsage()->cacheReadInputTokens, 2);
        QVERIFY(!TVLMessage::initWithString(R"({"type":"assistant","message":{"usage":[1]}})")->tokenUsage());
    }

    void brokenLinesBecomeSilentMessages()
    {
        LogCapture capture;
        for (const char *text : {"{not json", "[1,2]", "42", "\"text\"", "{\"a\":1}\r"}) {
            const auto message = TVLMessage::initWithString(QString::fromUtf8(text));
            QVERIFY(!message->exchangeStarter());
            QCOMPARE(message->htmlBlock(), QString());
        }
        QCOMPARE(capture.count("ERROR: Error creating object from JSON"), 1);
        QCOMPARE(capture.count("WARNING: Expected a JSON object"), 3);
        QVERIFY(TVLMessage::initWithString("{\"a\":1}\r")->hasJson());
        const QString deep = QString(100000, '[') + QString(100000, ']');
        QVERIFY(!TVLMessage::initWithString(deep)->hasJson());
    }

    void wrongJsonTypesReadAsAbsent()
    {
        LogCapture capture;
        const auto message = TVLMessage::initWithString(
            R"({"type":7,"uuid":12,"messageId":"mid","isCompactSummary":"yes","timestamp":["x"],"promptId":3,)"
            R"("message":{"id":5,"model":false,"content":{"text":"x"},"usage":"lots"},"toolUseResult":[1],"attachment":"a"})");
        QCOMPARE(message->uuid(), QStringLiteral("mid"));
        QVERIFY(message->type().isNull());
        QVERIFY(!message->isCompactSummary());
        QVERIFY(!message->hasTimestamp());
        QVERIFY(message->messageId().isEmpty());
        QVERIFY(message->model().isEmpty());
        QVERIFY(message->promptId().isEmpty());
        QVERIFY(!message->tokenUsage());
        QVERIFY(message->toolUseResultAgentId().isEmpty());
        QCOMPARE(message->rawMarkdown(), std::optional<QString>(QString()));
        QCOMPARE(capture.count("WARNING: Didn't expect: {\"text\":\"x\"}"), 1);
        QCOMPARE(message->htmlBlock(), QString());
    }

    void selectedMessageShowsJsonWhileCommandIsHeld()
    {
        const auto message = messageFor(assistant("a", "x"));
        hvxSetModifierFlags(HVXModifierCommand);
        const QString json = message->markdown();
        hvxSetModifierFlags(0);
        QVERIFY(json.startsWith("    {\n"));
        QVERIFY(json.contains("\"uuid\": \"a\""));
        QCOMPARE(message->markdown(), message->htmlBlock());
    }

    void outlineTitleMarksDuplicates()
    {
        const auto message = messageFor(assistant("a", "x"));
        const QString font = QStringLiteral("[F:monospacedSystemFontOfSize:weight:|13.0|0.000000]%1[F:systemFontOfSize:weight:|13.0|0.000000]%2");
        QCOMPARE(message->displayTitle(), font.arg(QStringLiteral("  "), QString("assistant" + kDash + "text")));
        message->markInDuplicateGroup();
        QCOMPARE(message->displayTitle(), font.arg(QStringLiteral("\u2514 "), QString("assistant" + kDash + "text")));
        message->markUsageDuplicate();
        QCOMPARE(message->displayTitle(), font.arg(QStringLiteral("\u2502 "), QString("assistant" + kDash + "text")));
    }
};

QTEST_GUILESS_MAIN(TestMessages)
#include "tst_messages.moc"
