#pragma once

#include <QWidget>

/// The recording indicator: a circle filled in FillColor when FillStyle is solid (0), left
/// unfilled when it is transparent (1).
class RecordIndicator : public QWidget
{
    Q_OBJECT

public:
    enum FillStyleValue { Solid = 0, Transparent = 1 };

    explicit RecordIndicator(QWidget *parent = nullptr);

    long FillColor() const { return m_fillColor; }
    void setFillColor(long rgb);
    int FillStyle() const { return m_fillStyle; }
    void setFillStyle(int style);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    long m_fillColor = 0;
    int m_fillStyle = Transparent;
};
