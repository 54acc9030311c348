#pragma once

#include <QString>
#include <cstddef>
#include <string>
#include <string_view>

class QLineEdit;

namespace kolvena::ui {

// Where text meets the screen: the session holds GBK bytes, widgets hold Unicode.
QString ToScreen(std::string_view gbk);
std::string FromScreen(const QString& text);

// A chat-area or message-window text as the screen shows it: CR LF and a lone CR become line
// feeds, so each line of the text is one line of the pane.
QString PaneText(std::string_view gbk);

// Keeps the edit's text within maxBytes GBK bytes: typing past the limit cuts the text back at
// a whole character, never inside one, and a note beside the field says so.
void LimitGbkLength(QLineEdit* edit, std::size_t maxBytes);

} // namespace kolvena::ui
