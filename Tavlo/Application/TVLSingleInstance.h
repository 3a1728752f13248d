#pragma once
// One running Tavlo per user and settings file. A second `tavlo PATH|URL…` hands its arguments
// to the running one over a local socket and exits; the running one opens them as if they had
// been given to it and raises the window.
//
// The socket lives in the user's runtime directory (without one, in a directory of the user's
// own below the temporary directory, which only the user may enter) and is named after the user and the
// settings file, so a process with a settings file of its own (a test) never reaches the user's
// instance. A message is a 4-byte big-endian length and that many bytes of compact JSON:
// {"arguments": [...], "activationToken": "..."}; relative paths are made absolute by the
// sender. The receiver answers one byte, 0x06, once it has taken the arguments.

#include <QObject>
#include <QStringList>
#include <functional>
#include <optional>

class QLocalServer;
class QLocalSocket;

class TVLSingleInstance final : public QObject
{
    Q_OBJECT
public:
    struct Request
    {
        QStringList arguments;
        QString activationToken;
    };
    using Handler = std::function<void(const Request &request)>;

    // The socket path for this user and the settings file in use; empty, after a warning, when
    // there is no private directory for it (then nothing is handed over).
    static QString socketPath();
    static QString socketPathForSettingsFile(const QString &settingsPath);

    // Paths made absolute against the working directory; URLs unchanged.
    static QStringList resolvedArguments(const QStringList &arguments, const QString &workingDirectory);

    // Hands the arguments to the instance listening at the path. True when it acknowledged them;
    // false when none answers (then this process should become the instance).
    static bool forwardToRunningInstance(const QString &socketPath, const QStringList &arguments,
                                         const QString &activationToken, int timeoutMilliseconds = 3000);

    static QByteArray encodeRequest(const Request &request);
    // Nothing, after a warning, for a message that isn't a request.
    static std::optional<Request> decodeRequest(const QByteArray &json);

    explicit TVLSingleInstance(QObject *parent = nullptr);
    ~TVLSingleInstance() override;

    // Listens at the path, removing a socket file that nobody answers on. False, after an error
    // line, when it can't listen.
    bool listen(const QString &socketPath, Handler handler);

    static constexpr qint32 maximumMessageBytes = 4 * 1024 * 1024;

private:
    void acceptConnections();
    void readFrom(QLocalSocket *socket);

    QLocalServer *m_server = nullptr;
    Handler m_handler;
};
