#pragma once

#include <QFrame>
#include <QImage>
#include <QLine>

#include <vector>

/// The chart's drawing area: a sunken frame around a surface with a user scale, a pen colour,
/// a current drawing position and the three drawing operations the chart uses.
///
/// What is drawn is kept in an image of the surface's own, so it survives the window being
/// covered, minimised or moved. Points and lines are noted as they come and painted into the
/// image together, just before it is shown or read; drawing notes what it changed, and
/// showDrawn asks for its repaint, so that a flood of readings costs one repaint per display
/// frame, not one per reading.
class ChartSurface : public QFrame
{
    Q_OBJECT

public:
    static constexpr int BorderWidth = 2;

    explicit ChartSurface(QWidget *parent = nullptr);

    int ScaleMode() const { return m_scaleMode; }
    void setScaleMode(int mode);
    float ScaleWidth() const { return m_scaleWidth; }
    void setScaleWidth(float width);
    float ScaleHeight() const { return m_scaleHeight; }
    void setScaleHeight(float height);
    long ForeColor() const { return m_foreColor; }
    /// Lines and points after a new pen colour are drawn in it; those before keep theirs.
    void setForeColor(long rgb);
    float CurrentX() const { return m_currentX; }
    float CurrentY() const { return m_currentY; }
    /// True from creation and each Cls until the next PSet or Line: no trace to continue.
    bool isCleared() const { return m_cleared; }

    /// Fills the drawing area with the background and moves the position to (0, 0).
    void Cls();
    /// Sets one point in the pen colour and moves the position there.
    void PSet(float x, float y);
    /// Draws from the current position to (x, y), clipped at the edges, and moves there.
    void Line(float x, float y);

    /// Asks for a repaint of what was drawn or cleared since the last repaint.
    void showDrawn();

    /// The drawing area with everything drawn so far, at the screen's device pixel ratio.
    const QImage &image();

    /// Lines and points noted at most before they are painted into the image, whether or not
    /// the surface is shown: what a hidden or minimised window holds in a flood of readings.
    static constexpr std::size_t MaxNoted = 1024;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void movedTo(float x, float y);
    // \a area: the drawing area's size, worked out once a reading and passed on, since the
    // widget works its margins out anew at each call.
    void markDrawn(QPoint from, QPoint to, QSize area);
    void paintNoted();
    QPoint pixelOf(float x, float y, QSize area) const;
    void matchImageToArea();
    QColor backgroundColor() const;
    void makeImage();

    QImage m_image;
    int m_scaleMode = 1;
    float m_scaleWidth = 1;
    float m_scaleHeight = 1;
    long m_foreColor = 0;
    float m_currentX = 0;
    float m_currentY = 0;
    bool m_cleared = true;
    /// Drawn since the image was last brought up to date, in pixels of the drawing area, on
    /// the background when m_clearNoted says that the image was cleared first.
    std::vector<QLine> m_lines;
    std::vector<QPoint> m_points;
    bool m_clearNoted = false;
    /// Drawn since the last repaint, in pixels of the drawing area.
    QRect m_drawn;
};
