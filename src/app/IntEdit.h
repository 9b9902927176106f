#pragma once
#include <QLineEdit>
#include <cstdint>

namespace halyard {

// A single-line edit for whole numbers. Its key filter lets through the digits, "+",
// "-", Backspace and Enter; any other character key is swallowed with a beep.
// Shortcuts (Ctrl or Alt held) and keys that type nothing (arrows, Delete) pass, so
// text can still be pasted; Value reads 0 for a text that is not a number.
class TIntEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TIntEdit(QWidget* parent = nullptr);

    // The text as a 32-bit decimal integer; 0 when it is not one.
    int64_t Value() const;
    void setValue(int64_t value);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace halyard
