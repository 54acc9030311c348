#pragma once

#include <QDialog>
#include <QUrl>
#include <functional>

namespace kolvena {
class Prompter;
}

namespace kolvena::ui {

// The program's home page, opened by menu item 32822.
QUrl HomePage();

// Dialog 141: the help text, with "每次启动时显示" checked and greyed, so it shows at every
// start.
class HelpDialog final : public QDialog {
public:
    explicit HelpDialog(QWidget* parent = nullptr);
};

// Dialog 100: the About box.
class AboutDialog final : public QDialog {
public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

// Dialog 142: recommend the program to a friend. Its OK puts the recommendation on the
// clipboard and opens a mail to the entered address.
class RecommendDialog final : public QDialog {
public:
    using UrlOpener = std::function<void(const QUrl&)>;
    RecommendDialog(Prompter& prompter, UrlOpener open, QWidget* parent = nullptr);

private:
    Prompter& prompter_;
    UrlOpener open_;
};

} // namespace kolvena::ui
