#pragma once
// The file a window writes to (a saved log, a recording, a picture), asked through the
// prompt seam so tests can answer it.
#include <QString>
#include <QStringList>

class QWidget;

namespace plv {

// Empty when cancelled. 'filters' as QFileDialog takes them ("CSV (*.csv)"); a name typed
// without a suffix gets the chosen filter's. 'chosenFilter' receives that filter.
// 'appending' drops the overwrite question: the file will be added to, not replaced.
QString chooseFileToWrite(QWidget *parent, const QString &caption, const QString &suggestedPath,
                          const QStringList &filters, QString *chosenFilter = nullptr, bool appending = false);

} // namespace plv
