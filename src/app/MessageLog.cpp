#include "app/MessageLog.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "app/Fonts.h"
#include "model/Error.h"

namespace halyard {

namespace {
constexpr int LogPointSize = 8;
} // namespace

MessageLog::MessageLog(QWidget* parent) : QTextEdit(parent) {
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setAcceptRichText(false);
    const QFont font = TahomaFont(LogPointSize);
    setFont(font);
    document()->setDefaultFont(font);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

QTextCharFormat MessageLog::formatOf(const TextLook& look) {
    QTextCharFormat format;
    format.setFontWeight(look.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(look.italic);
    format.setFontUnderline(look.underline);
    format.setFontPointSize(look.pointSize);
    if (look.hasColour)
        format.setForeground(QColor(int(look.colour & 0xFF), int((look.colour >> 8) & 0xFF),
                                    int((look.colour >> 16) & 0xFF)));
    return format;
}

void MessageLog::appendLine(std::string_view markedLine) {
    const MarkedLine line = ParseMarkup(markedLine);
    QTextDocument* doc = document();
    // Each line after the first starts a block of its own.
    const qsizetype length = QString::fromStdString(line.text).size() + (lines_ > 0 ? 1 : 0);
    if (doc->characterCount() + length > capacity_)
        throw Error("RichEdit line insertion error");

    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    if (lines_ > 0)
        cursor.insertBlock(QTextBlockFormat(), formatOf(TextLook{}));
    for (const MarkupSpan& span : line.spans)
        cursor.insertText(QString::fromStdString(line.text.substr(span.start, span.length)), formatOf(span.look));
    cursor.endEditBlock();
    ++lines_;

    setTextCursor(cursor);
    ensureCursorVisible();
}

void MessageLog::clearLines() {
    clear();
    lines_ = 0;
}

} // namespace halyard
