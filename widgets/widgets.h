#pragma once
// Small controls of our own: the two-state lamp / switch / lamp button and the
// numeric edit box. The program sets their state; an operator's click only raises
// operated(), so a program change can never start an action.
#include <QAbstractSpinBox>
#include <QBasicTimer>
#include <QRegularExpression>
#include <QColor>
#include <QWidget>

namespace plv {

// A switch's halves split at half its height, on (up) above. A click on the half that
// shows the present position leaves it be; only the other half operates it.
bool switchClickOperates(bool on, int y, int height);

class LampButton : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool value READ value WRITE setValue NOTIFY valueChanged)
    Q_PROPERTY(QString text READ text)
    // A value read from the unit that is no longer current: drawn hatched, still shown.
    Q_PROPERTY(bool stale READ isStale WRITE setStale NOTIFY staleChanged)
public:
    enum class Style { Lamp, Switch, Button };
    explicit LampButton(Style style, QWidget *parent = nullptr);

    Style style() const { return m_style; }
    bool value() const { return m_value; }
    void setValue(bool on);
    void setColors(const QColor &off, const QColor &on);
    void setTexts(const QString &off, const QString &on);   // lamp button captions
    void setSwitchLabels(const QString &up, const QString &down);
    QString text() const { return m_value ? m_onText : m_offText; }
    bool isStale() const { return m_stale; }
    void setStale(bool stale);
    QColor currentColor() const { return m_value ? m_onColor : m_offColor; }
    QSize sizeHint() const override;

signals:
    void valueChanged(bool on);
    void staleChanged(bool stale);
    // The operator clicked (a switch: its other half) or pressed Space/Enter; the state
    // is unchanged.
    void operated();

protected:
    void paintEvent(QPaintEvent *) override;
    void mouseReleaseEvent(QMouseEvent *) override;
    void keyPressEvent(QKeyEvent *) override;
    void timerEvent(QTimerEvent *) override;

private:
    Style m_style;
    bool m_value = false;
    bool m_stale = false;
    bool m_shown = false;     // the value last painted
    QBasicTimer m_repaint;    // a changed value is painted one frame later
    QColor m_offColor{Qt::black}, m_onColor{255, 192, 128};
    QString m_offText, m_onText, m_upLabel, m_downLabel;
};

// Numeric edit box with limits and increment. Operator entries outside the limits are
// refused (the box keeps its value and says why); values set by the program are shown
// as they are, so the box never displays a value other than the one the console holds.
class NumEdit : public QAbstractSpinBox {
    Q_OBJECT
    Q_PROPERTY(double value READ value WRITE setValue NOTIFY valueChanged)
    Q_PROPERTY(double minimum READ minimum WRITE setMinimum)
    Q_PROPERTY(double maximum READ maximum WRITE setMaximum)
    Q_PROPERTY(double singleStep READ singleStep WRITE setSingleStep)
public:
    explicit NumEdit(QWidget *parent = nullptr);

    double value() const { return m_value; }
    double minimum() const { return m_min; }
    double maximum() const { return m_max; }
    double singleStep() const { return m_step; }
    void setMinimum(double v) { m_min = v; }
    void setMaximum(double v) { m_max = v; }
    void setSingleStep(double v) { m_step = v; }
    // Decimals the limits are shown with in a refusal (-1: all digits). An entry that
    // equals a limit as shown is taken as that limit: 5.000 for a maximum of 4.999995.
    void setLimitDecimals(int decimals) { m_limitDecimals = decimals; }

    // Always notifies, also when the value is unchanged: channel selection and CANCEL
    // rely on the notification to line the other box and the pending count up.
    void setValue(double v);
    // Sets without notifying: how one box's rule updates the other, so the exchange rests.
    void setValueQuietly(double v);

    void stepBy(int steps) override;
    QValidator::State validate(QString &input, int &pos) const override;
    void fixup(QString &input) const override;

signals:
    void valueChanged(double v);
    void refused(const QString &message);   // an operator entry outside the limits

protected:
    StepEnabled stepEnabled() const override;

private:
    bool stepFits(int steps) const;
    void commitText();
    void showValue();
    double m_value = 0, m_min = 0, m_max = 99, m_step = 1;
    int m_limitDecimals = -1;
};

} // namespace plv

class QLabel;
class QLineEdit;

namespace plv {
// Value boxes: white for a good value, yellow for a refused one, red for no answer.
void setBoxColor(QLineEdit *box, const QColor &c);
QColor boxColor(const QLineEdit *box);
void setTextColor(QLabel *label, const QColor &c);
QColor textColor(const QLabel *label);
QLineEdit *makeValueBox(const QString &name, const QString &text, QWidget *parent);
// Marks a lamp or value box as stale (property "stale") or current again, and puts
// 'lastRead' on a new line under the control's own tooltip. A stale box keeps its colour
// and full-contrast text and shows a grey clock; one reading "Unknown" or "Invalid"
// holds no value and is not marked. A stale lamp is grey and hatched, neither lit nor
// unlit.
void setStale(QWidget *control, bool stale, const QString &lastRead);
} // namespace plv
