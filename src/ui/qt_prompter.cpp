#include "qt_prompter.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStandardPaths>
#include <QStringList>

namespace kolvena::ui {
namespace {

QMessageBox::Icon BoxIconOf(BoxIcon icon) {
    switch (icon) {
    case BoxIcon::Information:
        return QMessageBox::Information;
    case BoxIcon::Question:
        return QMessageBox::Question;
    case BoxIcon::Warning:
        return QMessageBox::Warning;
    case BoxIcon::Stop:
        return QMessageBox::Critical;
    case BoxIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QString Caption(const std::string& caption) {
    return caption.empty() ? ProgramName() : QString::fromStdString(caption);
}

// Where a file dialog opens: the documents folder with the proposed name.
QString StartPath(const FileDialogRequest& request) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    if (request.initialName.empty())
        return folder;
    return QDir(folder).filePath(QString::fromStdString(request.initialName));
}

std::optional<std::string> Chosen(const QString& path) {
    if (path.isEmpty())
        return std::nullopt;
    return path.toStdString();
}

} // namespace

QString ProgramName() {
    return QStringLiteral("Kolvena");
}

QString QtFileFilter(const std::string& filter) {
    // "Description|pattern|Description|pattern||": pairs separated by bars.
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        const QString pattern = parts[i + 1].trimmed();
        if (description.isEmpty() || pattern.isEmpty())
            continue;
        if (description.contains(QLatin1Char('(')))
            filters << description;
        else
            filters << QStringLiteral("%1 (%2)").arg(description, pattern);
    }
    return filters.join(QStringLiteral(";;"));
}

void QtPrompter::Inform(Notice, const std::string& caption, const std::string& text, BoxIcon icon) {
    QMessageBox box(BoxIconOf(icon), Caption(caption), QString::fromStdString(text),
                    QMessageBox::Ok, parent_);
    box.exec();
}

BoxAnswer QtPrompter::Ask(Question, const std::string& caption, const std::string& text,
                          BoxButtons buttons, BoxIcon icon) {
    QMessageBox::StandardButtons choices = QMessageBox::Ok;
    QMessageBox::StandardButton cancel = QMessageBox::Ok;
    if (buttons == BoxButtons::OkCancel) {
        choices = QMessageBox::Ok | QMessageBox::Cancel;
        cancel = QMessageBox::Cancel;
    } else if (buttons == BoxButtons::YesNo) {
        choices = QMessageBox::Yes | QMessageBox::No;
        cancel = QMessageBox::No;
    }
    QMessageBox box(BoxIconOf(icon), Caption(caption), QString::fromStdString(text), choices,
                    parent_);
    box.setEscapeButton(cancel);
    switch (box.exec()) {
    case QMessageBox::Ok:
        return BoxAnswer::Ok;
    case QMessageBox::Yes:
        return BoxAnswer::Yes;
    case QMessageBox::No:
        return BoxAnswer::No;
    default:
        return BoxAnswer::Cancel;
    }
}

std::optional<std::string> QtPrompter::ChooseSaveFile(const FileDialogRequest& request) {
    QFileDialog dialog(parent_, QString(), StartPath(request), QtFileFilter(request.filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return Chosen(dialog.selectedFiles().front());
}

std::optional<std::string> QtPrompter::ChooseOpenFile(const FileDialogRequest& request) {
    QFileDialog dialog(parent_, QString(), StartPath(request), QtFileFilter(request.filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return Chosen(dialog.selectedFiles().front());
}

void QtPrompter::SetClipboard(const std::string& text) {
    if (QClipboard* clipboard = QApplication::clipboard())
        clipboard->setText(QString::fromStdString(text));
}

void QtPrompter::Beep(BeepKind) {
    QApplication::beep();
}

} // namespace kolvena::ui
