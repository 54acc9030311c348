#include "ui/history_window.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <atomic>
#include <ctime>
#include <fstream>
#include <map>

#include "net/history_qt.h"
#include "protocol/offline.h"
#include "record/recording_file.h"
#include "record/safe_write.h"
#include "record/transcript.h"
#include "session/gbk.h"
#include "session/time_text.h"

namespace kolvena::ui {
namespace {

constexpr int TYPING_PAUSE_MS = 300;
constexpr std::size_t COPY_PIECE = 64 * 1024;
const char* const LIST_COLUMNS[] = {"主题", "开始时间", "时长", "成员", "对话", "消息", "大小"};
const char* const MATCH_COLUMNS[] = {"记录", "时间", "内容"};

QString Utf8(const std::string& text) {
    return QString::fromStdString(text);
}

QString LocalTime(CalendarTime time) {
    const std::time_t at = static_cast<std::time_t>(time);
    std::tm local{};
    localtime_r(&at, &local);
    char text[32];
    return std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) != 0
               ? QString::fromLatin1(text)
               : QString();
}

QString SizeText(std::uint64_t size) {
    if (size < 1024)
        return QStringLiteral("%1 字节").arg(size);
    if (size < 1024 * 1024)
        return QStringLiteral("%1 KB").arg(double(size) / 1024, 0, 'f', 1);
    return QStringLiteral("%1 MB").arg(double(size) / (1024 * 1024), 0, 'f', 1);
}

QString TopicOf(const RecordingSummary& recording) {
    return Utf8(FromGbk(recording.topic.substr(0, recording.topic.find('\0'))));
}

QPushButton* MakeButton(QWidget* parent, const char* id, const char* text) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(QString::fromLatin1(id));
    button->setAutoDefault(false);
    return button;
}

template <std::size_t N>
QTreeWidget* MakeTable(QWidget* parent, const char* id, const char* const (&titles)[N]) {
    auto* table = new QTreeWidget(parent);
    table->setObjectName(QString::fromLatin1(id));
    QStringList labels;
    for (const char* title : titles)
        labels << QString::fromUtf8(title);
    table->setHeaderLabels(labels);
    table->setRootIsDecorated(false);
    table->setUniformRowHeights(true);
    table->setAllColumnsShowFocus(true);
    return table;
}

// A core of its own replays a recording to the end for its transcript; nothing it does shows.
class Quiet final : public Prompter, public SessionView {
public:
    void Inform(Notice notice, const std::string&, const std::string& text, BoxIcon) override {
        if (notice == Notice::Failed)
            failure = text;
    }
    BoxAnswer Ask(Question, const std::string&, const std::string&, BoxButtons, BoxIcon) override {
        return BoxAnswer::Yes;
    }
    std::optional<std::string> ChooseSaveFile(const FileDialogRequest&) override { return {}; }
    std::optional<std::string> ChooseOpenFile(const FileDialogRequest&) override { return {}; }
    void SetClipboard(const std::string&) override {}
    void Beep(BeepKind) override {}
    void RefreshChat() override {}
    void RefreshMessages() override {}
    void RefreshMembers() override {}
    void RefreshTarget() override {}
    void RefreshTitle() override {}
    void RefreshCommands() override {}
    void SetWindowMode(WindowMode) override {}
    void SetJoinTimer(bool) override {}

    std::string failure;
};

FileResult CopyFile(const std::string& from, const std::string& to) {
    std::ifstream in;
    if (FileResult opened = OpenForReading(from, in); !opened.ok)
        return opened;
    SafeFile out;
    if (FileResult created = out.Open(to); !created.ok)
        return created;
    std::string piece(COPY_PIECE, '\0');
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (FileResult written = out.Write(std::string_view(piece.data(), got)); !written.ok)
            return written;
    }
    if (in.bad())
        return CannotRead(from, std::make_error_code(std::errc::io_error));
    return out.Commit();
}

} // namespace

// What the worker and the window share: the worker fills matches, the window reads them once
// the worker has finished; cancel stops the worker between two recordings.
struct HistoryWindow::Run {
    std::atomic<bool> cancel{false};
    std::vector<HistoryMatch> matches;
};

std::vector<std::string> HistoryFolders() {
    return {HistoryFolder(),
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString()};
}

HistoryWindow::HistoryWindow(SessionCore& core, Prompter& prompter,
                             std::function<void(const QUrl&)> openUrl,
                             std::vector<std::string> folders, QWidget* parent)
    : QDialog(parent), core_(core), prompter_(prompter), openUrl_(std::move(openUrl)),
      folders_(std::move(folders)) {
    setObjectName(QStringLiteral("180"));
    setWindowTitle(QStringLiteral("Kolvena - 管理会话历史"));

    list_ = MakeTable(this, "1180", LIST_COLUMNS);
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list_->header()->setStretchLastSection(false);

    play_ = MakeButton(this, "1183", "播放");
    saveAs_ = MakeButton(this, "1184", "另存为...");
    export_ = MakeButton(this, "1185", "导出文本...");
    delete_ = MakeButton(this, "1186", "删除");
    auto* folder = MakeButton(this, "1187", "打开文件夹");
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {play_, saveAs_, export_, delete_, folder})
        buttons->addWidget(button);
    buttons->addStretch(1);

    auto* findLabel = new QLabel(QStringLiteral("查找(&F):"), this);
    find_ = new QLineEdit(this);
    find_->setObjectName(QStringLiteral("1181"));
    find_->setPlaceholderText(QStringLiteral("在所有记录的对话和消息中查找"));
    findLabel->setBuddy(find_);
    auto* findRow = new QHBoxLayout;
    findRow->addWidget(findLabel);
    findRow->addWidget(find_, 1);
    results_ = MakeTable(this, "1182", MATCH_COLUMNS);
    results_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    results_->header()->setStretchLastSection(true);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("1188"));
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* close = MakeButton(this, "2", "关闭");
    auto* bottom = new QDialogButtonBox(this);
    bottom->addButton(close, QDialogButtonBox::RejectRole);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_, 3);
    layout->addLayout(buttons);
    layout->addLayout(findRow);
    layout->addWidget(results_, 2);
    layout->addWidget(status_);
    layout->addWidget(bottom);
    resize(760, 520);

    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(play_, &QPushButton::clicked, this, &HistoryWindow::OnPlay);
    connect(saveAs_, &QPushButton::clicked, this, &HistoryWindow::OnSaveAs);
    connect(export_, &QPushButton::clicked, this, &HistoryWindow::OnExportText);
    connect(delete_, &QPushButton::clicked, this, &HistoryWindow::OnDelete);
    connect(folder, &QPushButton::clicked, this, &HistoryWindow::OnOpenFolder);
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &HistoryWindow::ApplySelection);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { OnPlay(); });
    connect(results_, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { OpenMatch(results_->indexOfTopLevelItem(item)); });
    // A pause in typing searches, and so does Enter at once.
    typing_.setSingleShot(true);
    connect(&typing_, &QTimer::timeout, this, [this] { Search(find_->text()); });
    connect(find_, &QLineEdit::textEdited, this, [this] { typing_.start(TYPING_PAUSE_MS); });
    connect(find_, &QLineEdit::returnPressed, this, [this] {
        typing_.stop();
        Search(find_->text());
    });
    Reload();
}

HistoryWindow::~HistoryWindow() {
    StopSearch();
}

void HistoryWindow::Reload() {
    listed_ = ListRecordings(folders_);
    list_->clear();
    for (std::size_t i = 0; i < listed_.size(); ++i) {
        const RecordingSummary& r = listed_[i];
        QStringList cells;
        if (r.status == RecordingStatus::Unreadable) {
            cells << QStringLiteral("文件格式错误") << QString() << QString() << QString()
                  << QString() << QString();
        } else {
            QString topic = TopicOf(r);
            if (r.status == RecordingStatus::Unfinished)
                topic += QStringLiteral(" (未正常结束)");
            cells << topic << LocalTime(r.start) << Utf8(FormatDuration(r.seconds))
                  << QString::number(r.members) << QString::number(r.chatLines)
                  << QString::number(r.notices);
        }
        cells << SizeText(r.size);
        auto* item = new QTreeWidgetItem(list_, cells);
        item->setToolTip(0, QString::fromStdString(r.path));
        item->setData(0, Qt::UserRole, int(i));
        for (int column = 3; column < cells.size(); ++column)
            item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
        if (r.status == RecordingStatus::Unreadable)
            item->setForeground(0, palette().color(QPalette::Disabled, QPalette::Text));
    }
    if (list_->topLevelItemCount() > 0)
        list_->setCurrentItem(list_->topLevelItem(0));
    ApplySelection();
    if (!find_->text().isEmpty())
        Search(find_->text());
}

const RecordingSummary* HistoryWindow::Selected() const {
    const QTreeWidgetItem* item = list_->currentItem();
    if (item == nullptr || !item->isSelected())
        return nullptr;
    const int index = item->data(0, Qt::UserRole).toInt();
    return index >= 0 && std::size_t(index) < listed_.size() ? &listed_[std::size_t(index)]
                                                             : nullptr;
}

void HistoryWindow::ApplySelection() {
    const RecordingSummary* r = Selected();
    const bool readable = r != nullptr && r->status != RecordingStatus::Unreadable;
    for (QPushButton* button : {play_, saveAs_, export_})
        button->setEnabled(readable);
    delete_->setEnabled(r != nullptr);
    if (!Searching())
        status_->setText(r != nullptr ? QString::fromStdString(r->path)
                                      : QStringLiteral("共 %1 个记录").arg(listed_.size()));
}

bool HistoryWindow::Play(const std::string& path) {
    if (!core_.commands().OpenRecordingFile(path))
        return false;
    // The replay shows in the main window.
    accept();
    return true;
}

void HistoryWindow::OnPlay() {
    if (const RecordingSummary* r = Selected(); r && r->status != RecordingStatus::Unreadable)
        Play(r->path);
}

void HistoryWindow::OpenMatch(int row) {
    if (row < 0 || std::size_t(row) >= matches_.size())
        return;
    const HistoryMatch match = matches_[std::size_t(row)];
    if (Play(match.path))
        core_.replay().Seek(match.event);
}

void HistoryWindow::OnSaveAs() {
    const RecordingSummary* r = Selected();
    if (r == nullptr || r->status == RecordingStatus::Unreadable)
        return;
    const std::string from = r->path;
    FileDialogRequest request = RecordingOpenRequest();
    request.initialName = QFileInfo(QString::fromStdString(from)).fileName().toStdString();
    const auto path = prompter_.ChooseSaveFile(request);
    if (!path)
        return;
    const FileResult result = CopyFile(from, *path);
    if (!result.ok)
        prompter_.Inform(Notice::Failed, "", result.error, BoxIcon::Information);
    Reload();
}

void HistoryWindow::OnExportText() {
    const RecordingSummary* r = Selected();
    if (r == nullptr || r->status == RecordingStatus::Unreadable)
        return;
    SystemClock clock;
    Quiet quiet;
    OfflineTransport transport;
    OfflineTransfers transfers;
    SessionCore replayer(clock, quiet, transport, quiet, transfers);
    replayer.Start();
    if (!replayer.commands().OpenRecordingFile(r->path)) {
        prompter_.Inform(Notice::Failed, "", quiet.failure, BoxIcon::Information);
        return;
    }
    const EventLog& log = replayer.recorder().log;
    replayer.replay().Seek(static_cast<std::uint32_t>(log.events.size()));
    // The replayed session ended when its recording was last written.
    Session session = replayer.session();
    session.endedAt = log.header.savedTime;
    const auto path = prompter_.ChooseSaveFile(TranscriptSaveRequest(session));
    if (!path)
        return;
    const FileResult result = WriteTranscript(session, session.endedAt, *path);
    if (!result.ok)
        prompter_.Inform(Notice::Failed, "", result.error, BoxIcon::Information);
    else
        prompter_.Inform(Notice::Done, "", "会话记录保存完毕!", BoxIcon::None);
}

void HistoryWindow::OnDelete() {
    const RecordingSummary* r = Selected();
    if (r == nullptr)
        return;
    const QString path = QString::fromStdString(r->path);
    const std::string name = QFileInfo(path).fileName().toStdString();
    if (prompter_.Ask(Question::DeleteRecording, "删除会话记录", "要删除会话记录 " + name + " 吗?",
                      BoxButtons::YesNo, BoxIcon::Question) != BoxAnswer::Yes)
        return;
    if (!QFile::moveToTrash(path) && !QFile::remove(path))
        prompter_.Inform(Notice::Failed, "", "无法删除文件: " + r->path, BoxIcon::Information);
    Reload();
}

void HistoryWindow::OnOpenFolder() {
    const RecordingSummary* r = Selected();
    QString folder = r != nullptr ? QFileInfo(QString::fromStdString(r->path)).absolutePath()
                                  : QString::fromStdString(folders_.empty() ? "" : folders_[0]);
    if (r == nullptr)
        QDir().mkpath(folder);
    openUrl_(QUrl::fromLocalFile(folder));
}

void HistoryWindow::Search(const QString& text) {
    StopSearch();
    matches_.clear();
    results_->clear();
    if (text.isEmpty()) {
        ApplySelection();
        return;
    }
    auto run = std::make_shared<Run>();
    run_ = run;
    worker_ = QThread::create([run, listed = listed_, needle = ToGbk(text.toStdString())] {
        for (const RecordingSummary& r : listed) {
            if (run->cancel)
                return;
            if (r.status == RecordingStatus::Unreadable)
                continue;
            std::vector<HistoryMatch> found = SearchRecording(r.path, needle);
            run->matches.insert(run->matches.end(), std::make_move_iterator(found.begin()),
                                std::make_move_iterator(found.end()));
        }
    });
    connect(worker_, &QThread::finished, this, [this, run] {
        if (run == run_)
            ShowMatches();
    });
    results_->setCursor(Qt::BusyCursor);
    status_->setText(QStringLiteral("正在查找..."));
    worker_->start();
}

void HistoryWindow::StopSearch() {
    if (worker_ == nullptr)
        return;
    run_->cancel = true;
    worker_->wait();
    delete worker_;
    worker_ = nullptr;
    run_.reset();
    results_->unsetCursor();
}

void HistoryWindow::ShowMatches() {
    worker_->wait();
    delete worker_;
    worker_ = nullptr;
    matches_ = std::move(run_->matches);
    run_.reset();
    results_->unsetCursor();
    std::map<std::string, QString> topics;
    for (const RecordingSummary& r : listed_)
        topics[r.path] = TopicOf(r) + QStringLiteral(" (") + LocalTime(r.start) + ')';
    for (const HistoryMatch& m : matches_)
        new QTreeWidgetItem(results_,
                            {topics[m.path], Utf8(FormatClock(m.time)), Utf8(FromGbk(m.line))});
    status_->setText(QStringLiteral("找到 %1 处").arg(matches_.size()));
}

} // namespace kolvena::ui
