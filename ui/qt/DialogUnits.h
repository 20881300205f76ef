#pragma once

#include <QFont>
#include <QRect>

// Turns dialog-template units into pixels the way the Windows dialog manager
// does, so the window keeps the proportions it was designed with: the
// horizontal base is the average width of the 52 letters of the dialog font
// (rounded half up), the vertical base the font's height; an x or width
// value is dlu * baseX / 4 and a y or height value dlu * baseY / 8, each
// rounded like MulDiv.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}

    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }

    int X(int dlu) const { return MulDiv(dlu, m_baseX, 4); }
    int Y(int dlu) const { return MulDiv(dlu, m_baseY, 8); }
    // Each of left, top, width and height converted on its own, as the
    // dialog manager converts a control's template entry.
    QRect Rect(int left, int top, int width, int height) const
    {
        return QRect(X(left), Y(top), X(width), Y(height));
    }

    // a * b / c rounded to the nearest integer, halves away from zero.
    static int MulDiv(int a, int b, int c);

private:
    int m_baseX;
    int m_baseY;
};
