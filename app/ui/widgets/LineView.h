#pragma once

#include <QWidget>

// A thin horizontal rule across the middle of the view.
class LineView : public QWidget
{
    Q_OBJECT

public:
    explicit LineView(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
