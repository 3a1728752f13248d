#pragma once
// What a user line's string content stands for when the assistant wrote it in one of its tagged
// forms rather than as the words of a prompt: a slash command or skill the user ran, a command
// of the shell mode and its output, a command's local output, or the assistant's own notice that
// a background task ended. The forms are recognised by the tag they begin with; the text shown
// for them never carries the tags.

#include <QString>
#include <string_view>

namespace TVLUserText {
enum class Shape : quint8 {
    Prompt,              // words the user typed
    SlashCommand,        // <command-message>…<command-name>/NAME…<command-args>ARGS…, in either order
    ShellCommand,        // <bash-input>CMD</bash-input>
    ShellOutput,         // <bash-stdout>…</bash-stdout><bash-stderr>…</bash-stderr>
    TaskNotification,    // <task-notification>…<status>…<summary>…</task-notification>
    LocalCommandOutput,  // <local-command-stdout>…
};

Shape shapeOf(std::string_view content);

// Whether a line of this shape opens an exchange: what the user typed does, output and notices
// join the exchange they arrived in.
inline bool startsExchange(Shape shape)
{
    return shape == Shape::Prompt || shape == Shape::SlashCommand || shape == Shape::ShellCommand;
}

// The prompt as the user typed it: "/NAME ARGS" for a slash command, "! CMD" for a shell-mode
// command, the content itself for anything else.
QString promptText(Shape shape, const QString &content);

// The text between the first <tag> and the </tag> after it; null when either is missing.
QString tagContent(const QString &content, QLatin1StringView tag);

// Page HTML: a shell command's output as folded blocks, and a task notice as one quiet line.
QString shellOutputHtml(const QString &content);
QString taskNotificationHtml(const QString &content);
} // namespace TVLUserText
