#pragma once
// Made-up but plausible text for the benchmark corpus: prompts, assistant Markdown (paragraphs,
// lists, task lists, tables, fenced code in several languages), source files, build and test
// logs, search output. Every function appends about the requested number of UTF-8 bytes to
// `out` (never fewer, rarely more than one line beyond). Some non-ASCII text is mixed in, also
// characters outside the Basic Multilingual Plane, as real transcripts have.

#include "bench/support/TVLCorpusRandom.h"

#include <string>

class TVLCorpusText final
{
public:
    explicit TVLCorpusText(TVLCorpusRandom &random) : m_random(random) {}

    void prompt(std::string &out, qint64 bytes);
    void markdownReply(std::string &out, qint64 bytes);
    void thinking(std::string &out, qint64 bytes);
    void sourceFile(std::string &out, qint64 bytes);
    void commandOutput(std::string &out, qint64 bytes);
    void searchOutput(std::string &out, qint64 bytes);
    // A reply that is mostly code: `blocks` short fenced blocks, each after a sentence.
    void codeHeavyReply(std::string &out, int blocks);
    // Minified JSON on one line, as API dumps and bundled files come out of a tool.
    void singleLineJson(std::string &out, qint64 bytes);
    void sentence(std::string &out);
    // A plausible repository-relative source path.
    std::string path();
    // Lines of a unified diff hunk body: context, removed and added lines.
    void patchLines(std::string &out, int lines, int *added, int *removed);

private:
    void words(std::string &out, int count);
    void paragraph(std::string &out, int sentences);
    void codeBlock(std::string &out, qint64 bytes);
    void codeLine(std::string &out, int language, int indent);
    void table(std::string &out);
    void list(std::string &out, bool tasks);

    TVLCorpusRandom &m_random;
};
