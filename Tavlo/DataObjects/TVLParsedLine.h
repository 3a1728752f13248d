#pragma once
// A transcript line parsed again on request, with one simdjson parser per thread. The parser's
// buffers grow to several times the largest line it has seen, so they are given back after a
// line of megabytes rather than pinned for the rest of the run.

#include <QByteArrayView>
#include <simdjson.h>

class TVLParsedLine final
{
public:
    // The bytes must stay readable for simdjson's padding past their end, as the lines of a
    // session read do.
    explicit TVLParsedLine(QByteArrayView bytes)
    {
        thread_local simdjson::dom::parser parser;
        m_parser = &parser;
        simdjson::dom::element document;
        if (parser.parse(bytes.data(), size_t(bytes.size()), false).get(document) == simdjson::SUCCESS)
            m_ok = document.get_object().get(m_line) == simdjson::SUCCESS;
        m_huge = bytes.size() > 256 * 1024;
    }
    ~TVLParsedLine()
    {
        if (m_huge)
            *m_parser = simdjson::dom::parser();
    }
    TVLParsedLine(const TVLParsedLine &) = delete;
    TVLParsedLine &operator=(const TVLParsedLine &) = delete;

    bool ok() const { return m_ok; }
    const simdjson::dom::object &line() const { return m_line; }

private:
    simdjson::dom::parser *m_parser = nullptr;
    simdjson::dom::object m_line;
    bool m_ok = false;
    bool m_huge = false;
};
