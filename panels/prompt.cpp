#include "panels/prompt.h"

#include <QApplication>
#include <QDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

namespace plv {
namespace {

QString g_caption;

QString caption(const QString &title)
{
    return !title.isEmpty() ? title : !g_caption.isEmpty() ? g_caption : QApplication::applicationDisplayName();
}

class RealPrompter : public Prompter {
public:
    static QMessageBox *box(QWidget *parent, const QString &text, const QString &title, Icon icon)
    {
        return new QMessageBox(icon == Icon::Information ? QMessageBox::Information
                               : icon == Icon::Warning   ? QMessageBox::Warning
                                                         : QMessageBox::NoIcon,
                               caption(title), text,
                               QMessageBox::Ok, parent);
    }
    void message(QWidget *parent, const QString &text, const QString &title, Icon icon) override
    {
        std::unique_ptr<QMessageBox>(box(parent, text, title, icon))->exec();
    }
    void notify(QWidget *parent, const QString &text, const QString &title, Icon icon) override
    {
        QMessageBox *b = box(parent, text, title, icon);
        b->setAttribute(Qt::WA_DeleteOnClose);
        b->setWindowModality(Qt::NonModal);
        b->show();
    }
    bool input(QWidget *parent, const QString &prompt, const QString &title, QString &text) override
    {
        return ask(parent, prompt, title, text, QLineEdit::Normal);
    }
    bool inputSecret(QWidget *parent, const QString &prompt, const QString &title, QString &text) override
    {
        return ask(parent, prompt, title, text, QLineEdit::Password);
    }
    static bool ask(QWidget *parent, const QString &prompt, const QString &title, QString &text, QLineEdit::EchoMode echo)
    {
        bool ok = false;
        text = QInputDialog::getText(parent, caption(title), prompt, echo, text, &ok);
        if (!ok)
            text.clear();
        return ok;
    }
    bool inputWithChoices(QWidget *parent, const QString &prompt, const QString &title, const QStringList &choices,
                          QString &text) override
    {
        // An editable list: a choice, or anything typed as in a plain input box.
        QStringList items = choices;
        if (!text.isEmpty() && !items.contains(text))
            items.prepend(text);
        bool ok = false;
        text = QInputDialog::getItem(parent, caption(title), prompt,
                                     items, std::max<int>(0, int(items.indexOf(text))), true, &ok);
        if (!ok)
            text.clear();
        return ok;
    }
    int exec(QDialog &dialog) override { return dialog.exec(); }
    int choose(QWidget *parent, const QString &text, const QStringList &choices, int defaultIndex,
               int cancelIndex) override
    {
        QMessageBox box(QMessageBox::Warning, caption({}), text, QMessageBox::NoButton,
                        parent);
        QList<QAbstractButton *> buttons;
        for (int i = 0; i < choices.size(); ++i) {
            QPushButton *b = box.addButton(choices[i], i == cancelIndex ? QMessageBox::RejectRole
                                                                        : QMessageBox::AcceptRole);
            buttons.append(b);
            if (i == defaultIndex)
                box.setDefaultButton(b);
        }
        if (cancelIndex >= 0 && cancelIndex < buttons.size())
            box.setEscapeButton(buttons[cancelIndex]);
        box.exec();
        const qsizetype at = buttons.indexOf(box.clickedButton());
        return at < 0 ? cancelIndex : int(at);
    }
};

RealPrompter g_real;
Prompter *g_current = &g_real;

} // namespace

Prompter &prompter() { return *g_current; }
void setPrompter(Prompter *p) { g_current = p ? p : &g_real; }
void setPromptCaption(const QString &c) { g_caption = c; }

} // namespace plv
