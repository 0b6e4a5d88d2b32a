#pragma once
// The file a window writes to (a saved log, a recording, a picture), asked through the
// prompt seam so tests can answer it. Every such dialog opens in the folder where the
// last file was chosen; the first time in the user's documents folder.
#include <QString>
#include <QStringList>

class QWidget;

namespace plv {

// Empty when cancelled. The dialog offers `suggestedName` (only the name of a path
// counts) in lastSaveFolder(). 'filters' as QFileDialog takes them ("CSV (*.csv)"); a
// name typed without a suffix gets the chosen filter's. 'chosenFilter' receives that
// filter. 'appending' drops the overwrite question: the file will be added to, not replaced.
QString chooseFileToWrite(QWidget *parent, const QString &caption, const QString &suggestedName,
                          const QStringList &filters, QString *chosenFilter = nullptr, bool appending = false);

// The folder of the last file chosen, if it still exists; else the documents folder.
QString lastSaveFolder();
// Where the last run left off; empty forgets.
void setLastSaveFolder(const QString &folder);

} // namespace plv
