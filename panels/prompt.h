#pragma once
// Every message box, input box and modal dialog goes through this one seam, so tests
// can answer them without a person. Production shows real QMessageBox/QInputDialog.
#include <QString>
#include <QStringList>
#include <functional>

class QDialog;
class QWidget;

namespace plv {

class Prompter {
public:
    enum class Icon { None, Information, Warning };
    virtual ~Prompter() = default;
    virtual void message(QWidget *parent, const QString &text, const QString &title, Icon icon) = 0;
    // A message that must not hold the console up (a link failure while the update
    // cycle and the emergency HV OFF go on): shown without a nested event loop.
    virtual void notify(QWidget *parent, const QString &text, const QString &title, Icon icon)
    {
        message(parent, text, title, icon);
    }
    // Returns false when the operator cancelled; 'text' then holds nothing.
    virtual bool input(QWidget *parent, const QString &prompt, const QString &title, QString &text) = 0;
    // Runs a modal dialog; returns its result code.
    virtual int exec(QDialog &dialog) = 0;
    // A question with one button per choice; returns the index chosen. Enter takes
    // 'defaultIndex', Escape and the close box 'cancelIndex'.
    virtual int choose(QWidget *parent, const QString &text, const QStringList &choices, int defaultIndex,
                       int cancelIndex) = 0;
};

// The prompter in use (the real one unless a test installed its own).
Prompter &prompter();
void setPrompter(Prompter *p);   // nullptr restores the real one

} // namespace plv
