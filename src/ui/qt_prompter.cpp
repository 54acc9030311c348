#include "qt_prompter.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <QStringList>
#include <QTranslator>

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

std::optional<std::string> Chosen(const QString& path) {
    if (path.isEmpty())
        return std::nullopt;
    return path.toStdString();
}

} // namespace

QString FileFolders::StartPath(const FileDialogRequest& request, bool save) const {
    QString folder;
    if (const auto last = last_.find({save, request.defaultExtension}); last != last_.end())
        folder = last->second;
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    if (request.initialName.empty())
        return folder;
    return QDir(folder).filePath(QString::fromStdString(request.initialName));
}

void FileFolders::Used(const FileDialogRequest& request, bool save, const QString& path) {
    last_[{save, request.defaultExtension}] = QFileInfo(path).absolutePath();
}

QTranslator* InstallQtTranslations(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}

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
    return ChooseFile(request, true);
}

std::optional<std::string> QtPrompter::ChooseOpenFile(const FileDialogRequest& request) {
    return ChooseFile(request, false);
}

std::optional<std::string> QtPrompter::ChooseFile(const FileDialogRequest& request, bool save) {
    QFileDialog dialog(parent_, QString(), folders_.StartPath(request, save),
                       QtFileFilter(request.filter));
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    folders_.Used(request, save, dialog.selectedFiles().front());
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
