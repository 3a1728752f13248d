#include "TVLSingleInstance.h"

#include "Halvex/Foundation/HVXDefaults.h"
#include "Halvex/Foundation/HVXLog.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QtEndian>
#include <atomic>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr char kAcknowledgement = 0x06;
constexpr int kHeaderBytes = 4;

QString userName()
{
    const QString user = qEnvironmentVariable("USER");
    return user.isEmpty() ? qEnvironmentVariable("LOGNAME") : user;
}

bool looksLikeUrl(const QString &argument)
{
    const qsizetype colon = argument.indexOf(QLatin1Char(':'));
    return colon > 0 && argument.mid(colon).startsWith(QLatin1String("://"));
}

// Reads exactly `size` bytes, waiting at most until the deadline.
std::optional<QByteArray> readExactly(QLocalSocket &socket, qint64 size, QDeadlineTimer deadline)
{
    while (socket.bytesAvailable() < size) {
        if (socket.state() != QLocalSocket::ConnectedState && socket.bytesAvailable() < size)
            return std::nullopt;
        if (!socket.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 0))))
            return std::nullopt;
    }
    return socket.read(size);
}
bool isAnswered(const QString &socketPath)
{
    QLocalSocket probe;
    probe.connectToServer(socketPath);
    return probe.waitForConnected(500);
}

// A directory only this user can enter: the paths and addresses handed over through the socket
// are the user's own business.
bool isPrivateDirectory(const QString &path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid()
        && (info.st_mode & 077) == 0;
}

// The session's runtime directory; without one, a directory of this user's own in the shared
// temporary directory. Nothing when neither is private (someone else made it first, say).
QString privateSocketDirectory()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isPrivateDirectory(runtime))
        return runtime;
    const QString own = QDir::tempPath() + QStringLiteral("/tavlo-%1").arg(::getuid());
    ::mkdir(QFile::encodeName(own).constData(), 0700);
    if (isPrivateDirectory(own))
        return own;
    static std::atomic<bool> warned{false};
    if (!warned.exchange(true))
        HVXLogWarning(QStringLiteral("No private directory for the socket that hands paths to a running tavlo (%1 is not "
                                     "this user's alone, and XDG_RUNTIME_DIR is %2): this tavlo runs on its own")
                          .arg(own, runtime.isEmpty() ? QStringLiteral("not set") : QStringLiteral("not private")));
    return QString();
}
} // namespace

QString TVLSingleInstance::socketPath() { return socketPathForSettingsFile(HVXDefaults::standard().storePath()); }

QString TVLSingleInstance::socketPathForSettingsFile(const QString &settingsPath)
{
    const QString directory = privateSocketDirectory();
    if (directory.isEmpty())
        return QString();
    const QByteArray key = (userName() + QLatin1Char('\n') + QFileInfo(settingsPath).absoluteFilePath()).toUtf8();
    const QByteArray hash = QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(16);
    return QDir(directory).filePath(QStringLiteral("tavlo-%1.socket").arg(QString::fromLatin1(hash)));
}

QStringList TVLSingleInstance::resolvedArguments(const QStringList &arguments, const QString &workingDirectory)
{
    QStringList resolved;
    const QDir base(workingDirectory);
    for (const QString &argument : arguments)
        resolved << (looksLikeUrl(argument) ? argument : QDir::cleanPath(base.absoluteFilePath(argument)));
    return resolved;
}

QByteArray TVLSingleInstance::encodeRequest(const Request &request)
{
    QJsonObject object{{QStringLiteral("arguments"), QJsonArray::fromStringList(request.arguments)}};
    if (!request.activationToken.isEmpty())
        object.insert(QStringLiteral("activationToken"), request.activationToken);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<TVLSingleInstance::Request> TVLSingleInstance::decodeRequest(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    const QJsonValue arguments = document.object().value(QStringLiteral("arguments"));
    if (error.error != QJsonParseError::NoError || !arguments.isArray()) {
        HVXLogWarning(QStringLiteral("Ignoring a message from another tavlo that is not a list of arguments: %1")
                          .arg(hvxLogValue(json)));
        return std::nullopt;
    }
    Request request;
    for (const QJsonValue &argument : arguments.toArray()) {
        if (!argument.isString()) {
            HVXLogWarning(QStringLiteral("Ignoring a message from another tavlo with an argument that is not text: %1")
                              .arg(hvxLogValue(json)));
            return std::nullopt;
        }
        request.arguments << argument.toString();
    }
    request.activationToken = document.object().value(QStringLiteral("activationToken")).toString();
    return request;
}

bool TVLSingleInstance::forwardToRunningInstance(const QString &socketPath, const QStringList &arguments,
                                                 const QString &activationToken, int timeoutMilliseconds)
{
    if (!QFileInfo::exists(socketPath))
        return false;
    const QDeadlineTimer deadline(timeoutMilliseconds);
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(int(std::max<qint64>(deadline.remainingTime(), 0))))
        return false;
    const QByteArray body = encodeRequest({arguments, activationToken});
    QByteArray message(kHeaderBytes, '\0');
    qToBigEndian<qint32>(qint32(body.size()), message.data());
    message += body;
    socket.write(message);
    while (socket.bytesToWrite() > 0)
        if (!socket.waitForBytesWritten(int(std::max<qint64>(deadline.remainingTime(), 0))))
            return false;
    const auto answer = readExactly(socket, 1, deadline);
    if (!answer || answer->at(0) != kAcknowledgement) {
        HVXLogWarning(QStringLiteral("The running tavlo at %1 did not acknowledge the arguments").arg(socketPath));
        return false;
    }
    return true;
}

TVLSingleInstance::TVLSingleInstance(QObject *parent)
    : QObject(parent)
{
}

TVLSingleInstance::~TVLSingleInstance()
{
    if (m_server)
        m_server->close();
}

bool TVLSingleInstance::listen(const QString &socketPath, Handler handler)
{
    if (socketPath.isEmpty())
        return false;  // no private place for it (said when the path was asked for)
    // Qt puts a new socket in place of an existing file, so a live instance is asked first.
    if (isAnswered(socketPath)) {
        HVXLogError(QStringLiteral("Another tavlo already listens at %1").arg(socketPath));
        return false;
    }
    m_handler = std::move(handler);
    delete m_server;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &TVLSingleInstance::acceptConnections);
    if (m_server->listen(socketPath))
        return true;
    // A socket file nobody answers on was left behind by a process that ended without removing
    // it; one that answers belongs to a live instance and stays.
    if (m_server->serverError() == QAbstractSocket::AddressInUseError && !isAnswered(socketPath)) {
        QLocalServer::removeServer(socketPath);
        if (m_server->listen(socketPath))
            return true;
    }
    HVXLogError(QStringLiteral("Can't listen for other tavlo processes at %1: %2").arg(socketPath, m_server->errorString()));
    return false;
}

void TVLSingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        readFrom(socket);
    }
}

void TVLSingleInstance::readFrom(QLocalSocket *socket)
{
    if (socket->bytesAvailable() < kHeaderBytes)
        return;
    const qint32 size = qFromBigEndian<qint32>(socket->peek(kHeaderBytes).constData());
    if (size < 0 || size > maximumMessageBytes) {
        HVXLogWarning(QStringLiteral("Ignoring a message of %1 bytes from another tavlo").arg(size));
        socket->disconnectFromServer();
        return;
    }
    if (socket->bytesAvailable() < kHeaderBytes + size)
        return;
    socket->read(kHeaderBytes);
    const auto request = decodeRequest(socket->read(size));
    if (!request) {
        socket->disconnectFromServer();
        return;
    }
    // Acknowledged first: the sender may exit while the windows open.
    socket->write(&kAcknowledgement, 1);
    socket->flush();
    socket->disconnectFromServer();
    if (m_handler)
        m_handler(*request);
}
