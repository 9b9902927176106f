#include "app/IntEdit.h"

#include <QApplication>
#include <QKeyEvent>

namespace halyard {

TIntEdit::TIntEdit(QWidget* parent) : QLineEdit("0", parent) {
    resize(33, height());
}

int64_t TIntEdit::Value() const {
    bool ok = false;
    const int value = text().toInt(&ok, 10);
    return ok ? value : 0;
}

void TIntEdit::setValue(int64_t value) {
    setText(QString::number(value));
}

void TIntEdit::keyPressEvent(QKeyEvent* event) {
    const QString typed = event->text();
    const bool shortcut = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const bool character = typed.size() == 1 && typed[0].isPrint();
    if (character && !shortcut) {
        const QChar c = typed[0];
        if (!(c.isDigit() && c.unicode() < 128) && c != '+' && c != '-') {
            QApplication::beep();
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

} // namespace halyard
