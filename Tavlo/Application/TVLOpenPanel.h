#pragma once
// The File > Open dialog: chooses a directory (a log root or a project) or a session file
// (.jsonl). Qt's dialogs choose either files or directories, so this one shows both and accepts
// a transcript file as well as the directory it is in.

#include <QFileDialog>

class TVLOpenPanel final : public QFileDialog
{
    Q_OBJECT
public:
    explicit TVLOpenPanel(QWidget *parent = nullptr);

    // The chosen path, empty until the dialog was accepted.
    QString chosenPath() const { return m_chosenPath; }

    // Whether the path is something a viewer can open: a directory or a regular file.
    static bool isOpenablePath(const QString &path);

public Q_SLOTS:
    void accept() override;

private:
    QString m_chosenPath;
};
