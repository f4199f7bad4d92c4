#pragma once
// A bar between two areas of a window that the user drags to share the height between them.

#include <QWidget>

#include <functional>

namespace ix {

class TixSplitHandle : public QWidget
{
public:
    explicit TixSplitHandle(QWidget* AParent);

    /// Fired while the bar is dragged, with the vertical distance from where the drag began.
    std::function<void(int ADistance)> OnDrag;
    /// Fired when a drag begins.
    std::function<void()> OnDragStart;

protected:
    void mousePressEvent(QMouseEvent* AEvent) override;
    void mouseMoveEvent(QMouseEvent* AEvent) override;
    void mouseReleaseEvent(QMouseEvent* AEvent) override;
    void paintEvent(QPaintEvent* AEvent) override;

private:
    bool FDragging = false;
    int FStart = 0;
};

} // namespace ix
