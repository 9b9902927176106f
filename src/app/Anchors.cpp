#include "app/Anchors.h"

#include <QEvent>

namespace halyard {

namespace {
// One axis: the control's start and length for a parent that grew by delta.
void placeAxis(int& start, int& length, int delta, bool nearEdge, bool farEdge) {
    if (nearEdge && farEdge)
        length = std::max(0, length + delta);
    else if (farEdge)
        start += delta;
    else if (!nearEdge)
        start += delta / 2;
}
} // namespace

Anchors::Anchors(QWidget* parent, QSize designSize) : QObject(parent), parent_(parent), designSize_(designSize) {
    parent->installEventFilter(this);
}

void Anchors::place(QWidget* child, QRect design, unsigned anchors) {
    items_.push_back({child, design, anchors});
    child->setGeometry(placed(design, anchors, designSize_, parent_->size()));
}

QRect Anchors::placed(QRect design, unsigned anchors, QSize designSize, QSize size) {
    int x = design.x(), width = design.width(), y = design.y(), height = design.height();
    placeAxis(x, width, size.width() - designSize.width(), anchors & AnchorLeft, anchors & AnchorRight);
    placeAxis(y, height, size.height() - designSize.height(), anchors & AnchorTop, anchors & AnchorBottom);
    return {x, y, width, height};
}

void Anchors::apply() {
    const QSize size = parent_->size();
    for (const Item& item : items_)
        if (item.widget)
            item.widget->setGeometry(placed(item.design, item.anchors, designSize_, size));
    if (afterLayout)
        afterLayout();
}

bool Anchors::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parent_ && event->type() == QEvent::Resize)
        apply();
    return QObject::eventFilter(watched, event);
}

} // namespace halyard
