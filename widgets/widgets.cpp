#include "widgets/widgets.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QTimerEvent>
#include <algorithm>
#include <cmath>

namespace plv {

LampButton::LampButton(Style style, QWidget *parent) : QWidget(parent), m_style(style)
{
    setFocusPolicy(style == Style::Lamp ? Qt::NoFocus : Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void LampButton::setValue(bool on)
{
    if (on == m_value)
        return;
    m_value = on;
    // A lamp lit and put out again within one exchange (the busy lamp, for a few tenths of
    // a millisecond) is never seen, and painting it inside the reply wait holds up the
    // reply. The screen follows a frame (16 ms) later, if the value still differs then.
    if (m_value == m_shown)
        m_repaint.stop();
    else if (!m_repaint.isActive())
        m_repaint.start(16, Qt::PreciseTimer, this);
    emit valueChanged(on);
}

void LampButton::timerEvent(QTimerEvent *e)
{
    if (e->timerId() != m_repaint.timerId()) {
        QWidget::timerEvent(e);
        return;
    }
    m_repaint.stop();
    if (m_value != m_shown)
        update();
}

void LampButton::setColors(const QColor &off, const QColor &on)
{
    m_offColor = off;
    m_onColor = on;
    update();
}

void LampButton::setTexts(const QString &off, const QString &on)
{
    m_offText = off;
    m_onText = on;
    updateGeometry();
    update();
}

void LampButton::setSwitchLabels(const QString &up, const QString &down)
{
    m_upLabel = up;
    m_downLabel = down;
    updateGeometry();
}

QSize LampButton::sizeHint() const
{
    switch (m_style) {
    case Style::Lamp: return {20, 20};
    case Style::Switch: return {90, 64};
    case Style::Button: {
        const QFontMetrics fm(font());
        const int w = std::max(fm.horizontalAdvance(m_offText), fm.horizontalAdvance(m_onText));
        return {std::max(90, w + 44), 34};
    }
    }
    return {20, 20};
}

void LampButton::setStale(bool stale)
{
    if (stale == m_stale)
        return;
    m_stale = stale;
    update();
    emit staleChanged(stale);
}

void LampButton::paintEvent(QPaintEvent *)
{
    m_shown = m_value;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor fill = currentColor();
    if (m_style == Style::Lamp) {
        p.setPen(QPen(Qt::darkGray, 1));
        // A stale lamp is neither lit nor unlit: grey, hatched.
        p.setBrush(m_stale ? QColor(200, 200, 200) : fill);
        p.drawEllipse(rect().adjusted(2, 2, -2, -2));
        if (m_stale) {
            p.setPen(Qt::NoPen);
            p.setBrush(QBrush(QColor(80, 80, 80), Qt::BDiagPattern));
            p.drawEllipse(rect().adjusted(2, 2, -2, -2));
        }
        return;
    }
    if (m_style == Style::Button) {
        p.setPen(QPen(hasFocus() ? palette().highlight().color() : Qt::darkGray, hasFocus() ? 2 : 1));
        p.setBrush(palette().button());
        p.drawRoundedRect(rect().adjusted(1, 1, -1, -1), 4, 4);
        const int d = height() - 14;
        p.setPen(QPen(Qt::darkGray, 1));
        p.setBrush(fill);
        p.drawEllipse(QRect(7, 7, d, d));
        p.setPen(isEnabled() ? palette().buttonText().color() : palette().mid().color());
        p.drawText(rect().adjusted(d + 12, 0, -4, 0), Qt::AlignVCenter | Qt::AlignLeft, text());
        return;
    }
    // Switch: a vertical toggle, on is up.
    const QFontMetrics fm(font());
    const QRect track(8, 4, 22, height() - 8);
    p.setPen(QPen(hasFocus() ? palette().highlight().color() : Qt::darkGray, hasFocus() ? 2 : 1));
    p.setBrush(QColor(200, 200, 200));
    p.drawRoundedRect(track, 6, 6);
    const int knobH = track.height() / 2 - 2;
    const QRect knob(track.left() + 2, m_value ? track.top() + 2 : track.bottom() - knobH - 1,
                     track.width() - 4, knobH);
    p.setBrush(m_value ? QColor(255, 192, 128) : QColor(120, 120, 120));
    p.drawRoundedRect(knob, 4, 4);
    p.setPen(palette().windowText().color());
    p.drawText(QPoint(track.right() + 6, track.top() + fm.ascent()), m_upLabel);
    p.drawText(QPoint(track.right() + 6, track.bottom() - fm.descent()), m_downLabel);
}

bool switchClickOperates(bool on, int y, int height)
{
    const bool upper = 2 * y < height;
    return upper != on;
}

void LampButton::mouseReleaseEvent(QMouseEvent *e)
{
    const QPoint at = e->position().toPoint();
    if (m_style == Style::Lamp || !isEnabled() || !rect().contains(at))
        return;
    if (m_style == Style::Switch && !switchClickOperates(m_value, at.y(), height()))
        return;
    emit operated();
}

void LampButton::keyPressEvent(QKeyEvent *e)
{
    if (m_style != Style::Lamp && isEnabled()
        && (e->key() == Qt::Key_Space || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) {
        emit operated();
        return;
    }
    QWidget::keyPressEvent(e);
}

// ---------------------------------------------------------------------------

NumEdit::NumEdit(QWidget *parent) : QAbstractSpinBox(parent)
{
    setKeyboardTracking(false);
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    connect(this, &QAbstractSpinBox::editingFinished, this, &NumEdit::commitText);
    showValue();
}

void NumEdit::setValue(double v)
{
    m_value = v;
    showValue();
    emit valueChanged(v);
}

void NumEdit::setValueQuietly(double v)
{
    m_value = v;
    showValue();
}

void NumEdit::showValue()
{
    // Enough significant digits to show one count of the finest channel (0.0006105 A).
    lineEdit()->setText(QString::number(m_value, 'g', 10));
}

// A step lands within the limits, or between them and a value the program set beyond
// them: Up from above the maximum (Down from below the minimum) is not taken at all.
bool NumEdit::stepFits(int steps) const
{
    const double next = m_value + steps * m_step;
    return next >= std::min(m_min, m_value) && next <= std::max(m_max, m_value);
}

void NumEdit::stepBy(int steps)
{
    // Whole steps only: clamping to a limit would move a value set beyond it (a 140 kV
    // count on the 70000 V box) by thousands of volts at one press.
    while (steps != 0 && !stepFits(steps))
        steps -= steps > 0 ? 1 : -1;
    if (steps != 0)
        setValue(m_value + steps * m_step);
}

QAbstractSpinBox::StepEnabled NumEdit::stepEnabled() const
{
    StepEnabled e = StepNone;
    if (stepFits(1)) e |= StepUpEnabled;
    if (stepFits(-1)) e |= StepDownEnabled;
    return e;
}

QValidator::State NumEdit::validate(QString &input, int &) const
{
    static const QRegularExpression partial(QStringLiteral("^\\s*[+-]?\\d*\\.?\\d*\\s*$"));
    if (!partial.match(input).hasMatch())
        return QValidator::Invalid;
    bool ok = false;
    input.trimmed().toDouble(&ok);
    return ok ? QValidator::Acceptable : QValidator::Intermediate;
}

void NumEdit::fixup(QString &input) const
{
    input = QString::number(m_value, 'g', 10);
}

void NumEdit::commitText()
{
    bool ok = false;
    const double v = lineEdit()->text().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v)) {
        showValue();
        return;
    }
    const auto shown = [this](double limit) {
        return m_limitDecimals < 0 ? QString::number(limit, 'g', 10) : QString::number(limit, 'f', m_limitDecimals);
    };
    double taken = v;
    if (m_limitDecimals >= 0 && (v < m_min || v > m_max)) {
        // The limit as the operator reads it stands for the limit itself.
        const double typed = QLocale::c().toDouble(QString::number(v, 'f', m_limitDecimals));
        for (const double limit : {m_min, m_max})
            if (typed == QLocale::c().toDouble(shown(limit)))
                taken = limit;
    }
    if (taken == m_value) {
        showValue();
        return;
    }
    if (taken < m_min || taken > m_max) {
        showValue();
        emit refused(tr("Enter a value from %1 to %2.").arg(shown(m_min), shown(m_max)));
        return;
    }
    setValue(taken);
}

} // namespace plv

#include <QAction>
#include <QIcon>
#include <QLabel>
#include <QPixmap>

namespace plv {

namespace {

// A grey clock: the value is as old as its tooltip says.
QIcon staleIcon()
{
    static const QIcon icon = [] {
        QPixmap pm(16, 16);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(70, 70, 70), 1.5));
        p.setBrush(QColor(225, 225, 225));
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        p.drawLine(QPointF(8, 8), QPointF(8, 4));
        p.drawLine(QPointF(8, 8), QPointF(11, 9.5));
        return QIcon(pm);
    }();
    return icon;
}

// "Unknown" and "Invalid" hold no value to go stale: their red or yellow stays whole.
bool holdsAValue(const QLineEdit *box)
{
    return box->text() != QLatin1String("Unknown") && box->text() != QLatin1String("Invalid");
}

void showStaleMark(QLineEdit *box)
{
    const bool marked = box->property("staleAsked").toBool() && holdsAValue(box);
    box->setProperty("stale", marked);
    auto *mark = box->findChild<QAction *>(QStringLiteral("staleMark"));
    if (!mark && !marked)
        return;
    if (!mark) {
        mark = box->addAction(staleIcon(), QLineEdit::TrailingPosition);
        mark->setObjectName(QStringLiteral("staleMark"));
    }
    if (mark->isVisible() != marked)
        mark->setVisible(marked);
}

} // namespace

void setBoxColor(QLineEdit *box, const QColor &c)
{
    QPalette p = box->palette();
    p.setBrush(QPalette::Base, QBrush(c));
    p.setColor(QPalette::Text, Qt::black);
    box->setPalette(p);
    showStaleMark(box);
}

void setStale(QWidget *control, bool stale, const QString &lastRead)
{
    if (auto *lamp = qobject_cast<LampButton *>(control)) {
        lamp->setStale(stale);
    } else if (auto *box = qobject_cast<QLineEdit *>(control)) {
        box->setProperty("staleAsked", stale);
        if (!box->property("staleWatched").toBool()) {   // "Unknown" may come after the mark
            box->setProperty("staleWatched", true);
            QObject::connect(box, &QLineEdit::textChanged, box, [box] { showStaleMark(box); });
        }
        showStaleMark(box);
    }
    QVariant own = control->property("ownToolTip");
    if (!own.isValid()) {
        own = control->toolTip();
        control->setProperty("ownToolTip", own);
    }
    const QString base = own.toString();
    control->setToolTip(lastRead.isEmpty() ? base : base.isEmpty() ? lastRead : base + QLatin1Char('\n') + lastRead);
}

QColor boxColor(const QLineEdit *box) { return box->palette().color(QPalette::Base); }

void setTextColor(QLabel *label, const QColor &c)
{
    // A palette set, even an equal one, goes down to the label's children and repaints it:
    // unsolicited status frames come hundreds a second.
    if (label->palette().color(QPalette::WindowText) == c)
        return;
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, c);
    label->setPalette(p);
}

QColor textColor(const QLabel *label) { return label->palette().color(QPalette::WindowText); }

QLineEdit *makeValueBox(const QString &name, const QString &text, QWidget *parent)
{
    auto *box = new QLineEdit(text, parent);
    box->setObjectName(name);
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::ClickFocus);
    setBoxColor(box, Qt::white);
    return box;
}

} // namespace plv
