#include "gbk_edit.h"

#include <QLineEdit>
#include <QToolTip>

#include "session/gbk.h"

namespace kolvena::ui {

QString ToScreen(std::string_view gbk) {
    return QString::fromStdString(FromGbk(gbk));
}

std::string FromScreen(const QString& text) {
    return ToGbk(text.toStdString());
}

QString PaneText(std::string_view gbk) {
    QString text = ToScreen(gbk);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

void LimitGbkLength(QLineEdit* edit, std::size_t maxBytes) {
    QObject::connect(edit, &QLineEdit::textChanged, edit, [edit, maxBytes](const QString& text) {
        const std::string gbk = FromScreen(text);
        if (gbk.size() <= maxBytes)
            return;
        const int cursor = edit->cursorPosition();
        const QString cut = ToScreen(GbkFit(gbk, maxBytes));
        edit->setText(cut);
        edit->setCursorPosition(std::min(cursor, static_cast<int>(cut.size())));
        // Said, not done silently: the field keeps only what fits.
        const QString note = QStringLiteral("最多 %1 个字节（%2 个汉字），多出的部分已去掉。")
                                 .arg(maxBytes)
                                 .arg(maxBytes / 2);
        edit->setToolTip(note);
        QToolTip::showText(edit->mapToGlobal(QPoint(0, edit->height())), note, edit);
    });
}

} // namespace kolvena::ui
