// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QProgressBar>
#include <QString>

// The transfer progress bar. It keeps its own range and position (the
// QProgressBar value is never used) and paints the whole client area itself:
// the done part from the left edge in the bar colour, the rest in the
// background colour, and a caption centred over both, drawn in the
// text-on-bar colour over the done part and in the text colour over the rest.
// The caption is "发送进度：37%" and its siblings, chosen by the language and
// the transfer mode, unless a window text replaces it.
//
// The range is not checked and the position is never clamped: a position past
// the upper bound shows a full bar and a percentage above 100. An empty range
// (lower >= upper) paints nothing in the client area. Qt cannot hand back the
// old picture, so the widget is marked WA_OpaquePaintEvent and draws nothing:
// where the platform keeps the backing store, the previous picture stays.
//
// A 1-pixel frame is drawn round the client area (contentsRect()).
//
// Assistive technology reads the caption and the position
// (CPercentBarAccessible).
class CPercentBar : public QProgressBar
{
    Q_OBJECT

public:
    explicit CPercentBar(QWidget* parent = nullptr);

    // Stores both bounds; no check and no repaint.
    void SetRange(qint32 lower, qint32 upper);
    void GetRange(qint32& lower, qint32& upper) const;

    // Moves the bar and returns the previous position. The bar is repainted
    // before returning, but only when the filled width in pixels changes.
    // Every Qt widget has its window, so this never fails (never returns -1):
    // a position set before the bar is shown is kept and shown with it.
    qint32 SetPos(qint32 pos);
    qint32 GetPos() const { return m_pos; }
    // SetPos(position + delta) and SetPos(position + step); the sum saturates
    // at the 32-bit limits instead of wrapping.
    qint32 OffsetPos(qint32 delta);
    qint32 StepIt();
    // Stores the step used by StepIt and returns the previous one.
    qint32 SetStep(qint32 step);
    qint32 GetStep() const { return m_step; }

    // Whether any caption is drawn; repaints when the flag changes.
    void SetShowText(bool show);
    bool GetShowText() const { return m_showText; }

    // 0 Chinese, any other value English; no repaint.
    void SetLanguage(int language);
    int GetLanguage() const { return m_language; }
    // 1 receive, any other value send; no repaint.
    void SetMode(int mode);
    int GetMode() const { return m_mode; }

    // The window text: a non-empty one is drawn instead of the percentage
    // caption, an empty one brings the percentage back. Setting the text it
    // already has changes nothing and repaints nothing.
    void SetWindowText(const QString& text);
    QString GetWindowText() const { return m_captionText; }

    // The caption the next paint draws (empty range: the percentage reads 0).
    QString GetCaption() const;
    QString text() const override { return GetCaption(); }

    // The colours start as the palette's Highlight and Base; no repaint.
    void SetBarColour(const QColor& colour) { m_barColour = colour; }
    QColor GetBarColour() const { return m_barColour; }
    void SetBgColour(const QColor& colour) { m_bgColour = colour; }
    QColor GetBgColour() const { return m_bgColour; }
    void SetTextColour(const QColor& colour) { m_textColour = colour; }
    QColor GetTextColour() const { return m_textColour; }
    void SetTextOnBarColour(const QColor& colour) { m_textOnBarColour = colour; }
    QColor GetTextOnBarColour() const { return m_textOnBarColour; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // (position - lower) / (upper - lower); 0 for an empty range.
    double Fraction() const;
    int FilledWidth(int clientWidth) const;

    int m_language = 0;
    int m_mode = 0;
    qint32 m_pos = 0;
    qint32 m_step = 1;
    qint32 m_upper = 100;
    qint32 m_lower = 0;
    QString m_captionText;
    bool m_showText = true;
    // Filled width at the last repaint caused by SetPos; -1 when not known.
    int m_lastFilledWidth = -1;
    QColor m_barColour;
    QColor m_bgColour;
    QColor m_textColour;
    QColor m_textOnBarColour;
};
