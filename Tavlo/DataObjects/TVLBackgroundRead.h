#pragma once
// Transcripts read on a worker thread (a big project's, or one big session's), so that the
// window stays usable while they are read. The reads (each with its sub-agent transcripts)
// touch no tree; the owner takes them on the main thread once they are done. While it runs,
// the read tells how far it is, in bytes of how many, a few times a second.
//
// A read that is dropped before it is done asks its worker to stop and waits for it, so no
// result ever arrives for an owner that is gone.

#include "TVLSession.h"

#include <QHash>
#include <QObject>
#include <QStringList>

#include <memory>

class QTimer;

class TVLBackgroundRead final : public QObject
{
    Q_OBJECT
public:
    // Starts reading the transcript files (of `transcriptBytes` together) at once; the size of
    // their sub-agent transcripts is added as the worker finds them.
    TVLBackgroundRead(const QStringList &paths, qint64 transcriptBytes, QObject *parent = nullptr);
    ~TVLBackgroundRead() override;

    // The bytes read and parsed so far (each counting half), and the size of everything read.
    qint64 bytesRead() const;
    qint64 bytesTotal() const;
    // "Loading… N MB of M".
    QString note() const;
    // The reads by path, waiting for the worker first when it is not done yet (main thread).
    QHash<QString, TVLSessionRead> takeReads();

Q_SIGNALS:
    // A few times a second while reading.
    void progressed();
    // The reads are done and can be taken; sent on the main thread.
    void done();

private:
    struct State;
    void waitForWorker();

    std::shared_ptr<State> m_state;
    QTimer *m_progressTimer = nullptr;
};
