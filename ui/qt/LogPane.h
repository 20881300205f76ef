#pragma once

#include <QFrame>
#include <QString>

// The log pane: plain text drawn from the top-left corner, "\n" starting a
// line and "\t" advancing to the next tab stop (every eight average character
// widths). Nothing wraps and there is no scroll bar: a line wider than the
// pane is cut off at its right edge, lines below its bottom edge are not
// shown.
class LogPane : public QFrame {
    Q_OBJECT
public:
    explicit LogPane(QWidget* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return m_text; }

    // Where the tab stops fall, in pixels from the text's left edge.
    int TabWidth() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
};
