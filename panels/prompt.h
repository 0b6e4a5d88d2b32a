#pragma once
// Every message box, input box and modal dialog goes through this one seam, so tests
// can answer them without a person. Production shows real QMessageBox/QInputDialog.
#include <QtGlobal>
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
    // The same for a password or key: masked while typed.
    virtual bool inputSecret(QWidget *parent, const QString &prompt, const QString &title, QString &text)
    {
        return input(parent, prompt, title, text);
    }
    // An input box whose entry may also be picked from `choices`; 'text' starts as the
    // entry shown. Unless a prompter offers the list, the same as input().
    virtual bool inputWithChoices(QWidget *parent, const QString &prompt, const QString &title,
                                  const QStringList &choices, QString &text)
    {
        Q_UNUSED(choices);
        return input(parent, prompt, title, text);
    }
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
// The title of a box that names none (the console's caption); the application's display
// name until set.
void setPromptCaption(const QString &caption);

} // namespace plv
