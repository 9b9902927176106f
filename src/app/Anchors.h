#pragma once
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <functional>
#include <vector>

namespace halyard {

// The edges of its parent that a control keeps its distance to.
enum Anchor : unsigned {
    AnchorLeft = 1,
    AnchorTop = 2,
    AnchorRight = 4,
    AnchorBottom = 8,
    AnchorTopLeft = AnchorLeft | AnchorTop,
    AnchorTopRight = AnchorRight | AnchorTop,
    AnchorBottomLeft = AnchorLeft | AnchorBottom,
    AnchorBottomRight = AnchorRight | AnchorBottom,
    AnchorLeftRight = AnchorLeft | AnchorTop | AnchorRight,
    AnchorAll = AnchorLeft | AnchorTop | AnchorRight | AnchorBottom,
};

// Places the children of one parent widget by their rectangles at the design size of
// the parent: as the parent grows or shrinks, a control anchored to both edges of an
// axis stretches, one anchored to the far edge only moves, one anchored to the near
// edge stays. A control anchored to neither edge of an axis keeps its centre at the
// same fraction of the parent.
class Anchors : public QObject {
public:
    Anchors(QWidget* parent, QSize designSize);

    void place(QWidget* child, QRect design, unsigned anchors = AnchorTopLeft);
    // Lays the children out for the parent's present size.
    void apply();
    // Runs after each layout (the window places its logo there).
    std::function<void()> afterLayout;

    static QRect placed(QRect design, unsigned anchors, QSize designSize, QSize size);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Item {
        QPointer<QWidget> widget;
        QRect design;
        unsigned anchors;
    };
    QWidget* parent_;
    QSize designSize_;
    std::vector<Item> items_;
};

} // namespace halyard
