#include "panels/savefile.h"

#include "panels/prompt.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

namespace plv {

namespace {
QString g_lastFolder;
} // namespace

QString lastSaveFolder()
{
    if (!g_lastFolder.isEmpty() && QFileInfo(g_lastFolder).isDir())
        return g_lastFolder;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return documents.isEmpty() ? QDir::homePath() : documents;
}

void setLastSaveFolder(const QString &folder) { g_lastFolder = folder; }

QString chooseFileToWrite(QWidget *parent, const QString &caption, const QString &suggestedName,
                          const QStringList &filters, QString *chosenFilter, bool appending)
{
    QFileDialog dialog(parent, caption);
    dialog.setObjectName(QStringLiteral("dlg_SAVEFILE"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Qt's own dialog: a platform one would keep the emergency key from the console.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters(filters);
    if (appending)
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setDirectory(lastSaveFolder());
    dialog.selectFile(QFileInfo(suggestedName).fileName());
    if (prompter().exec(dialog) != QDialog::Accepted)
        return {};
    QString path = dialog.selectedFiles().value(0);
    const QString filter = dialog.selectedNameFilter();
    if (chosenFilter)
        *chosenFilter = filter;
    static const QRegularExpression suffix(QStringLiteral("\\*\\.(\\w+)"));
    const auto m = suffix.match(filter);
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty() && m.hasMatch())
        path += QLatin1Char('.') + m.captured(1);
    if (!path.isEmpty())
        g_lastFolder = QFileInfo(path).absolutePath();
    return path;
}

} // namespace plv
