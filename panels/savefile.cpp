#include "panels/savefile.h"

#include "panels/prompt.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>

namespace plv {

QString chooseFileToWrite(QWidget *parent, const QString &caption, const QString &suggestedPath,
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
    dialog.setDirectory(QFileInfo(suggestedPath).absolutePath());
    dialog.selectFile(QFileInfo(suggestedPath).fileName());
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
    return path;
}

} // namespace plv
