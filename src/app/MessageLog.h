#pragma once
#include <QTextEdit>
#include <string_view>

#include "model/MessageMarkup.h"

namespace halyard {

// The message log: a read-only rich-text view that appends one marked-up line at a
// time, draws each run of it in its look, and scrolls the new line into view. It
// holds at most `capacity` characters; a line that does not fit is refused with
// "RichEdit line insertion error" and the earlier lines stay.
class MessageLog : public QTextEdit {
    Q_OBJECT
public:
    static constexpr int DefaultCapacity = 16 * 1024 * 1024;

    explicit MessageLog(QWidget* parent = nullptr);

    void appendLine(std::string_view markedLine);
    // Removes every line.
    void clearLines();

    int lineCount() const { return lines_; }
    int capacity() const { return capacity_; }
    void setCapacity(int characters) { capacity_ = characters; }

    // The character format of a look; the default look leaves the colour to the palette.
    static QTextCharFormat formatOf(const TextLook& look);

private:
    int lines_ = 0;
    int capacity_ = DefaultCapacity;
};

} // namespace halyard
