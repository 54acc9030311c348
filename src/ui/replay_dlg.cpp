#include "replay_dlg.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <algorithm>
#include <limits>
#include <string>

#include "dialog_units.h"
#include "gbk_edit.h"
#include "protocol/session_core.h"
#include "session/time_text.h"

namespace kolvena::ui {
namespace {

constexpr int DIALOG_WIDTH = 186;
constexpr int DIALOG_HEIGHT = 47;
constexpr char CAPTION[] = "Kolvena - 会话重放控制";
// Recordings longer than this get a tick every fifteenth of their length instead of one at
// every event.
constexpr int DENSE_TICKS_LIMIT = 30;
constexpr int TICK_SECTIONS = 15;
// A click beside the thumb jumps a fifth of the range.
constexpr int PAGE_SECTIONS = 5;

int SliderValue(std::uint32_t position) {
    return static_cast<int>(std::min<std::uint32_t>(
        position, static_cast<std::uint32_t>(std::numeric_limits<int>::max())));
}

// A header topic may carry a terminator and leftovers after it.
std::string TopicText(const std::string& topic) {
    return topic.substr(0, topic.find('\0'));
}

} // namespace

CReplayDlg::CReplayDlg(SessionCore& core, QWidget* owner) : QDialog(owner, Qt::Tool), core_(core) {
    setObjectName(QStringLiteral("149"));
    setWindowTitle(QString::fromUtf8(CAPTION));
    // A window does not take its owner's font by itself; the layout is measured in it.
    if (owner != nullptr)
        setFont(owner->font());
    setSizeGripEnabled(false);

    const DialogUnits units(*this);
    setFixedSize(units.X(DIALOG_WIDTH), units.Y(DIALOG_HEIGHT));

    position_ = new QLineEdit(this);
    position_->setObjectName(QStringLiteral("1082"));
    position_->setReadOnly(true);
    Place(position_, units, 7, 5, 124, 14);

    load_ = new QPushButton(QString::fromUtf8("载入录象"), this);
    load_->setObjectName(QStringLiteral("1094"));
    load_->setAutoDefault(false);
    Place(load_, units, 140, 5, 40, 14);

    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setObjectName(QStringLiteral("1095"));
    slider_->setTickPosition(QSlider::TicksBelow);
    slider_->setRange(1, 1);
    // The trackbar's band in the template; Qt draws a taller slider than it needs, so the
    // slider keeps its own height in the middle of the band and its ticks stay by the groove.
    const QRect band = units.Rect(2, 23, 132, 22);
    const int sliderHeight = std::min(band.height(), slider_->sizeHint().height());
    slider_->setGeometry(band.x(), band.y() + (band.height() - sliderHeight) / 2, band.width(),
                         sliderHeight);

    play_ = new QPushButton(QString::fromUtf8("播放"), this);
    play_->setObjectName(QStringLiteral("1096"));
    play_->setDefault(true);
    Place(play_, units, 140, 26, 40, 14);

    // Only the user's moves seek: programmatic positions never trigger an action.
    connect(slider_, &QAbstractSlider::actionTriggered, this, [this](int) { OnSliderAction(); });
    connect(play_, &QPushButton::clicked, this, [this] { OnPlay(); });
    connect(load_, &QPushButton::clicked, this, [this] { OnLoad(); });

    show();
}

void CReplayDlg::ResetReplay() {
    const int count = core_.recorder().log.header.eventCount;
    slider_->setRange(1, std::max(count, 1));
    slider_->setTickInterval(count > DENSE_TICKS_LIMIT ? count / TICK_SECTIONS : 1);
    slider_->setPageStep(std::max(count / PAGE_SECTIONS, 1));
    slider_->setValue(SliderValue(core_.recorder().log.cursor));
    UpdateControls();
}

void CReplayDlg::UpdateControls() {
    const EventLog& log = core_.recorder().log;
    const std::string total = FormatDuration(log.RecordedLength());
    std::string elapsed;
    const char* button;
    const char* suffix;
    if (log.ended) {
        button = "重放";
        elapsed = total;
        suffix = " (播放结束)";
    } else if (core_.recorder().state == ReplayState::Playing) {
        button = "暂停";
        elapsed = FormatDuration(log.ElapsedAtCursor());
        suffix = " (正在播放)";
    } else {
        button = "播放";
        elapsed = FormatDuration(log.ElapsedAtCursor());
        suffix = " (暂停播放)";
    }
    play_->setText(QString::fromUtf8(button));
    setWindowTitle(QString::fromUtf8(CAPTION) + QString::fromUtf8(suffix));
    position_->setText(
        ToScreen(" <" + TopicText(log.header.topic) + ">  " + elapsed + "-" + total));
    // The topic comes first: show it rather than the end of the text.
    position_->setCursorPosition(0);
}

void CReplayDlg::ShowPosition(std::uint32_t position) {
    if (seeking_)
        return;
    slider_->setValue(SliderValue(position));
}

void CReplayDlg::OnSliderAction() {
    // The action has already moved the thumb; its value follows once this returns.
    const int position = slider_->sliderPosition();
    QPointer<CReplayDlg> self(this);
    seeking_ = true;
    core_.replay().Seek(static_cast<std::uint32_t>(std::max(position, 0)));
    if (!self)
        return;
    seeking_ = false;
    UpdateControls();
}

void CReplayDlg::OnPlay() {
    QPointer<CReplayDlg> self(this);
    core_.replay().PlayButton();
    emit played();
    if (self)
        UpdateControls();
}

void CReplayDlg::OnLoad() {
    QPointer<CReplayDlg> self(this);
    emit openRecordingRequested();
    if (self)
        UpdateControls();
}

void CReplayDlg::closeEvent(QCloseEvent* event) {
    emit closed();
    event->accept();
}

void CReplayDlg::reject() {
    close();
}

} // namespace kolvena::ui
