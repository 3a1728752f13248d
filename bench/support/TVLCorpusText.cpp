#include "bench/support/TVLCorpusText.h"

#include <algorithm>

namespace {

const char *const kWords[] = {
    "the", "a", "request", "cache", "handler", "test", "file", "function", "value", "error", "config",
    "build", "schema", "query", "index", "parser", "token", "session", "user", "server", "client",
    "response", "module", "import", "type", "field", "string", "list", "map", "retry", "timeout",
    "and", "or", "with", "without", "in", "on", "for", "from", "to", "when", "because", "so", "then",
    "is", "are", "was", "should", "could", "returns", "calls", "reads", "writes", "keeps", "moves",
    "fails", "passes", "changes", "adds", "removes", "wraps", "checks", "loads", "sorts", "splits",
    "now", "already", "still", "only", "every", "each", "both", "other", "new", "old", "first",
    "last", "small", "large", "empty", "missing", "slow", "fast", "stale", "fresh", "async", "local",
    "upstream", "endpoint", "migration", "column", "row", "commit", "branch", "worker", "queue",
    "lock", "thread", "buffer", "line", "page", "view", "model", "router", "store", "hook", "state",
    "component", "layout", "style", "theme", "header", "footer", "chart", "axis", "label", "unit",
    "°C", "naïve", "über-flag", "—", "→", "≈", "café", "✅", "⚠️", "🚀",
};

const char *const kIdentifiers[] = {
    "cache", "forecast", "reading", "provider", "client", "request", "result", "items", "config",
    "parser", "tokens", "session", "index", "retries", "timeout", "buffer", "payload", "user",
    "entries", "handler", "schema", "rows", "total", "offset", "limit", "key", "value", "state",
};

const char *const kFileStems[] = {
    "cache", "routes", "providers", "models", "api", "main", "chart", "units", "import", "report",
    "parser", "settings", "store", "client", "server", "utils", "theme", "alerts", "schema", "db",
};

const char *const kDirectories[] = {
    "src", "src/lib", "backend/app", "backend/tests", "web/src", "web/src/components", "crates/core/src",
    "Sources/App", "internal/http", "pkg/store", "lib", "tests", "scripts",
};

struct Language
{
    const char *fence;
    const char *extension;
    const char *comment;
};

const Language kLanguages[] = {
    {"python", "py", "#"},  {"typescript", "ts", "//"}, {"rust", "rs", "//"}, {"bash", "sh", "#"},
    {"json", "json", ""},   {"swift", "swift", "//"},   {"cpp", "cpp", "//"}, {"go", "go", "//"},
    {"sql", "sql", "--"},   {"diff", "diff", ""},       {"yaml", "yaml", "#"}, {"css", "css", ""},
};
constexpr int kLanguageCount = int(sizeof kLanguages / sizeof kLanguages[0]);

const char *const kLogLevels[] = {"INFO", "INFO", "INFO", "DEBUG", "WARN", "ERROR"};
const char *const kTestResults[] = {"ok", "ok", "ok", "ok", "ok", "FAILED", "ignored"};

void appendNumber(std::string &out, qint64 value) { out += std::to_string(value); }

} // namespace

void TVLCorpusText::words(std::string &out, int count)
{
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            out += ' ';
        if (m_random.chance(0.04)) {
            out += '`';
            out += m_random.pick(kIdentifiers);
            out += m_random.chance(0.5) ? "()`" : "`";
        } else {
            out += m_random.pick(kWords);
        }
    }
}

void TVLCorpusText::sentence(std::string &out)
{
    const size_t start = out.size();
    words(out, int(m_random.between(5, 18)));
    if (out[start] >= 'a' && out[start] <= 'z')
        out[start] = char(out[start] - 'a' + 'A');
    out += m_random.chance(0.1) ? "?" : ".";
}

void TVLCorpusText::paragraph(std::string &out, int sentences)
{
    for (int i = 0; i < sentences; ++i) {
        if (i > 0)
            out += ' ';
        sentence(out);
    }
    out += "\n\n";
}

void TVLCorpusText::prompt(std::string &out, qint64 bytes)
{
    const size_t end = out.size() + size_t(bytes);
    while (out.size() < end) {
        sentence(out);
        if (out.size() < end)
            out += m_random.chance(0.2) ? "\n" : " ";
    }
}

void TVLCorpusText::thinking(std::string &out, qint64 bytes)
{
    const size_t end = out.size() + size_t(bytes);
    while (out.size() < end)
        paragraph(out, int(m_random.between(1, 4)));
}

void TVLCorpusText::codeLine(std::string &out, int language, int indent)
{
    out.append(size_t(indent) * 4, ' ');
    const char *a = m_random.pick(kIdentifiers);
    const char *b = m_random.pick(kIdentifiers);
    const char *c = m_random.pick(kIdentifiers);
    switch (m_random.below(6)) {
    case 0:
        if (kLanguages[language].comment[0] != '\0') {
            out += kLanguages[language].comment;
            out += ' ';
            words(out, int(m_random.between(3, 9)));
            break;
        }
        [[fallthrough]];
    case 1:
        out += a;
        out += " = ";
        out += b;
        out += '.';
        out += c;
        out += '(';
        out += m_random.pick(kIdentifiers);
        out += ", \"";
        out += m_random.pick(kWords);
        out += "\")";
        break;
    case 2:
        out += "if ";
        out += a;
        out += " < ";
        appendNumber(out, m_random.between(0, 1000));
        out += " && !";
        out += b;
        out += ".is_empty() {";
        break;
    case 3:
        out += "return ";
        out += a;
        out += '[';
        out += b;
        out += "] + ";
        appendNumber(out, m_random.between(1, 64));
        out += ';';
        break;
    case 4:
        out += "for ";
        out += a;
        out += " in ";
        out += b;
        out += ".iter().filter(|x| x.";
        out += c;
        out += " > 0) {";
        break;
    default:
        out += "log(\"";
        out += a;
        out += "=%d\\t";
        out += b;
        out += "=%s\", ";
        out += c;
        out += ", '<";
        out += m_random.pick(kWords);
        out += ">');";
        break;
    }
    out += '\n';
}

void TVLCorpusText::codeBlock(std::string &out, qint64 bytes)
{
    const int language = int(m_random.below(kLanguageCount));
    out += "```";
    out += kLanguages[language].fence;
    out += '\n';
    const size_t end = out.size() + size_t(bytes);
    int indent = 0;
    while (out.size() < end) {
        codeLine(out, language, indent);
        indent = int(std::clamp<qint64>(indent + m_random.between(-1, 1), 0, 3));
    }
    out += "```\n\n";
}

void TVLCorpusText::table(std::string &out)
{
    const int columns = int(m_random.between(2, 5));
    const int rows = int(m_random.between(2, 8));
    out += '|';
    for (int c = 0; c < columns; ++c) {
        out += ' ';
        words(out, int(m_random.between(1, 2)));
        out += " |";
    }
    out += "\n|";
    for (int c = 0; c < columns; ++c)
        out += c == 0 ? "---|" : (m_random.chance(0.5) ? "---:|" : ":---:|");
    out += '\n';
    for (int r = 0; r < rows; ++r) {
        out += "| `";
        out += m_random.pick(kIdentifiers);
        out += "` |";
        for (int c = 1; c < columns; ++c) {
            out += ' ';
            if (m_random.chance(0.5)) {
                appendNumber(out, m_random.between(0, 99999));
                out += m_random.chance(0.5) ? " ms" : "";
            } else {
                words(out, int(m_random.between(1, 4)));
            }
            out += " |";
        }
        out += '\n';
    }
    out += '\n';
}

void TVLCorpusText::list(std::string &out, bool tasks)
{
    const int items = int(m_random.between(2, 7));
    for (int i = 0; i < items; ++i) {
        out += tasks ? (m_random.chance(0.5) ? "- [x] " : "- [ ] ") : "- ";
        words(out, int(m_random.between(4, 14)));
        out += '\n';
    }
    out += '\n';
}

void TVLCorpusText::markdownReply(std::string &out, qint64 bytes)
{
    const size_t end = out.size() + size_t(bytes);
    paragraph(out, int(m_random.between(1, 3)));
    while (out.size() < end) {
        const qint64 left = qint64(end - out.size());
        switch (m_random.below(8)) {
        case 0:
            out += m_random.chance(0.5) ? "## " : "### ";
            words(out, int(m_random.between(2, 5)));
            out += "\n\n";
            break;
        case 1:
            list(out, false);
            break;
        case 2:
            list(out, true);
            break;
        case 3:
            table(out);
            break;
        case 4:
        case 5:
            codeBlock(out, qMax<qint64>(60, qMin<qint64>(left, m_random.between(150, 1500))));
            break;
        default:
            paragraph(out, int(m_random.between(1, 4)));
            break;
        }
    }
}

void TVLCorpusText::sourceFile(std::string &out, qint64 bytes)
{
    const int language = int(m_random.below(kLanguageCount));
    const size_t end = out.size() + size_t(bytes);
    int number = 1;
    int indent = 0;
    while (out.size() < end) {
        // The numbered form that file reads come back in.
        const std::string label = std::to_string(number++);
        out.append(label.size() < 6 ? 6 - label.size() : 0, ' ');
        out += label;
        out += "\u2192";
        codeLine(out, language, indent);
        indent = int(std::clamp<qint64>(indent + m_random.between(-1, 1), 0, 4));
    }
}

void TVLCorpusText::commandOutput(std::string &out, qint64 bytes)
{
    const size_t end = out.size() + size_t(bytes);
    const bool tests = m_random.chance(0.5);
    int second = int(m_random.below(60));
    while (out.size() < end) {
        if (tests) {
            out += "test ";
            out += m_random.pick(kFileStems);
            out += "::tests::";
            out += m_random.pick(kIdentifiers);
            out += '_';
            out += m_random.pick(kIdentifiers);
            out += " ... ";
            out += m_random.pick(kTestResults);
        } else {
            out += "2025-11-03 09:";
            second = (second + int(m_random.below(3))) % 3600;
            const int minute = second / 60, sec = second % 60;
            out += char('0' + minute / 10);
            out += char('0' + minute % 10);
            out += ':';
            out += char('0' + sec / 10);
            out += char('0' + sec % 10);
            out += ' ';
            out += m_random.pick(kLogLevels);
            out += "  ";
            out += m_random.pick(kFileStems);
            out += ": ";
            words(out, int(m_random.between(3, 12)));
        }
        out += '\n';
    }
}

void TVLCorpusText::searchOutput(std::string &out, qint64 bytes)
{
    const size_t end = out.size() + size_t(bytes);
    while (out.size() < end) {
        out += path();
        out += ':';
        appendNumber(out, m_random.between(1, 900));
        out += ':';
        codeLine(out, int(m_random.below(kLanguageCount)), int(m_random.below(3)));
    }
}

std::string TVLCorpusText::path()
{
    std::string text = m_random.pick(kDirectories);
    text += '/';
    text += m_random.pick(kFileStems);
    text += '.';
    text += kLanguages[m_random.below(kLanguageCount)].extension;
    return text;
}

void TVLCorpusText::patchLines(std::string &out, int lines, int *added, int *removed)
{
    // One line per entry, separated by '\n'; the caller splits them into the hunk's array.
    const int language = int(m_random.below(kLanguageCount));
    for (int i = 0; i < lines; ++i) {
        const qint64 roll = m_random.below(10);
        if (roll < 3) {
            out += '+';
            ++*added;
        } else if (roll < 5) {
            out += '-';
            ++*removed;
        } else {
            out += ' ';
        }
        codeLine(out, language, int(m_random.below(3)));
    }
}

void TVLCorpusText::codeHeavyReply(std::string &out, int blocks)
{
    paragraph(out, 1);
    for (int block = 0; block < blocks; ++block) {
        sentence(out);
        out += "\n\n";
        codeBlock(out, m_random.logUniform(60, 600));
    }
}

void TVLCorpusText::singleLineJson(std::string &out, qint64 bytes)
{
    const size_t end = out.size() + size_t(bytes);
    out += '[';
    for (qint64 item = 0; out.size() < end; ++item) {
        if (item > 0)
            out += ',';
        out += "{\"id\":" + std::to_string(item) + ",\"name\":\"";
        words(out, int(m_random.between(1, 3)));
        out += "\",\"path\":\"" + path() + "\",\"size\":" + std::to_string(m_random.between(0, 99999)) +
               ",\"ok\":" + (m_random.chance(0.9) ? "true" : "false") + "}";
    }
    out += ']';
}
