#include "TVLProjectMetadata.h"

#include "TVLObject.h"
#include "TVLTag.h"

#include "Halvex/Foundation/HVXLog.h"
#include "TVLChangeHub.h"
#include "Halvex/Foundation/HVXSafeFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <optional>

namespace {
const QString fileName = QStringLiteral("TavloMetaData.json");
const QString annotationsKey = QStringLiteral("annotations");
const QString tagsKey = QStringLiteral("tags");

// Far more than any hand of tags and annotations; a larger file is not read.
constexpr qint64 kMaxFileSize = 64 << 20;

// What lies at the metadata file's path right now.
struct FileState
{
    bool exists = false;
    bool readable = false;
    QByteArray content;
    QString problem;  // why it could not be read

    bool operator==(const FileState &other) const
    {
        return exists == other.exists && readable == other.readable && content == other.content;
    }
};

FileState readFileState(const QString &path)
{
    FileState state;
    const QFileInfo info(path);
    state.exists = info.exists() || info.isSymLink();
    if (!state.exists)
        return state;
    HVXSafeFile file(path);
    std::optional<QByteArray> content;
    if (file.open(kMaxFileSize))
        content = file.readAll();
    state.readable = content.has_value();
    state.content = content.value_or(QByteArray());
    state.problem = file.errorString();
    return state;
}

// The tag id of one element of a stored list; nothing for an element of another type.
std::optional<quint64> tagIdOf(const QJsonValue &entry)
{
    if (!entry.isDouble() || entry.toDouble() < 0)
        return std::nullopt;
    return quint64(entry.toInteger());
}

QJsonArray jsonArrayOfIds(const QList<quint64> &tagIds)
{
    QJsonArray array;
    for (quint64 tagId : tagIds)
        array.append(qint64(tagId));
    return array;
}

QString asidePathFor(const QString &path)
{
    const QString stem = path + QStringLiteral(".unreadable-")
                         + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString candidate = stem;
    for (int n = 2; QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink(); ++n)
        candidate = stem + QStringLiteral("-%1").arg(n);
    return candidate;
}
} // namespace

TVLProjectMetadata *TVLProjectMetadata::metadataForProjectPath(const QString &projectPath)
{
    if (projectPath.isEmpty())
        return nullptr;
    // Stores live as long as the process: nodes and windows compare them by identity.
    static auto *stores = new QHash<QString, TVLProjectMetadata *>;
    const QString key = QDir::cleanPath(projectPath);
    TVLProjectMetadata *&store = (*stores)[key];
    if (!store)
        store = new TVLProjectMetadata(key);
    return store;
}

TVLProjectMetadata::TVLProjectMetadata(const QString &projectPath)
    : m_projectPath(projectPath)
{
    load();
}

QString TVLProjectMetadata::metadataFilePath() const
{
    return QDir(m_projectPath).filePath(fileName);
}

void TVLProjectMetadata::load()
{
    readFile();
    for (const Mutation &mutation : std::as_const(m_unsavedMutations))
        mutation(*this);
}

void TVLProjectMetadata::readFile()
{
    const QString path = metadataFilePath();
    const FileState state = readFileState(path);
    m_knownFileExists = state.exists;
    m_knownFileReadable = state.readable;
    m_knownFileContent = state.content;
    m_fileIsDamaged = false;
    m_annotations = {};
    m_tagIdsByMessageId = {};
    if (!state.exists)
        return;

    auto damaged = [&](const QString &why) {
        m_fileIsDamaged = true;
        HVXLogWarning(QStringLiteral("Can't read metadata file %1 (%2); it is kept aside before it is next written")
                          .arg(path, why));
    };
    if (!state.readable)
        return damaged(state.problem);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(state.content, &error);
    if (error.error != QJsonParseError::NoError)
        return damaged(error.errorString());
    if (!document.isObject())
        return damaged(QStringLiteral("not a JSON object"));
    // The two maps are read independently: a half of the wrong type doesn't hide the other.
    const QJsonObject top = document.object();
    QStringList notObjects;
    auto readMap = [&](const QString &key, QJsonObject &map) {
        const QJsonValue value = top.value(key);
        if (value.isObject())
            map = value.toObject();
        else if (!value.isUndefined())
            notObjects.append(QLatin1Char('"') + key + QLatin1Char('"'));
    };
    readMap(annotationsKey, m_annotations);
    readMap(tagsKey, m_tagIdsByMessageId);
    if (!notObjects.isEmpty())
        damaged(notObjects.join(QStringLiteral(" and ")) + QStringLiteral(" is not an object"));

    // Entries of unexpected types are kept in the file, but have no meaning here.
    int odd = 0;
    for (const QJsonValue &value : std::as_const(m_annotations))
        odd += value.isString() ? 0 : 1;
    for (const QJsonValue &value : std::as_const(m_tagIdsByMessageId))
        odd += value.isArray() ? 0 : 1;
    if (odd > 0)
        HVXLogWarning(QStringLiteral("Metadata file %1 has %2 entries of the wrong type; they are ignored")
                          .arg(path, QString::number(odd)));
}

bool TVLProjectMetadata::keepDamagedFileAside()
{
    const QString path = metadataFilePath();
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) {
        m_fileIsDamaged = false;
        return true;
    }
    const QString aside = asidePathFor(path);
    // Renaming keeps the old content exactly, also when it cannot be read or is a directory.
    if (!QDir().rename(path, aside)) {
        HVXLogError(QStringLiteral("Can't keep unreadable metadata file %1 aside as %2; not writing over it")
                        .arg(path, aside));
        return false;
    }
    HVXLogWarning(QStringLiteral("Kept unreadable metadata file aside as %1").arg(aside));
    m_fileIsDamaged = false;
    m_knownFileExists = false;
    m_knownFileReadable = false;
    m_knownFileContent.clear();
    return true;
}

bool TVLProjectMetadata::save()
{
    const QString path = metadataFilePath();
    // A link is read but never written: writing would go through it into whatever it points
    // at, another program's file perhaps, and rewrite it with our keys only.
    if (QFileInfo(path).isSymLink()) {
        if (!m_warnedAboutLink)
            HVXLogWarning(QStringLiteral("Metadata file %1 is a symbolic link; Tavlo doesn't write through links, so "
                                         "tag and annotation changes in this project are kept for this run only")
                              .arg(path));
        m_warnedAboutLink = true;
        return false;
    }
    if (m_fileIsDamaged && !keepDamagedFileAside())
        return false;

    QJsonObject top;
    top.insert(QStringLiteral("version"), 1);
    top.insert(annotationsKey, m_annotations);
    top.insert(tagsKey, m_tagIdsByMessageId);
    // QJsonObject keeps its keys sorted, so the text comes out with sorted keys.
    const QByteArray content = QJsonDocument(top).toJson(QJsonDocument::Indented);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit()) {
        HVXLogError(QStringLiteral("Can't write metadata file %1: %2; the change is kept for this run only")
                        .arg(path, file.errorString()));
        return false;
    }
    m_knownFileExists = true;
    m_knownFileReadable = true;
    m_knownFileContent = content;
    m_unsavedMutations.clear();
    return true;
}

bool TVLProjectMetadata::refreshFromDiskIfChanged()
{
    const FileState known{m_knownFileExists, m_knownFileReadable, m_knownFileContent, {}};
    if (readFileState(metadataFilePath()) == known)
        return false;
    load();
    return true;
}

QString TVLProjectMetadata::annotationForMessageId(const QString &messageId) const
{
    return m_annotations.value(messageId).toString();
}

QList<quint64> TVLProjectMetadata::tagIdsForMessageId(const QString &messageId) const
{
    QList<quint64> tagIds;
    for (const QJsonValue &entry : m_tagIdsByMessageId.value(messageId).toArray())
        if (const auto tagId = tagIdOf(entry))
            tagIds.append(*tagId);
    return tagIds;
}

QList<TVLTag *> TVLProjectMetadata::tagsForMessageId(const QString &messageId) const
{
    QList<TVLTag *> tags;
    for (quint64 tagId : tagIdsForMessageId(messageId))
        if (TVLTag *tag = TVLTag::tagWithId(tagId))
            tags.append(tag);
    return tags;
}

QStringList TVLProjectMetadata::annotatedMessageIds() const
{
    QStringList ids;
    for (auto it = m_annotations.begin(); it != m_annotations.end(); ++it)
        if (!it.value().toString().isEmpty())
            ids.append(it.key());
    return ids;
}

QStringList TVLProjectMetadata::taggedMessageIds() const
{
    QStringList ids;
    for (auto it = m_tagIdsByMessageId.begin(); it != m_tagIdsByMessageId.end(); ++it)
        if (it.value().isArray() && !it.value().toArray().isEmpty())
            ids.append(it.key());
    return ids;
}

void TVLProjectMetadata::mutate(const Mutation &mutation)
{
    const bool reloaded = refreshFromDiskIfChanged();
    if (mutation(*this)) {
        m_unsavedMutations.append(mutation);
    } else if (m_unsavedMutations.isEmpty()) {
        // Nothing to write; but what others wrote is new to this process's views.
        if (reloaded)
            postChangeNotification();
        return;
    }
    save();
    postChangeNotification();
}

void TVLProjectMetadata::setAnnotationForMessageId(const QString &text, const QString &messageId)
{
    mutate([text, messageId](TVLProjectMetadata &store) {
        if (text.isEmpty())
            store.m_annotations.remove(messageId);
        else
            store.m_annotations.insert(messageId, text);
        return true;
    });
}

void TVLProjectMetadata::addTagIdToMessageId(quint64 tagId, const QString &messageId)
{
    mutate([tagId, messageId](TVLProjectMetadata &store) {
        if (store.tagIdsForMessageId(messageId).contains(tagId))
            return false;
        // Elements of other types in a hand-edited list stay where they are.
        QJsonArray list = store.m_tagIdsByMessageId.value(messageId).toArray();
        list.append(qint64(tagId));
        store.m_tagIdsByMessageId.insert(messageId, list);
        return true;
    });
}

void TVLProjectMetadata::removeTagIdFromMessageId(quint64 tagId, const QString &messageId)
{
    mutate([tagId, messageId](TVLProjectMetadata &store) {
        const QJsonValue value = store.m_tagIdsByMessageId.value(messageId);
        // No list, or a hand-edited entry that is not one: left as it is.
        if (!value.isArray())
            return false;
        QJsonArray kept;
        for (const QJsonValue &entry : value.toArray())
            if (tagIdOf(entry) != tagId)
                kept.append(entry);
        if (kept.isEmpty())
            store.m_tagIdsByMessageId.remove(messageId);
        else
            store.m_tagIdsByMessageId.insert(messageId, kept);
        return true;
    });
}

void TVLProjectMetadata::setTagIdsForMessageId(const QList<quint64> &tagIds, const QString &messageId)
{
    mutate([tagIds, messageId](TVLProjectMetadata &store) {
        if (tagIds.isEmpty())
            store.m_tagIdsByMessageId.remove(messageId);
        else
            store.m_tagIdsByMessageId.insert(messageId, jsonArrayOfIds(tagIds));
        return true;
    });
}

void TVLProjectMetadata::postChangeNotification()
{
    TVLObject::invalidateAllTagSummaries();
    Q_EMIT TVLChangeHub::shared().projectMetadataDidChange(this);
}
