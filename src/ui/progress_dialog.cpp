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
#include "transfer/file_transfers.h"
#include "transfer/transfer_stream.h"

namespace kolvena::ui {
namespace {

constexpr int DIALOG_WIDTH = 230;
constexpr char CAPTION[] = "传输文件 - 进度% 0";

int BarValue(std::uint32_t value) {
    return static_cast<int>(std::min<std::uint32_t>(value, INT_MAX));
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
    layout->addLayout(buttonRow);
    setFixedWidth(DialogUnits(*this).X(DIALOG_WIDTH));
    setFixedHeight(sizeHint().height());

    show();
}

void TransferProgressDialog::Prepare(const std::string& fileLine, std::uint32_t chunks) {
    bar_->setRange(0, BarValue(chunks));
    bar_->setValue(0);
    fileLine_->setText(QString::fromStdString(fileLine));
    fileLine_->setToolTip(fileLine_->text());
}

void TransferProgressDialog::Step(std::uint32_t chunk, std::uint32_t chunks, double percent) {
    if (bar_->maximum() != BarValue(chunks))
        bar_->setRange(0, BarValue(chunks));
    bar_->setValue(BarValue(std::min(chunk, chunks)));
    progressText_->setText(QString::fromStdString(ProgressText(percent, chunk)));
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
