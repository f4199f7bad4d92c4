#include "app/ixSplitHandle.h"

#include <QMouseEvent>
#include <QPainter>

namespace ix {

TixSplitHandle::TixSplitHandle(QWidget* AParent) : QWidget(AParent)
{
    setCursor(Qt::SplitVCursor);
    setFocusPolicy(Qt::NoFocus);
}

void TixSplitHandle::mousePressEvent(QMouseEvent* AEvent)
{
    if (AEvent->button() != Qt::LeftButton)
        return;
    FDragging = true;
    FStart = qRound(AEvent->globalPosition().y());
    if (OnDragStart)
        OnDragStart();
}

void TixSplitHandle::mouseMoveEvent(QMouseEvent* AEvent)
{
    if (FDragging && OnDrag)
        OnDrag(qRound(AEvent->globalPosition().y()) - FStart);
}

void TixSplitHandle::mouseReleaseEvent(QMouseEvent* AEvent)
{
    if (AEvent->button() == Qt::LeftButton)
        FDragging = false;
}

void TixSplitHandle::paintEvent(QPaintEvent*)
{
    // A short grip of three dots in the middle, as splitters draw theirs.
    QPainter painter(this);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Dark));
    const QPoint centre = rect().center();
    for (int dot = -1; dot <= 1; ++dot)
        painter.drawEllipse(QPoint(centre.x() + dot * 6, centre.y()), 1, 1);
}

} // namespace ix
