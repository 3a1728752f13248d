#include "TVLOpenPanel.h"

#include <QFileInfo>

TVLOpenPanel::TVLOpenPanel(QWidget *parent)
    : QFileDialog(parent, tr("Open"))
{
    setObjectName(QStringLiteral("TVLOpenPanel"));
    // The platform dialogs can't offer files and directories at once.
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::Directory);
    setOption(QFileDialog::ShowDirsOnly, false);
    setNameFilters({tr("Transcripts (*.jsonl)"), tr("All files (*)")});
    setAcceptMode(QFileDialog::AcceptOpen);
    setLabelText(QFileDialog::Accept, tr("Open"));
}

bool TVLOpenPanel::isOpenablePath(const QString &path)
{
    const QFileInfo info(path);
    return info.isDir() || info.isFile();
}

void TVLOpenPanel::accept()
{
    const QStringList files = selectedFiles();
    const QString chosen = files.value(0);
    // In directory mode the dialog itself refuses a file; a transcript is accepted here.
    if (QFileInfo(chosen).isFile()) {
        m_chosenPath = QFileInfo(chosen).absoluteFilePath();
        QDialog::accept();
        return;
    }
    if (QFileInfo(chosen).isDir())
        m_chosenPath = QFileInfo(chosen).absoluteFilePath();
    QFileDialog::accept();
    if (result() != QDialog::Accepted)
        m_chosenPath.clear();
}
