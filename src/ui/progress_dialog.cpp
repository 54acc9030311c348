#include "progress_dialog.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <climits>

#include "dialog_units.h"
#include "session/prompter.h"
#include "session/time_text.h"
#include "transfer/file_transfers.h"
#include "transfer/transfer_stream.h"

namespace kolvena::ui {
namespace {

constexpr int DIALOG_WIDTH = 230;
constexpr char CAPTION[] = "传输文件 - 进度% 0";

int BarValue(std::uint32_t value) {
    return static_cast<int>(std::min<std::uint32_t>(value, INT_MAX));
}

// "512 字节", "24.4 KB", "3.2 MB", "1.50 GB".
QString SizeText(double bytes) {
    constexpr double KB = 1024.0;
    if (bytes < KB)
        return QStringLiteral("%1 字节").arg(static_cast<qulonglong>(bytes));
    if (bytes < KB * KB)
        return QStringLiteral("%1 KB").arg(bytes / KB, 0, 'f', 1);
    if (bytes < KB * KB * KB)
        return QStringLiteral("%1 MB").arg(bytes / (KB * KB), 0, 'f', 1);
    return QStringLiteral("%1 GB").arg(bytes / (KB * KB * KB), 0, 'f', 2);
}

QLabel* MakeText(QWidget* parent, const char* id) {
    auto* text = new QLabel(parent);
    text->setObjectName(QString::fromLatin1(id));
    text->setTextFormat(Qt::PlainText);
    // A long file name is cut at the window's edge rather than widening it.
    text->setMinimumWidth(1);
    return text;
}

} // namespace

TransferProgressDialog::TransferProgressDialog(Prompter& prompter, QWidget* owner)
    : QDialog(owner), prompter_(prompter) {
    setObjectName(QStringLiteral("148"));
    setWindowTitle(QString::fromUtf8(CAPTION));
    setModal(false);
    setSizeGripEnabled(false);
    // A window does not take its owner's font by itself; the width is measured in it.
    if (owner != nullptr)
        setFont(owner->font());

    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("1090"));
    bar_->setRange(0, 0);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    fileLine_ = MakeText(this, "1093");
    progressText_ = MakeText(this, "1092");
    rate_ = MakeText(this, "1094");
    giveUpButton_ = new QPushButton(QString::fromUtf8("放弃"), this);
    giveUpButton_->setObjectName(QStringLiteral("1091"));
    giveUpButton_->setAutoDefault(false);
    connect(giveUpButton_, &QPushButton::clicked, this, [this] { OnGiveUp(); });

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(giveUpButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(fileLine_);
    layout->addWidget(bar_);
    layout->addWidget(progressText_);
    layout->addWidget(rate_);
    layout->addLayout(buttonRow);
    setFixedWidth(DialogUnits(*this).X(DIALOG_WIDTH));
    setFixedHeight(sizeHint().height());

    show();
}

void TransferProgressDialog::Prepare(const std::string& fileLine, std::uint32_t chunks,
                                     std::uint64_t size) {
    bar_->setRange(0, BarValue(chunks));
    bar_->setValue(0);
    QString line = QString::fromStdString(fileLine);
    if (size >= 1024)
        line += QStringLiteral(" (%1)").arg(SizeText(static_cast<double>(size)));
    fileLine_->setText(line);
    fileLine_->setToolTip(line);
    rate_->clear();
    size_ = size;
    started_.start();
}

void TransferProgressDialog::Step(std::uint32_t chunk, std::uint32_t chunks, double percent) {
    if (bar_->maximum() != BarValue(chunks))
        bar_->setRange(0, BarValue(chunks));
    bar_->setValue(BarValue(std::min(chunk, chunks)));
    progressText_->setText(QString::fromStdString(ProgressText(percent, chunk)));
    // The transfer calls at most ten times a second, so the rate is shown as often.
    const double seconds = started_.isValid() ? started_.elapsed() / 1000.0 : 0.0;
    const double done =
        std::min<double>(static_cast<double>(chunk) * CHUNK_SIZE, static_cast<double>(size_));
    if (seconds > 0 && done > 0) {
        const double rate = done / seconds;
        const auto left = static_cast<std::int32_t>(
            std::min((static_cast<double>(size_) - done) / rate, double(INT32_MAX)));
        rate_->setText(QStringLiteral("%1/s, 剩余 %2")
                           .arg(SizeText(rate), QString::fromStdString(FormatDuration(left))));
    }
    setWindowTitle(QString::fromStdString(ProgressCaption(percent)));
}

void TransferProgressDialog::Dismiss() {
    hide();
    if (asking_)
        dismissed_ = true;
    else
        deleteLater();
}

void TransferProgressDialog::OnGiveUp() {
    // A second question over the first would decide nothing new.
    if (asking_ || dismissed_)
        return;
    const QPointer<TransferProgressDialog> self(this);
    asking_ = true;
    const bool confirmed = ConfirmGiveUp(prompter_);
    if (self.isNull())
        return;
    asking_ = false;
    // The transfer ended while the question was open: there is nothing left to give up.
    if (dismissed_) {
        deleteLater();
        return;
    }
    if (!confirmed)
        return;
    abortRequested_ = true;
    emit giveUpConfirmed();
}

void TransferProgressDialog::reject() {
    OnGiveUp();
}

void TransferProgressDialog::closeEvent(QCloseEvent* event) {
    // The window goes only when the transfer ends.
    event->ignore();
    OnGiveUp();
}

} // namespace kolvena::ui
