#pragma once
// The user's tags and annotations of one project directory, kept in "TavloMetaData.json" beside
// the transcripts (which are never written). There is one store per directory per process, shared
// by every node and window. Every mutation rewrites the whole file atomically and posts
// "TVLProjectMetadataDidChangeNotification" with the store as object.
//
// Two guards keep the user's marks safe: a file that exists but cannot be read (in whole or in
// part) is moved aside (with a warning) before it is first written over, and a file that changed
// on disk since this store last read or wrote it is read again before a mutation, so that every
// change not yet written lands on top of it. A file that is a symbolic link is read but never
// written: changes to it last for the run.

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <functional>

class TVLTag;

class TVLProjectMetadata final
{
public:
    // The one store for the path in this process (created and read on first request, never
    // dropped); nullptr for an empty path.
    static TVLProjectMetadata *metadataForProjectPath(const QString &projectPath);

    explicit TVLProjectMetadata(const QString &projectPath);
    TVLProjectMetadata(const TVLProjectMetadata &) = delete;
    TVLProjectMetadata &operator=(const TVLProjectMetadata &) = delete;

    QString projectPath() const { return m_projectPath; }
    QString metadataFilePath() const;

    // Reads the file, then applies again the changes not yet written.
    void load();
    // Writes the whole file; false when it could not be written (logged).
    bool save();

    // Empty when there is none (or the stored value is not a string).
    QString annotationForMessageId(const QString &messageId) const;
    // The ids in the order they were added; empty when none or the stored value is not a list.
    QList<quint64> tagIdsForMessageId(const QString &messageId) const;
    // The palette tags of tagIdsForMessageId, skipping ids without tag.
    QList<TVLTag *> tagsForMessageId(const QString &messageId) const;
    // Message ids that carry an annotation or tags.
    QStringList annotatedMessageIds() const;
    QStringList taggedMessageIds() const;

    void setAnnotationForMessageId(const QString &text, const QString &messageId);
    void addTagIdToMessageId(quint64 tagId, const QString &messageId);
    void removeTagIdFromMessageId(quint64 tagId, const QString &messageId);
    void setTagIdsForMessageId(const QList<quint64> &tagIds, const QString &messageId);

    void postChangeNotification();

private:
    // Changes the maps; false when there is nothing to write.
    using Mutation = std::function<bool(TVLProjectMetadata &)>;

    void readFile();
    bool refreshFromDiskIfChanged();
    bool keepDamagedFileAside();
    void mutate(const Mutation &mutation);

    QString m_projectPath;
    // The file's own values, kept as read so that entries of unexpected types survive a save.
    QJsonObject m_annotations;
    QJsonObject m_tagIdsByMessageId;
    // What this store last read from or wrote to the file (null when there was no file).
    QByteArray m_knownFileContent;
    bool m_knownFileExists = false;
    bool m_knownFileReadable = false;
    // The file exists but could not be read or understood; move it aside before writing over it.
    bool m_fileIsDamaged = false;
    // Said once: the file is a link and is never written.
    bool m_warnedAboutLink = false;
    // Mutations since the last successful write, in order.
    QList<Mutation> m_unsavedMutations;
};
