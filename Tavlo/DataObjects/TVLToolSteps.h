#pragma once
// The tool steps of a transcript line as page HTML, shown when the "TVLShowToolSteps" setting is
// on (or a command asks for them): each tool call as a folded header with its tool name and main
// argument, each tool result as a folded header with its text beneath, and images from base64
// sources as data: URLs. Image data is copied as it stands, never decoded, and sized by the style
// sheet; everything else is cut to a readable length with the full length stated.

#include "TVLSettings.h"

#include <QString>
#include <optional>
#include <simdjson.h>

namespace TVLToolSteps {
inline const QString &settingKey = TVLSettings::showToolStepsKey;

void registerDefaults();
// The setting, unless a command line run decided otherwise.
bool shown();
// Overrides the setting for this process (nothing: the setting again).
void setShownOverride(std::optional<bool> shown);

// The steps and images of one line, or "" when it has none. `patchBlock` is the line's file-edit
// diff block, which stands in for the text of its tool result.
QString htmlForLine(const simdjson::dom::object &line, const std::optional<QString> &patchBlock);

// An <img> for an image item with a base64 source; a short note for one that can't be shown.
QString htmlForImage(const simdjson::dom::object &item);
// A folded block of output: a header of `word` and the text's length, the text beneath it (cut
// to the shown lines and characters).
QString htmlForOutput(const QString &word, const QString &text, bool isError);
// The tool's main argument: the command, file path, pattern, URL… of a call's input.
QString mainArgument(const simdjson::dom::object &input);

constexpr qsizetype kShownLines = 40;
constexpr qsizetype kShownCharacters = 4000;
} // namespace TVLToolSteps
