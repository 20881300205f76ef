#include "ui/qt/LogPane.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStringList>

LogPane::LogPane(QWidget* parent) : QFrame(parent)
{
    // A sunken edge inside a second border, as the pane has always looked.
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setFocusPolicy(Qt::NoFocus);
}

void LogPane::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    update();
}

int LogPane::TabWidth() const
{
    return 8 * fontMetrics().averageCharWidth();
}

void LogPane::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);

    const QRect area = contentsRect();
    QPainter painter(this);
    painter.setClipRect(area);
    painter.setPen(palette().color(QPalette::WindowText));

    const QFontMetrics metrics = fontMetrics();
    const int tab = qMax(1, TabWidth());
    int baseline = area.top() + metrics.ascent();
    const QStringList lines = m_text.split(QLatin1Char('\n'));
    for (const QString& rawLine : lines) {
        if (baseline - metrics.ascent() > area.bottom())
            break;
        QString line = rawLine;
        line.remove(QLatin1Char('\r'));
        int x = 0;
        const QStringList pieces = line.split(QLatin1Char('\t'));
        for (qsizetype i = 0; i < pieces.size(); ++i) {
            if (i > 0)
                x = (x / tab + 1) * tab;
            if (x > area.width())
                break;
            if (!pieces[i].isEmpty()) {
                painter.drawText(QPoint(area.left() + x, baseline), pieces[i]);
                x += metrics.horizontalAdvance(pieces[i]);
            }
        }
        baseline += metrics.height();
    }
}
