#include "Halvex/Foundation/HVXDefaults.h"
#include "Halvex/Foundation/HVXMenu.h"
#include "Tavlo/DataObjects/TVLChangeHub.h"
#include "LogCapture.h"
#include "RecordingDesktop.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLFileBuffer.h"
#include "Tavlo/DataObjects/TVLMessage.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLProjectMetadata.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSubagent.h"
#include "TranscriptBuilder.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QLocale>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace TranscriptBuilder;

namespace {
QStringList exchangeIds(const TVLSession &session)
{
    QStringList ids;
    for (const auto &exchange : session.exchanges())
        ids << (exchange->isPreamble() ? QStringLiteral("preamble") : exchange->uuid());
    return ids;
}

QStringList shownIds(TVLSession &session)
{
    QStringList ids;
    for (const auto &child : session.displayChildren()) {
        if (auto *exchange = dynamic_cast<TVLExchange *>(child.get()))
            ids << (exchange->isPreamble() ? QStringLiteral("preamble") : exchange->uuid());
        else
            ids << QFileInfo(child->path()).fileName();
    }
    return ids;
}
} // namespace

class TestSessions : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_project;

    QString sessionPath(const QString &name) const { return m_project + "/" + name + ".jsonl"; }

private Q_SLOTS:
    void initTestCase()
    {
        HVXDefaults::useStoreAtPath(m_dir.filePath("settings.ini"));
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        m_project = m_dir.filePath("projects/-home-me-app");
    }

    void init() { HVXDefaults::standard().remove("TVLSessionDisplayMode"); }

    void onlyJsonlFilesAreSessions()
    {
        QVERIFY(!TVLSession::initWithPath(write(m_project + "/notes.txt", QStringList{"x"})));
        QDir().mkpath(m_project + "/folder.jsonl");
        QVERIFY(!TVLSession::initWithPath(m_project + "/folder.jsonl"));
        QVERIFY(TVLSession::initWithPath(write(sessionPath("empty"), QStringList{})));
    }

    void linesAreGroupedIntoExchangesAtPrompts()
    {
        const QString path = write(sessionPath("grouping"),
                                   QList<QJsonObject>{
                                       {{"type", "summary"}, {"uuid", "s0"}},
                                       prompt("p1", "first", "2025-06-01T10:00:00.000Z"),
                                       assistant("a1", "answer", "m1", usage(10, 1)),
                                       toolCall("a2", "t1", "m1", usage(10, 2)),
                                       toolResult("r1", "t1"),
                                       assistant("a3", "done", "m2", usage(5, 5), "2025-06-01T10:05:00Z"),
                                       prompt("p2", "second"),
                                   });
        const auto session = TVLSession::initWithPath(path);
        QCOMPARE(exchangeIds(*session), (QStringList{"preamble", "p1", "p2"}));
        QCOMPARE(session->children().size(), size_t(7));
        const auto &first = session->exchanges()[1];
        QCOMPARE(first->children().size(), size_t(5));
        QCOMPARE(first->children().front()->parent(), first.get());
        QCOMPARE(first->parent(), session.get());
        // The preamble has no usage and is left out of the outline, but not out of the page.
        QCOMPARE(shownIds(*session), (QStringList{"p1", "p2"}));
        QVERIFY(session->markdown().contains("\n<div id=\"p1\""));
        QCOMPARE(first->model(), QStringLiteral("claude-test"));
        QCOMPARE(session->firstTimestamp(), QDateTime(QDate(2025, 6, 1), QTime(10, 0), Qt::UTC));
        QCOMPARE(session->lastChangedAt(), QDateTime(QDate(2025, 6, 1), QTime(10, 5), Qt::UTC));
        QCOMPARE(session->firstUserPrompt(), std::optional<QString>("first"));
        QCOMPARE(session->lastUserPrompt(), std::optional<QString>("second"));
        // Usage: the first line of the m1 group is a duplicate; only a2 and a3 count.
        QCOMPARE(session->tokenUsage()->totalTokens(), 12 + 10);
        QCOMPARE(first->tokenUsage()->totalTokens(), 22);
    }

    void sessionMarkdownIsTheExchangesInOrder()
    {
        const QString path = write(sessionPath("markdown"), QList<QJsonObject>{prompt("p1", "a\nb"), assistant("a1", "*x*")});
        const auto session = TVLSession::initWithPath(path);
        QCOMPARE(session->markdown(),
                 QStringLiteral("\n\n<div id=\"p1\" class=\"user\">\n\n\n\n---\n\n\ta\n\tb\n\n\n\n</div>\n\n"
                                "\n<div id=\"a1\" class=\"assistant\">\n\n*x*\n\n</div>\n\n\n"));
    }

    void duplicateGroupsCountOnlyTheirLastLine()
    {
        LogCapture capture;
        const QString path = write(sessionPath("dups"), QList<QJsonObject>{
                                                            prompt("p1", "go"),
                                                            assistant("a1", "x", "m1", usage(50, 50)),
                                                            assistant("a2", "y", "m1", usage(100, 50)),
                                                            assistant("a3", "z", "m1", usage(100, 40)),
                                                        });
        const auto session = TVLSession::initWithPath(path);
        const auto messages = session->messages();
        QVERIFY(messages[1]->usageDuplicate() && messages[2]->usageDuplicate() && !messages[3]->usageDuplicate());
        QVERIFY(messages[1]->inDuplicateGroup() && messages[3]->inDuplicateGroup() && !messages[0]->inDuplicateGroup());
        QCOMPARE(session->tokenUsage()->totalTokens(), 140);
        QCOMPARE(capture.matching("Token count decreased").size(), 1);
        QVERIFY(capture.lines().first().endsWith("ERROR: Token count decreased for message.id m1 in dups.jsonl: 150 \u2192 140"));
    }

    void noPromptMeansOnePreamble()
    {
        const auto session = TVLSession::initWithPath(write(sessionPath("nopreamble"),
                                                            QList<QJsonObject>{assistant("a1", "x", "m", usage(1, 1)), assistant("a2", "y")}));
        QCOMPARE(exchangeIds(*session), QStringList{"preamble"});
        QCOMPARE(session->exchanges()[0]->displayTitle(), QStringLiteral("Preamble"));
        QCOMPARE(shownIds(*session), QStringList{"preamble"});  // it has usage, so it shows
    }

    void rereadingFollowsTheFile()
    {
        const QString path = write(sessionPath("growing"), QList<QJsonObject>{prompt("p1", "one"), assistant("a1", "x")});
        const auto session = TVLSession::initWithPath(path);
        const auto firstExchange = session->exchanges()[0];
        QVERIFY(!session->updateMessages());  // unchanged text: nothing happens
        QCOMPARE(session->exchanges()[0], firstExchange);

        // A half-written line is a broken line until it is complete.
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        const QByteArray next = line(prompt("p2", "two")).toUtf8();
        file.write(next.left(10));
        file.flush();
        {
            LogCapture capture;
            QVERIFY(session->updateMessages());
            QCOMPARE(exchangeIds(*session), QStringList{"p1"});
            QCOMPARE(capture.count("Error creating object from JSON"), 1);
        }
        file.write(next.mid(10) + "\r\n");
        file.close();
        QVERIFY(session->updateMessages());
        QCOMPARE(exchangeIds(*session), (QStringList{"p1", "p2"}));
        QVERIFY(session->messages().back()->raw().endsWith('\r'));

        // The file disappears: no text, no messages; it comes back: read again.
        QVERIFY(QFile::rename(path, path + ".away"));
        QVERIFY(session->updateMessages());
        QVERIFY(session->exchanges().empty());
        QVERIFY(QFile::rename(path + ".away", path));
        QVERIFY(session->updateMessages());
        QCOMPARE(exchangeIds(*session), (QStringList{"p1", "p2"}));
    }

    // A file that grows keeps the messages of its complete lines; what comes out must be exactly
    // what reading the whole file anew gives, step after step.
    void aGrowingFileReadsAsIfReadAnew()
    {
        const QString path = write(sessionPath("live"), QList<QJsonObject>{assistant("pre", "before any prompt")});
        // A compaction beside it, whose usage goes to the compact summary once that line is there.
        QJsonObject compactionPrompt = prompt("cp1", "compact please");
        compactionPrompt.insert("promptId", "P");
        write(path.chopped(6) + "/subagents/agent-acompact-z.jsonl",
              QList<QJsonObject>{compactionPrompt, assistant("cpa", "summary text", "cm1", usage(500, 70))});
        // A task sub-agent whose call and result come later, and an aside asked after a line still to come.
        QJsonObject task = prompt("tp", "look around");
        task.insert("agentId", "task");
        write(path.chopped(6) + "/subagents/agent-task.jsonl", QList<QJsonObject>{task});
        QJsonObject aside = prompt("ap", "by the way");
        aside.insert("logicalParentUuid", "a4");
        write(path.chopped(6) + "/subagents/agent-aside_question-q.jsonl", QList<QJsonObject>{aside});
        const auto live = TVLSession::initWithPath(path);
        QJsonObject compact = prompt("c1", "summary");
        compact.insert("isCompactSummary", true);
        compact.insert("promptId", "P");
        const QByteArray halfThenRest = line(assistant("a3", "streamed", "m2", usage(30, 9))).toUtf8();
        const QList<QByteArray> appends{
            line(prompt("p1", "first")).toUtf8() + "\n",
            line(toolCall("t1", "toolu_1", "m1", usage(10, 1))).toUtf8() + "\n",
            line(assistant("a1", "same message, more usage", "m1", usage(10, 4))).toUtf8() + "\r\n\n",
            line(toolResult("r1", "toolu_1", QJsonObject{{"agentId", "task"}})).toUtf8() + "\n{broken\n",
            line(prompt("p2", "second")).toUtf8() + "\n" + halfThenRest.left(25),
            halfThenRest.mid(25) + "\n" + line(assistant("a4", "last of m2", "m2", usage(30, 12))).toUtf8() + "\n",
            line(compact).toUtf8() + "\n",
        };
        // What a reader of the model sees; lines that don't parse get made-up ids, so those are left out.
        auto describe = [](TVLSession &session) {
            QStringList rows{session.markdown(), QString::number(session.tokenUsage()->totalTokens()),
                             session.firstUserPrompt().value_or("-"), session.lastUserPrompt().value_or("-")};
            for (const auto &exchange : session.exchanges()) {
                rows << QStringLiteral("exchange %1 %2 %3").arg(exchange->isPreamble() ? "preamble" : exchange->uuid(),
                                                                exchange->displayTitle(),
                                                                QString::number(exchange->tokenUsage()->totalTokens()));
                for (const auto &child : exchange->children()) {
                    auto *message = static_cast<TVLMessage *>(child.get());
                    rows << QStringLiteral("  %1 %2 %3%4%5 %6")
                                .arg(message->hasJson() ? message->uuid() : "?", message->type(),
                                     QString::number(message->exchangeStarter()), QString::number(message->usageDuplicate()),
                                     QString::number(message->inDuplicateGroup()),
                                     QString::number(message->tokenUsage() ? message->tokenUsage()->totalTokens() : -1));
                    rows << message->raw() << message->markdown();
                }
            }
            for (const auto &subagent : session.subagents())
                rows << QStringLiteral("sub-agent %1 at %2").arg(subagent->fileName(), subagent->anchorUuid());
            return rows;
        };
        for (const QByteArray &bytes : appends) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::Append));
            file.write(bytes);
            file.close();
            QVERIFY(live->updateMessages());
            const auto fresh = TVLSession::initWithPath(path);
            QCOMPARE(describe(*live), describe(*fresh));
            // Only what was appended was read: one piece more per step.
            QCOMPARE(live->lastReadBytes().pieces.size(), size_t(&bytes - &appends.front()) + 2);
            QVERIFY(!live->updateMessages());  // and the pieces together are the file
        }
        QCOMPARE(exchangeIds(*live), (QStringList{"preamble", "p1", "p2"}));  // a compact summary opens no exchange
        QCOMPARE(live->subagents().size(), size_t(2));  // the compaction is not shown
        QCOMPARE(live->subagents()[0]->anchorUuid(), QStringLiteral("p2"));  // the aside, after a4 came
        QCOMPARE(live->subagents()[1]->anchorUuid(), QStringLiteral("p1"));  // the task, at its call
        QCOMPARE(live->messages().back()->tokenUsage()->totalTokens(), 570);  // the compaction's usage

        // A file rewritten, not grown, is read anew even when it has become longer.
        write(path, QList<QJsonObject>{prompt("n1", "a different first line, longer than before so the file grows"),
                                       prompt("n2", "x"), prompt("n3", "y"), prompt("n4", "z"), prompt("n5", "w"),
                                       prompt("n6", "v"), prompt("n7", "u"), prompt("n8", "t"), prompt("n9", "s")});
        QVERIFY(live->updateMessages());
        QCOMPARE(describe(*live), describe(*TVLSession::initWithPath(path)));
        QCOMPARE(live->lastReadBytes().pieces.size(), size_t(1));
    }

    void pathDidUpdatePostsTheNotification()
    {
        const QString path = write(sessionPath("notify"), QList<QJsonObject>{prompt("p1", "one")});
        const auto session = TVLSession::initWithPath(path);
        QObject observer;
        int posts = 0;
        QObject::connect(&TVLChangeHub::shared(), &TVLChangeHub::sessionDidUpdate, &observer,
                         [&](const TVLSession *updated) { posts += updated == session.get(); });
        session->pathDidUpdate(path + "x");
        QCOMPARE(posts, 0);
        append(path, {line(prompt("p2", "two"))});
        session->pathDidUpdate(path);
        QCOMPARE(posts, 1);
        QCOMPARE(session->exchanges().size(), size_t(2));
        session->pathDidUpdate(path);  // unchanged, still posted
        QCOMPARE(posts, 2);
    }

    void aWatchedSessionFollowsItsFileAndSubagents()
    {
        const QString path = write(sessionPath("watched"), QList<QJsonObject>{prompt("p1", "one")});
        const auto session = TVLSession::initWithPath(path);
        QObject observer;
        int posts = 0;
        QObject::connect(&TVLChangeHub::shared(), &TVLChangeHub::sessionDidUpdate, &observer,
                         [&](const TVLSession *updated) { posts += updated == session.get(); });
        // The folders of everything else beside it stay unwatched: opened from a home folder, a
        // session must not watch the whole tree.
        QVERIFY(QDir().mkpath(m_project + "/elsewhere/deep/er"));
        session->startMonitoring();
        session->startMonitoring();
        QVERIFY(session->isMonitoring());
        QCOMPARE(session->monitoredDirectoryCount(), 1);
        append(path, {line(prompt("p2", "two"))});
        QTRY_COMPARE(session->exchanges().size(), size_t(2));
        QTRY_VERIFY(posts >= 1);
        write(session->subagentsDirectory() + "/agent-new.jsonl",
              QList<QJsonObject>{assistant("s1", "sub", "sm", usage(1, 1))});
        QTRY_COMPARE(session->subagents().size(), size_t(1));
        QCOMPARE(session->monitoredDirectoryCount(), 3);  // and the session's folder and its sub-agents
        session->stopMonitoring();
        session->stopMonitoring();
        QVERIFY(!session->isMonitoring());
        // A session on the same file, still watching, sees the growth.
        const auto watching = TVLSession::initWithPath(path);
        watching->startMonitoring();
        append(path, {line(prompt("p3", "three"))});
        QTRY_COMPARE(watching->exchanges().size(), size_t(3));
        QCOMPARE(session->exchanges().size(), size_t(2));
        watching->stopMonitoring();
    }

    void badBytesBreakOnlyTheirLine()
    {
        QByteArray bytes = line(prompt("p1", "good")).toUtf8() + "\n";
        bytes += "{\"type\":\"user\",\"uuid\":\"bad\",\"message\":{\"content\":\"\xff\xfe\"}}\n";
        bytes += QByteArray("{\"type\":\"user\",\"uuid\":\"nul\0\",\"message\":{}}\n", 43);
        bytes += line(prompt("p2", "also good")).toUtf8() + "\n";
        const QString path = sessionPath("bytes");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        LogCapture capture;
        const auto session = TVLSession::initWithPath(path);
        QCOMPARE(exchangeIds(*session), (QStringList{"p1", "p2"}));
        QCOMPARE(session->children().size(), size_t(4));
        QCOMPARE(capture.count("Error creating object from JSON"), 2);
    }

    void bigFilesReadTheSameOnSeveralThreads()
    {
        // Over 32 MB, so the lines are parsed in more than one piece.
        QStringList lines;
        const QString filler(4000, 'f');
        for (int i = 0; i < 9000; ++i) {
            lines << line(prompt(QStringLiteral("p%1").arg(i), filler));
            lines << line(assistant(QStringLiteral("a%1").arg(i), filler, QStringLiteral("m%1").arg(i / 2), usage(1, 1)));
        }
        const QString path = write(sessionPath("big"), lines);
        QVERIFY(QFileInfo(path).size() > 64 * 1024 * 1024);
        const auto session = TVLSession::initWithPath(path);
        QCOMPARE(session->exchanges().size(), size_t(9000));
        for (int i = 0; i < 9000; i += 997)
            QCOMPARE(session->exchanges()[size_t(i)]->uuid(), QStringLiteral("p%1").arg(i));
        // Duplicate groups span exchanges: lines a(2k) and a(2k+1) share one message.id.
        QCOMPARE(session->tokenUsage()->totalTokens(), 2 * 4500);
        QVERIFY(session->messages()[1]->usageDuplicate());
        QVERIFY(!session->messages()[3]->usageDuplicate());
    }

    // A big transcript is mapped, so its messages' bytes are the file's as it is now. Cut shorter
    // under them, reading them must not end the process; each way of writing the file anew in
    // place (same inode) must be told from growth and read anew.
    void aMappedFileCutOrRewrittenInPlaceIsReadAnew()
    {
        const auto lines = [](const QString &tag, int exchanges, const QString &lastAnswer) {
            QStringList result;
            for (int i = 1; i <= exchanges; ++i)
                result << line(prompt(QStringLiteral("%1-p%2").arg(tag).arg(i), QString(6000, 'q')))
                       << line(assistant(QStringLiteral("%1-a%2").arg(tag).arg(i), i == exchanges ? lastAnswer : QString(6000, 'a')));
            return result;
        };
        const auto rewriteInPlace = [](const QString &path, const QStringList &text) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write((text.join('\n') + '\n').toUtf8());
        };
        const auto sameAsFreshRead = [](TVLSession &session) {
            const auto fresh = TVLSession::initWithPath(session.path());
            return exchangeIds(session) == exchangeIds(*fresh) && session.messages().back()->raw() == fresh->messages().back()->raw();
        };
        const QString path = write(sessionPath("mapped"), lines("m", 40, "last"));
        const auto session = TVLSession::initWithPath(path);
        QVERIFY(TVLFileBuffer::isMapped(*session->lastReadBytes().pieces[0].bytes));
        const QString lastLine = session->messages().back()->raw();

        // Cut to nothing: the old last line reads as zeros rather than raising SIGBUS.
        const qint64 cutBefore = TVLFileBuffer::cutMappings();
        QVERIFY(QFile::resize(path, 0));
        QVERIFY(session->messages().back()->raw() != lastLine);
        QCOMPARE(TVLFileBuffer::cutMappings(), cutBefore + 1);
        rewriteInPlace(path, lines("short", 30, "last"));
        QVERIFY(session->updateMessages());
        QVERIFY(sameAsFreshRead(*session));
        QCOMPARE(exchangeIds(*session).size(), 30);

        // Longer than before, the earlier bytes the same but the old last line changed: not growth.
        rewriteInPlace(path, lines("short", 30, "LAST") + lines("more", 2, "x"));
        QVERIFY(session->updateMessages());
        QVERIFY(sameAsFreshRead(*session));
        QCOMPARE(session->lastReadBytes().pieces.size(), size_t(1));

        // The same size, its end different: read anew, not taken for unchanged.
        rewriteInPlace(path, lines("short", 30, "LAST") + lines("more", 2, "y"));
        QVERIFY(session->updateMessages());
        QVERIFY(sameAsFreshRead(*session));
        QVERIFY(session->messages().back()->raw().contains("\"y\""));
    }

    // A big session opened alone shows its newest exchanges, read from the end of the file,
    // while the whole file is read; lines appended meanwhile are added, and the whole read then
    // takes over with them.
    void aBigSessionShowsItsNewestExchangesFirst()
    {
        QStringList lines{line(assistant("pre", "before any prompt"))};
        for (int i = 0; i < 400; ++i)
            lines << line(prompt(QStringLiteral("p%1").arg(i), "question"))
                  << line(toolCall(QStringLiteral("c%1").arg(i), QStringLiteral("t%1").arg(i)))
                  << line(toolResult(QStringLiteral("r%1").arg(i), QStringLiteral("t%1").arg(i)))
                  << line(assistant(QStringLiteral("a%1").arg(i), QString(20000, 'x'), QStringLiteral("m%1").arg(i), usage(1, 1)));
        const QString path = write(sessionPath("newest"), lines);
        const QStringList all = exchangeIds(*TVLSession::initWithPath(path));
        TVLProject::setBackgroundLoadThreshold(1 << 20);
        const auto session = TVLSession::initWithPathInBackground(path);
        TVLProject::setBackgroundLoadThreshold(qint64(32) << 20);
        // The whole read reports through the event loop, which hasn't run yet.
        QVERIFY(session->isLoading());
        const QStringList newest = exchangeIds(*session);
        QCOMPARE(newest.size(), TVLSession::kNewestExchanges);
        QCOMPARE(newest, all.mid(all.size() - newest.size()));
        TVLExchange &last = *session->exchanges().back();
        QCOMPARE(last.children().size(), size_t(4));
        QCOMPARE(last.tokenUsage()->totalTokens(), 2);

        append(path, {line(prompt("p400", "appended")), line(assistant("a400", "fresh"))});
        session->pathDidUpdate(path);
        QVERIFY(session->isLoading());
        QCOMPARE(exchangeIds(*session), newest + QStringList{"p400"});

        QTRY_VERIFY_WITH_TIMEOUT(!session->isLoading(), 20000);
        QCOMPARE(exchangeIds(*session), all + QStringList{"p400"});
    }

    void aFileThatGrowsPastItsSizeWhileReadIsReadWhole()
    {
        // A kernel file says 0 bytes when it is opened and holds more: the extreme of a
        // transcript written while it is read. It is read to its end.
        const QString path = sessionPath("kernel");
        QVERIFY(QDir().mkpath(m_project));
        QVERIFY(QFile::link(QStringLiteral("/proc/self/cmdline"), path));
        QFile cmdline(QStringLiteral("/proc/self/cmdline"));
        QVERIFY(cmdline.open(QIODevice::ReadOnly));
        const QByteArray expected = cmdline.readAll();
        TVLReadProgress progress;
        const TVLSessionRead read = TVLSession::readFile(path, nullptr, &progress);
        QVERIFY(read.problem.isEmpty());
        QCOMPARE(read.bytes.size, expected.size());
        QVERIFY(QFile::remove(path));
    }

    void aPipeIsNeverReadNorWaitedFor()
    {
        // A named pipe with lines in it and a writer that never closes: reading it would wait
        // for the writer forever. It is refused at once, said once, and noted on its row.
        const QString path = sessionPath("piped");
        QVERIFY(QDir().mkpath(m_project));
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        const int writer = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK);
        QVERIFY(writer >= 0);
        const QByteArray bytes = (line(prompt(QStringLiteral("p1"), QStringLiteral("x"))) + QLatin1Char('\n')).toUtf8();
        QCOMPARE(::write(writer, bytes.constData(), size_t(bytes.size())), bytes.size());
        LogCapture log;
        const auto session = TVLSession::initWithPath(path);
        QVERIFY(session);
        QVERIFY(session->exchanges().empty());
        QCOMPARE(session->readProblem(), QStringLiteral("it is a FIFO"));
        QCOMPARE(session->displayTitle(), QStringLiteral("piped.jsonl (not read: it is a FIFO)"));
        session->updateMessages();
        QCOMPARE(log.count("it is a FIFO"), 1);
        ::close(writer);
        ::unlink(QFile::encodeName(path).constData());
    }

    void aSessionLargerThanTheMemoryAllowedIsRefused()
    {
        const QString path = write(sessionPath("large"), QList<QJsonObject>{prompt("p1", QString(2000, 'x'))});
        TVLSession::setMaxFileSize(1000);
        const auto session = TVLSession::initWithPath(path);
        TVLSession::setMaxFileSize(0);
        QVERIFY(session->exchanges().empty());
        QVERIFY(session->readProblem().startsWith("it is 2.0 kB, more than the 1000 bytes allowed"));
        session->updateMessages();
        QCOMPARE(session->exchanges().size(), size_t(1));
        QVERIFY(session->readProblem().isEmpty());
    }

    void hugeLinesAreReadAndLoggedShort()
    {
        const QString big(50 * 1024 * 1024, 'x');
        const QString path = write(sessionPath("huge"), QStringList{line(prompt("p1", "before")), "{\"broken\": \"" + big,
                                                                    line(assistant("a1", big)), line(prompt("p2", "after"))});
        LogCapture capture;
        const auto session = TVLSession::initWithPath(path);
        QCOMPARE(session->children().size(), size_t(4));
        QCOMPARE(session->exchanges()[0]->children().size(), size_t(3));
        QCOMPARE(session->exchanges()[1]->uuid(), QStringLiteral("p2"));
        // The whole 50 MB answer is there, the broken line's length is told, no line is long.
        QVERIFY(session->messages()[2]->markdown().contains(big));
        QCOMPARE(capture.count(QStringLiteral("ERROR: Error creating object from JSON")), 1);
        QVERIFY(capture.lines().first().contains(QString::number(big.size() + 12) + QStringLiteral(" bytes")));
        for (const QString &logLine : capture.lines())
            QVERIFY(logLine.size() < 5000);
    }

    void absoluteDatesFollowTheLocale()
    {
        const QString path = write(sessionPath("dated"), QList<QJsonObject>{prompt("p1", "x", "2025-03-05T14:07:00.000Z")});
        const auto session = TVLSession::initWithPath(path);
        HVXDefaults::standard().setInteger("TVLSessionDisplayMode", 1);
        HVXDefaults::standard().setBool("TVLSessionUseRelativeTime", false);
        const QLocale saved;
        auto titleIn = [&](const QLocale &locale) {
            QLocale::setDefault(locale);
            session->updateDisplayTitle();
            return session->displayTitle();
        };
        const QString german = titleIn(QLocale(QLocale::German, QLocale::Germany));
        const QString american = titleIn(QLocale(QLocale::English, QLocale::UnitedStates));
        QLocale::setDefault(saved);
        HVXDefaults::standard().remove("TVLSessionUseRelativeTime");
        QVERIFY2(german.startsWith(QStringLiteral("5. M\u00e4rz 2025, ")), qPrintable(german));
        QVERIFY2(american.startsWith(QStringLiteral("Mar 5, 2025, ")), qPrintable(american));
    }

    void displayTitlesFollowTheMode()
    {
        const QString longPrompt = QString(100, 'w');
        const QString path = write(sessionPath("titles"), QList<QJsonObject>{prompt("p1", "  spread\n\tover   lines "),
                                                                             prompt("p2", longPrompt)});
        const auto session = TVLSession::initWithPath(path);
        auto titleInMode = [&](int mode) {
            HVXDefaults::standard().setInteger("TVLSessionDisplayMode", mode);
            session->updateDisplayTitle();
            return session->displayTitle();
        };
        QCOMPARE(titleInMode(0), QStringLiteral("titles.jsonl"));
        QCOMPARE(titleInMode(3), QStringLiteral("spread over lines"));
        QCOMPARE(titleInMode(4), QString(79, 'w') + "\u2026");
        QCOMPARE(titleInMode(7), QStringLiteral("titles.jsonl"));
        HVXDefaults::standard().setBool("TVLSessionUseRelativeTime", true);
        QCOMPARE(titleInMode(1), QStringLiteral("Just now"));  // file date, no timestamps in the lines
        HVXDefaults::standard().remove("TVLSessionUseRelativeTime");

        QCOMPARE(TVLSession::truncatePrompt(QString(80, 'a')), std::optional<QString>(QString(80, 'a')));
        QCOMPARE(TVLSession::truncatePrompt(QStringLiteral(" \n\t ")), std::optional<QString>(QString()));
        QVERIFY(!TVLSession::truncatePrompt(QString()));
        // A cut never splits a surrogate pair.
        const QString emoji = QString(78, 'a') + QString::fromUtf8("😀😀😀");
        QCOMPARE(TVLSession::truncatePrompt(emoji), std::optional<QString>(QString(78, 'a') + "\u2026"));
    }

    void titleModeShowsTheSessionsOwnTitle()
    {
        HVXDefaults::standard().setInteger("TVLSessionDisplayMode", 5);
        const QString root = QStringLiteral(TAVLO_TEST_FIXTURES "/log-root/projects/");
        const struct
        {
            const char *session;
            QString title;
        } cases[] = {
            // The last name the user gave, after the titles the assistant made; tags stay text.
            {"C--Users-me--claude/win-claude.jsonl", QStringLiteral("settings cleanup [\u2060c:red]final")},
            {"X--02-Clients-Docs/win-docs.jsonl", "Summary of the client letters"},  // the last one
            {"-home-me--dotfiles/dot-1.jsonl", "Dotfiles: vim links"},                // older files' summary
            {"-work--scratch-app/scratch-1.jsonl", "Try the new parser"},             // the first prompt
        };
        for (const auto &test : cases) {
            const auto session = TVLSession::initWithPath(root + test.session);
            QCOMPARE(session->displayTitle(), test.title);
        }
    }

    void todaysLinesOnThePage()
    {
        const auto session = TVLSession::initWithPath(QStringLiteral(TAVLO_TEST_FIXTURES "/log-root/projects/-Users-me-app/today.jsonl"));
        const QString page = session->markdown();
        QVERIFY(page.contains("<p class=\"pr-link-line\"><a href=\"https://github.com/me/app/pull/58\">Pull request #58 \u00b7 me/app</a></p>"));
        QVERIFY(page.contains("<a href=\"https://github.com/me/app/pull/59\">"));
        QVERIFY(page.contains("class=\"away-summary-body folded\">\n\nWhile you were away: the **login test**"));
        QVERIFY(page.contains("class=\"system api-error\">\n\n<p class=\"api-error-text\">Overloaded</p>"));
        QVERIFY(page.contains("class=\"assistant api-error\">\n\nAPI Error: 529 Overloaded"));
        // Lines of other types show nothing and count nothing; no exchange starts at them.
        QCOMPARE(session->exchanges().size(), size_t(3));
        for (const char *quiet : {"queue-operation", "total_tokens_reminder", "hook_success", "permission-mode"})
            QVERIFY2(!page.contains(QLatin1StringView(quiet)), quiet);
        // A line that is no web address is no link.
        const auto line = TVLMessage::initWithString(R"json({"type":"pr-link","prNumber":3,"prUrl":"javascript:alert(1)"})json");
        QCOMPARE(*line->rawMarkdown(), QStringLiteral("<p class=\"pr-link-line\">Pull request #3</p>"));
    }

    void exchangeTitles()
    {
        QJsonObject summary = prompt("c1", "summary");
        summary.insert("isCompactSummary", true);
        const QString path = write(sessionPath("exchangeTitles"),
                                   QList<QJsonObject>{prompt("p1", QString(300, 'a') + "\nb"), summary, prompt("p2", "")});
        const auto session = TVLSession::initWithPath(path);
        QCOMPARE(session->exchanges()[0]->displayTitle(), "\u2756 " + QString(256, 'a'));
        QCOMPARE(session->exchanges()[1]->displayTitle(), QStringLiteral("Exchange"));
    }

    // Commands the user typed open exchanges titled as typed; their output and the assistant's
    // task notices join the exchange they arrived in and are not searched.
    void typedCommandsAndNoticesInTheirExchanges()
    {
        const QString fixture = QStringLiteral(TAVLO_TEST_FIXTURES "/typed-input/-home-me-shop/typed.jsonl");
        const QString path = m_project + "/typed.jsonl";
        QDir().mkpath(m_project);
        QVERIFY(QFile::copy(fixture, path));
        const auto session = TVLSession::initWithPath(path);
        QCOMPARE(exchangeIds(*session), (QStringList{"u-1", "u-2", "u-4", "u-5", "u-7", "u-9"}));
        QStringList titles;
        for (const auto &exchange : session->exchanges())
            titles << exchange->displayTitle();
        QCOMPARE(titles, (QStringList{"Please look at why the build of the shop is slow",
                                      "/rust-clippy-fix --all-targets crates/parser", "/review the tokenizer changes",
                                      "! git status --short", "/clear", "Thanks, write the missing tokenizer test"}));
        auto idsOf = [](const TVLExchange &exchange) {
            QStringList ids;
            for (const TVLMessage *message : exchange.messages())
                ids << message->uuid();
            return ids;
        };
        QCOMPARE(idsOf(*session->exchanges()[1]), (QStringList{"u-2", "u-2m", "a-2", "u-3", "a-3"}));
        QCOMPARE(idsOf(*session->exchanges()[3]), (QStringList{"u-5", "u-6"}));
        const QString page = session->markdown();
        QVERIFY(page.contains("<div id=\"u-3\" class=\"task-notification\">"));
        QVERIFY(page.contains("<div id=\"u-6\" class=\"shell-output\">"));
        for (const char *tag : {"<command-", "<bash-", "<task-", "<local-command"})
            QVERIFY2(!page.contains(QLatin1String(tag)), tag);
        QCOMPARE(session->lastUserPrompt(), std::optional<QString>("Thanks, write the missing tokenizer test"));

        session->setFilterString("exit code");  // only in the task notice
        QCOMPARE(shownIds(*session), QStringList{});
        session->setFilterString("tokenizer changes");
        QCOMPARE(shownIds(*session), QStringList{"u-4"});
        session->setFilterString(QString());
    }

    void filtersMatchPromptsAndAnswersButNotToolResults()
    {
        const QString path = write(sessionPath("filter"), QList<QJsonObject>{
                                                              prompt("p1", "find the needle"),
                                                              prompt("p2", "other"),
                                                              toolResult("r1", "t1"),
                                                              assistant("a2", "Haystack"),
                                                          });
        const auto session = TVLSession::initWithPath(path);
        session->setFilterString("NEEDLE");
        QCOMPARE(shownIds(*session), QStringList{"p1"});
        QVERIFY(session->matchesFilter());
        session->setFilterString("done");  // only inside the tool result
        QCOMPARE(shownIds(*session), QStringList{});
        QVERIFY(!session->matchesFilter());
        QCOMPARE(session->markdown(), QString());
        session->setSearchIsCaseSensitive(true);
        session->setFilterString("haystack");
        QCOMPARE(shownIds(*session), QStringList{});
        session->setFilterString("Haystack");
        QCOMPARE(shownIds(*session), QStringList{"p2"});
        session->setFilterString(QString());
        session->setSearchIsCaseSensitive(false);
        QCOMPARE(shownIds(*session), (QStringList{"p1", "p2"}));

        // Tags come from the project's metadata store.
        TVLProjectMetadata *store = session->metadata();
        QVERIFY(store);
        store->addTagIdToMessageId(2, "p2");
        store->setAnnotationForMessageId("note", "p1");
        QCOMPARE(session->exchanges()[1]->tagSummary(), quint16(0x0004));
        QCOMPARE(session->tagSummary(), quint16(0x0005));
        session->setFilterTags(0x0004);
        QCOMPARE(shownIds(*session), QStringList{"p2"});
        session->setFilterTags(0x0100);
        QCOMPARE(shownIds(*session), QStringList{});
        QCOMPARE(session->markdown(), QString());
        session->setFilterTags(0);
    }

    void contextMenus()
    {
        const auto desktop = RecordingDesktop::install();
        desktop->applications = {{"Editor", "editor.desktop"}};
        const QString path = write(sessionPath("menus"), QList<QJsonObject>{prompt("p1", "x")});
        const auto session = TVLSession::initWithPath(path);
        HVXMenu menu;
        session->addToContextMenu(menu);
        QCOMPARE(menu.titles(), (QStringList{"Open in new Window", "Reveal in Finder", "Copy URL", "Open Project", "-", "Open in", "-",
                                             "Show File Name", "Show Start Date", "Show Last Changed", "Show First Prompt",
                                             "Show Last Prompt", "Show Title", "-", "Use Relative Time"}));
        QVERIFY(menu.itemWithTitle("Show Start Date")->checked);
        QVERIFY(!menu.itemWithTitle("Show File Name")->checked);
        menu.itemWithTitle("Show Last Prompt")->action();
        QCOMPARE(HVXDefaults::standard().integerForKey("TVLSessionDisplayMode"), 4);
        menu.itemWithTitle("Copy URL")->action();
        QCOMPARE(desktop->copiedTexts, QStringList{"tvl://" + path});

        HVXMenu exchangeMenu;
        session->exchanges()[0]->addToContextMenu(exchangeMenu);
        QCOMPARE(exchangeMenu.titles(), (QStringList{"Copy URL", "Copy as Markdown", "Session"}));
        exchangeMenu.items()[0].action();
        QCOMPARE(desktop->copiedTexts.last(), "tvl://" + path + "?exchange=p1");

        // Without an application for the file, the submenu says so and launches nothing.
        desktop->applications.clear();
        HVXMenu bare;
        session->addToContextMenu(bare);
        const HVXMenuItem *none = bare.itemWithTitle("No Application");
        QVERIFY(none && !none->enabled && !none->action);
        TVLDesktop::install(nullptr);
    }

    void tokenUsageInvalidatesUpTheTree()
    {
        const QString path = write(sessionPath("usage"), QList<QJsonObject>{prompt("p1", "x"), assistant("a1", "y", "m", usage(3, 4))});
        const auto session = TVLSession::initWithPath(path);
        QCOMPARE(session->tokenUsage()->totalTokens(), 7);
        QCOMPARE(session->exchanges()[0]->tokenUsage()->totalTokens(), 7);
        QVERIFY(session->cachedTokenUsage());
        QVERIFY(session->exchanges()[0]->cachedTokenUsage());
        session->messages()[0]->injectCompactionUsage(std::nullopt);  // clears from the exchange up
        QVERIFY(!session->exchanges()[0]->cachedTokenUsage());
        QVERIFY(!session->cachedTokenUsage());
    }
};

QTEST_GUILESS_MAIN(TestSessions)
#include "tst_sessions.moc"
