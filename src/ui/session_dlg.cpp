#include "session_dlg.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolBar>
#include <QTreeWidget>
#include <cmath>
#include <utility>

#include "chat_text.h"
#include "command_ids.h"
#include "dialog_units.h"
#include "extras_dialogs.h"
#include "find_bar.h"
#include "gbk_edit.h"
#include "history_dialog.h"
#include "history_window.h"
#include "info_dialogs.h"
#include "management_dialog.h"
#include "pane_scroll_bar.h"
#include "protocol/view_texts.h"
#include "qt_prompter.h"
#include "replay_dlg.h"
#include "search_dialog.h"
#include "session/time_text.h"
#include "session_dialogs.h"
#include "settings_dialog.h"
#include "toolbar_images.h"

namespace kolvena::ui {
namespace {

// The window's template size in dialog units.
constexpr int WINDOW_WIDTH = 429;
constexpr int WINDOW_HEIGHT = 303;
// How far the window shrinks below its default size, in dialog units: the panes and the member
// list keep room for a few lines.
constexpr int SHRINK_WIDTH = 70;
constexpr int SHRINK_HEIGHT = 95;
// The display work of what arrived is done at most this often.
constexpr int FRAME_MS = 16;
// A desktop notification shows this many characters of what arrived.
constexpr int NOTIFICATION_LENGTH = 60;

// The message window takes a quarter of the extra height, the chat area below it the rest.
constexpr double MESSAGE_SHARE = 0.25;
constexpr Anchor STRETCH_WIDTH{0, 0, 1, 0};
constexpr Anchor MESSAGE_PANE{0, 0, 1, MESSAGE_SHARE};
constexpr Anchor CHAT_PANE{0, MESSAGE_SHARE, 1, 1 - MESSAGE_SHARE};
constexpr Anchor MEMBER_LIST{1, 0, 0, 1};
constexpr Anchor BOTTOM_LEFT{0, 1, 0, 0};
constexpr Anchor INPUT_LINE{0, 1, 1, 0};
constexpr Anchor BOTTOM_RIGHT{1, 1, 0, 0};

// The replay's menu items, enabled only while a recording is loaded.
constexpr int REPLAY_ITEMS[] = {ID_REPLAY_WINDOW,       ID_PAUSE,      ID_SPEED_SLOW,
                                ID_SPEED_NORMAL,        ID_SPEED_FAST, ID_SPEED_FASTEST,
                                ID_RECORDING_PROPERTIES};

// The speed items and the speeds they choose.
constexpr std::pair<int, std::uint16_t> SPEED_ITEMS[] = {{ID_SPEED_SLOW, SPEED_SLOW},
                                                         {ID_SPEED_NORMAL, SPEED_NORMAL},
                                                         {ID_SPEED_FAST, SPEED_FAST},
                                                         {ID_SPEED_FASTEST, SPEED_FASTEST}};

// The refreshes that held refreshes defer.
enum Refresh : unsigned {
    REFRESH_CHAT = 1u << 0,
    REFRESH_MESSAGES = 1u << 1,
    REFRESH_MEMBERS = 1u << 2,
    REFRESH_TARGET = 1u << 3,
    REFRESH_TITLE = 1u << 4,
};

// The tooltip texts of the toolbar buttons and of the controls that have one.
const std::map<int, const char*>& ToolTips() {
    static const std::map<int, const char*> tips = {
        {ID_CREATE, "新的会话"},   {ID_JOIN, "加入会话"}, {ID_LEAVE, "退出会话"},
        {ID_MANAGE, "会话管理"},   {ID_SEND, "发送"},     {ID_STATUS, "当前会话状态"},
        {ID_SETTINGS, "会话设置"}, {ID_HELP, "帮助"},     {ID_SAVE_RECORDING, "保存会话历史"},
    };
    return tips;
}

QString Name(int id) {
    return QString::number(id);
}

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

// The window's font: a Chinese font in the template's size, whichever of them is installed.
QFont WindowFont() {
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("Noto Sans SC"), QStringLiteral("WenQuanYi Zen Hei"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("AR PL UMing CN")});
    font.setPointSize(9);
    return font;
}

// The panes' font: a Chinese face whose Latin letters are half as wide as its characters, so
// that the banner's frame and other aligned lines line up as they were typed.
QFont PaneFont() {
    QFont font;
    font.setFamilies(
        {QStringLiteral("NSimSun"), QStringLiteral("SimSun"),
         QStringLiteral("Noto Sans Mono CJK SC"), QStringLiteral("WenQuanYi Zen Hei Mono"),
         QStringLiteral("WenQuanYi Micro Hei Mono"), QStringLiteral("Noto Sans CJK SC")});
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSize(9);
    // The panes' scripts (Latin, Chinese, the others GBK holds) need no shaping, and a face
    // of even widths has no kerning to apply; Qt still shapes what needs it, such as Arabic.
    // Text is shaped again at every paint, and shaping was most of painting the chat area.
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

// The chat area's line colours: own lines, lines addressed to the own member, whispers and the
// program's own lines each have theirs; the texts stay exactly as they are.
enum class LineColour { Plain, Own, ToSelf, Whisper, System };

LineColour ColourOf(const LineRecord& line, const Session& s) {
    const LineFacts& facts = line.facts;
    if (facts.kind == LineKind::Chat) {
        if (facts.whisper)
            return LineColour::Whisper;
        if (facts.member == s.selfId)
            return LineColour::Own;
        if (facts.toSelf)
            return LineColour::ToSelf;
        return LineColour::Plain;
    }
    return std::string_view(line.text).starts_with("-->> ") ? LineColour::System
                                                            : LineColour::Plain;
}

QTextCharFormat FormatOf(LineColour colour) {
    QTextCharFormat format;
    switch (colour) {
    case LineColour::Plain:
        break;
    case LineColour::Own:
        format.setForeground(QColor(0x1d, 0x6f, 0x42));
        break;
    case LineColour::ToSelf:
        format.setForeground(QColor(0xb3, 0x26, 0x1e));
        break;
    case LineColour::Whisper:
        format.setForeground(QColor(0x7b, 0x3f, 0xa0));
        break;
    case LineColour::System:
        format.setForeground(QColor(0x5f, 0x6b, 0x7a));
        break;
    }
    return format;
}

QPlainTextEdit* MakePane(QWidget* parent, int id) {
    auto* pane = new QPlainTextEdit(parent);
    pane->setFont(PaneFont());
    pane->setObjectName(Name(id));
    pane->setReadOnly(true);
    pane->setVerticalScrollBar(new PaneScrollBar(Qt::Vertical, pane));
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    pane->setUndoRedoEnabled(false);
    return pane;
}

QCheckBox* MakeCheckBox(QWidget* parent, int id, const char* text) {
    auto* box = new QCheckBox(Utf8(text), parent);
    box->setObjectName(Name(id));
    return box;
}

} // namespace

CSessionDlg::CSessionDlg(const Clock& clock, Prompter& prompter, DialogRunner& dialogs,
                         LinkOptions link, std::uint16_t transferPort, QWidget* parent)
    : QMainWindow(parent),
      attention_(
          prompter,
          [this](const std::string& caption, const std::string& text) {
              Attention(QString::fromStdString(caption), QString::fromStdString(text));
          },
          [this](const std::string& text) { ShowLimitWarning(QString::fromStdString(text)); }),
      link_(prompter, std::move(link)), transfers_(prompter, *this, transferPort),
      core_(clock, attention_, link_, *this, transfers_, replayTimer_), prompter_(prompter),
      dialogs_(dialogs), clock_(clock) {
    openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    // The user sees the window while it or one of its own boxes and dialogs is active.
    isSeen = [this] {
        if (isMinimized())
            return false;
        for (const QWidget* active = QApplication::activeWindow(); active != nullptr;
             active = active->parentWidget())
            if (active == this)
                return true;
        return false;
    };
    askAttention = [this](const QString& who, const QString& what) {
        QApplication::alert(this);
        if (tray_ != nullptr)
            tray_->showMessage(who, what.left(NOTIFICATION_LENGTH));
    };
    link_.SetListener(&core_);
    setObjectName(Name(102));
    setWindowTitle(ProgramName());
    setWindowIcon(ApplicationIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setFont(WindowFont());

    replayTimer_.OnTick([this] { core_.replay().Tick(); });
    frame_.setSingleShot(true);
    connect(&frame_, &QTimer::timeout, this, [this] { ShowNow(); });

    BuildControls();
    BuildMenus();
    BuildToolbar();
    BuildTray();
    // The default size, within the screen's free area.
    QSize size = sizeHint().expandedTo(minimumSizeHint());
    if (const QScreen* shown = screen())
        size = size.boundedTo(shown->availableGeometry().size());
    resize(size);
}

CSessionDlg::~CSessionDlg() {
    joinTicker_.Set(false);
    replayTimer_.Stop();
    replayTimer_.OnTick(nullptr);
    // The control window works on the core, which goes before the window's children do; the
    // progress window's give-up reaches the transfers, which go before the core.
    delete replayDlg_.data();
    delete transferWindow_.data();
    link_.SetListener(nullptr);
}

void CSessionDlg::BuildControls() {
    const DialogUnits units(*this);
    defaultArea_ = QSize(units.X(WINDOW_WIDTH), units.Y(WINDOW_HEIGHT));
    auto* central = new ControlArea(defaultArea_, this);
    central->setMinimumSize(units.X(WINDOW_WIDTH - SHRINK_WIDTH),
                            units.Y(WINDOW_HEIGHT - SHRINK_HEIGHT));
    setCentralWidget(central);
    central->installEventFilter(this);

    auto* separator = new QFrame(central);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    Put(separator, 0, 2, 427, 1, STRETCH_WIDTH);

    messages_ = MakePane(central, 1000);
    messages_->setLineWrapMode(QPlainTextEdit::NoWrap);
    messages_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Put(messages_, 6, 8, 267, 61, MESSAGE_PANE);
    // Long lines wrap at the pane's width.
    chat_ = MakePane(central, 1001);
    chat_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    chat_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    chatText_ = new ChatText(*chat_);
    Put(chat_, 6, 72, 267, 198, CHAT_PANE);
    findBar_ = new FindBar(*chat_, central);
    findBar_->onShownChanged = [this] { LayOutAll(); };
    for (QPlainTextEdit* pane : {messages_, chat_}) {
        connect(pane->verticalScrollBar(), &QScrollBar::valueChanged, this, [this, pane](int top) {
            if (scrolling_)
                return;
            if (pane == chat_)
                chatTop_ = chatText_->TopPosition();
            else
                messageTop_ = top;
        });
    }

    members_ = new QTreeWidget(central);
    members_->setObjectName(Name(1003));
    members_->setRootIsDecorated(false);
    members_->setSelectionMode(QAbstractItemView::SingleSelection);
    members_->setColumnCount(3);
    members_->setHeaderLabels({Utf8("名    称"), QStringLiteral("ID"), Utf8("登陆时间")});
    members_->header()->setDefaultAlignment(Qt::AlignCenter);
    // The first column is drawn left-aligned whatever its heading asks for.
    members_->headerItem()->setTextAlignment(0, Qt::AlignLeft | Qt::AlignVCenter);
    // The name takes what the ID and the time leave, so the three fit without scrolling.
    members_->header()->setStretchLastSection(false);
    members_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    members_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    members_->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    members_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    members_->setContextMenuPolicy(Qt::CustomContextMenu);
    // A file dropped on a member is offered to that member.
    members_->setAcceptDrops(true);
    members_->viewport()->setAcceptDrops(true);
    members_->viewport()->installEventFilter(this);
    Put(members_, 279, 8, 142, 179, MEMBER_LIST);
    connect(members_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { OnMemberClicked(item); });
    connect(members_, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { OnMemberClicked(item); });
    connect(members_, &QTreeWidget::customContextMenuRequested, this,
            [this](const QPoint& position) { OnMemberMenuRequested(position); });

    auto* targetLabel = new QLabel(Utf8("对象"), central);
    Put(targetLabel, 9, 282, 18, 8, BOTTOM_LEFT);
    target_ = new QLineEdit(central);
    target_->setObjectName(Name(1005));
    target_->setReadOnly(true);
    Put(target_, 29, 279, 38, 14, BOTTOM_LEFT);

    input_ = new QLineEdit(central);
    input_->setObjectName(Name(1008));
    Put(input_, 76, 279, 150, 14, INPUT_LINE);
    connect(input_, &QLineEdit::returnPressed, this, [this] { OnSend(); });

    auto* frame = new QGroupBox(central);
    Put(frame, 280, 187, 142, 82, BOTTOM_RIGHT);

    Button(ID_SEND, "发送", 231, 279, 42, 14)->setDefault(true);
    Button(ID_CREATE, "新建会话", 287, 197, 62, 14);
    Button(ID_JOIN, "加入会话", 287, 215, 62, 14);
    leaveButton_ = Button(ID_LEAVE, "退出会话", 287, 233, 62, 14);
    Button(ID_CLEAR, "清  屏", 287, 251, 62, 13);
    Button(ID_OFFER, "传输文件", 354, 197, 62, 14);
    Button(ID_SAVE_RECORDING, "保存记录", 354, 215, 62, 14);
    sleepButton_ = Button(ID_SLEEP, "离开一会", 354, 233, 62, 14);
    Button(ID_RENAME, "改  名", 354, 251, 62, 13);

    autoScroll_ = MakeCheckBox(central, 1053, "滚  屏");
    Put(autoScroll_, 289, 275, 60, 10, BOTTOM_RIGHT);
    whisper_ = MakeCheckBox(central, 1011, "悄悄话");
    Put(whisper_, 289, 287, 60, 10, BOTTOM_RIGHT);
    asNotice_ = MakeCheckBox(central, 1012, "发讯息");
    Put(asNotice_, 356, 275, 60, 10, BOTTOM_RIGHT);
    showReplayWindow_ = MakeCheckBox(central, 1054, "显  示");
    Put(showReplayWindow_, 356, 287, 60, 10, BOTTOM_RIGHT);
    connect(autoScroll_, &QCheckBox::clicked, this, [this] { OnAutoScrollClicked(); });
    connect(showReplayWindow_, &QCheckBox::clicked, this, [this] { OnToggleReplayWindow(); });

    installEventFilter(this);
    input_->installEventFilter(this);
}

QPushButton* CSessionDlg::Button(int id, const char* text, int x, int y, int width, int height) {
    auto* button = new QPushButton(Utf8(text), centralWidget());
    button->setObjectName(Name(id));
    button->setAutoDefault(false);
    if (const auto tip = ToolTips().find(id); tip != ToolTips().end())
        button->setToolTip(Utf8(tip->second));
    Put(button, x, y, width, height, BOTTOM_RIGHT);
    buttons_[id] = button;
    return button;
}

void CSessionDlg::Put(QWidget* control, int x, int y, int width, int height, const Anchor& anchor) {
    placed_.push_back({control, DialogUnits(*this).Rect(x, y, width, height), anchor});
    LayOut(placed_.back());
}

void CSessionDlg::LayOut(const Placed& placed) {
    const QWidget* area = centralWidget();
    const int dx = area->width() - defaultArea_.width();
    const int dy = area->height() - defaultArea_.height();
    const auto share = [](double part, int extra) {
        return static_cast<int>(std::lround(part * extra));
    };
    const QRect& at = placed.rect;
    placed.control->setGeometry(
        at.x() + share(placed.anchor.x, dx), at.y() + share(placed.anchor.y, dy),
        at.width() + share(placed.anchor.width, dx), at.height() + share(placed.anchor.height, dy));
}

void CSessionDlg::LayOutAll() {
    for (const Placed& placed : placed_)
        LayOut(placed);
    if (findBar_->isVisible()) {
        const QRect pane = chat_->geometry();
        const int height = findBar_->sizeHint().height();
        chat_->setGeometry(pane.adjusted(0, 0, 0, -height));
        findBar_->setGeometry(pane.x(), pane.bottom() + 1 - height, pane.width(), height);
    }
}

QAction* CSessionDlg::Action(int id, const char* text) {
    auto* action = new QAction(Utf8(text), this);
    action->setObjectName(Name(id));
    const auto tip = ToolTips().find(id);
    action->setToolTip(tip != ToolTips().end() ? Utf8(tip->second) : QString());
    actions_[id] = action;
    return action;
}

void CSessionDlg::BuildMenus() {
    const std::pair<int, void (CSessionDlg::*)()> handlers[] = {
        {ID_CREATE, &CSessionDlg::OnCreate},
        {ID_JOIN, &CSessionDlg::OnJoin},
        {ID_SEARCH, &CSessionDlg::OnSearch},
        {ID_LEAVE, &CSessionDlg::OnLeave},
        {ID_SLEEP, &CSessionDlg::OnSleep},
        {ID_SETTINGS, &CSessionDlg::OnSettings},
        {ID_STATUS, &CSessionDlg::OnStatus},
        {ID_SEND, &CSessionDlg::OnSend},
        {ID_CLEAR, &CSessionDlg::OnClear},
        {ID_RENAME, &CSessionDlg::OnRename},
        {ID_OFFER, &CSessionDlg::OnOffer},
        {ID_SAVE_RECORDING, &CSessionDlg::OnSaveRecording},
        {ID_OPEN_RECORDING, &CSessionDlg::OnOpenRecording},
        {ID_RECORDING_PROPERTIES, &CSessionDlg::OnHistoryProperties},
        {ID_SAVE_TEXT, &CSessionDlg::OnSaveTranscript},
        {ID_OPEN_TEXT, &CSessionDlg::OnOpenText},
        {ID_PAUSE, &CSessionDlg::OnPause},
        {ID_REPLAY_WINDOW, &CSessionDlg::OnToggleReplayWindow},
        {ID_HELP, &CSessionDlg::OnHelp},
        {ID_ABOUT, &CSessionDlg::OnAbout},
        {ID_HOME_PAGE, &CSessionDlg::OnHomePage},
        {ID_RECOMMEND, &CSessionDlg::OnRecommend},
        {ID_MEMBER_INFO, &CSessionDlg::OnMemberInfo},
        {ID_FIND, &CSessionDlg::OnFind},
        {ID_MANAGE, &CSessionDlg::OnManage},
        {ID_MANAGE_HISTORY, &CSessionDlg::OnManageHistory},
    };

    QMenu* session = menuBar()->addMenu(Utf8("会话(&S)"));
    session->addAction(Action(ID_CREATE, "新的会话(&N)..."));
    session->addAction(Action(ID_JOIN, "加入会话(&O)..."));
    session->addAction(Action(ID_LEAVE, "退出会话(&T)"));
    session->addAction(Action(ID_SLEEP, "休眠(&G)"));
    session->addSeparator();
    session->addAction(Action(ID_SEARCH, "局域网搜索(&S)..."));
    session->addAction(Action(ID_SETTINGS, "会话设置(&T)..."));
    session->addAction(Action(ID_STATUS, "会话属性(A)..."));
    session->addAction(Action(ID_MANAGE, "会话管理(&M)..."));
    session->addSeparator();
    session->addAction(Action(ID_EXIT, "退出(&X)"));

    QMenu* messages = menuBar()->addMenu(Utf8("讯息(&M)"));
    messages->addAction(Action(ID_SEND, "发送(&K)"));
    messages->addAction(Action(ID_CLEAR, "清屏(&C)"));
    messages->addAction(Action(ID_RENAME, "改变妮称(&G)..."));
    messages->addAction(Action(ID_OFFER, "传输文件(&F)..."));
    messages->addSeparator();
    messages->addAction(Action(ID_FIND, "查找(&S)..."));
    actions_.at(ID_FIND)->setShortcut(QKeySequence::Find);
    // F3 and Shift+F3 step through the matches wherever the focus is.
    for (const bool backwards : {false, true}) {
        auto* step = new QAction(this);
        step->setShortcut(backwards ? QKeySequence::FindPrevious : QKeySequence::FindNext);
        connect(step, &QAction::triggered, this, [this, backwards] {
            if (findBar_->isVisible())
                findBar_->Step(backwards);
        });
        addAction(step);
    }

    QMenu* history = menuBar()->addMenu(Utf8("历史记录(&H)"));
    history->addAction(Action(ID_OPEN_RECORDING, "播放会话历史录象(&O)..."));
    history->addAction(Action(ID_SAVE_RECORDING, "保存会话历史录象(&S)..."));
    history->addSeparator();
    history->addAction(Action(ID_OPEN_TEXT, "打开会话文本记录(&L)..."));
    history->addAction(Action(ID_SAVE_TEXT, "保存会话历史为文本(&T)..."));
    history->addSeparator();
    history->addAction(Action(ID_REPLAY_WINDOW, "显示播放控制窗口(&N)"));
    history->addAction(Action(ID_PAUSE, "暂停播放(&P)"));
    QMenu* speed = history->addMenu(Utf8("播放速度"));
    speed->addAction(Action(ID_SPEED_SLOW, "慢"));
    speed->addAction(Action(ID_SPEED_NORMAL, "普通"));
    speed->addAction(Action(ID_SPEED_FAST, "快"));
    speed->addAction(Action(ID_SPEED_FASTEST, "极快"));
    history->addAction(Action(ID_RECORDING_PROPERTIES, "会话历史属性(&A)..."));
    history->addSeparator();
    history->addAction(Action(ID_MANAGE_HISTORY, "管理会话历史(&M)..."));

    QMenu* help = menuBar()->addMenu(Utf8("帮助(&H)"));
    help->addAction(Action(ID_HELP, "帮助(&P)..."));
    help->addAction(Action(ID_ABOUT, "关于Kolvena(&A)..."));
    help->addSeparator();
    help->addAction(Action(ID_HOME_PAGE, "访问Kolvena主页(&H)"));
    help->addAction(Action(ID_RECOMMEND, "将Kolvena推荐给朋友(&R)..."));

    memberMenu_ = new QMenu(this);
    memberMenu_->setObjectName(Name(146));
    auto* say = new QAction(Utf8("发送对话(&S)"), memberMenu_);
    say->setObjectName(Name(ID_SEND));
    connect(say, &QAction::triggered, this, [this] { OnSend(); });
    memberMenu_->addAction(say);
    memberMenu_->addAction(Action(ID_MEMBER_INFO, "成员信息(&I)..."));
    auto* offer = new QAction(Utf8("传输文件(&F)..."), memberMenu_);
    offer->setObjectName(Name(ID_OFFER));
    connect(offer, &QAction::triggered, this, [this] { OnOffer(); });
    memberMenu_->addAction(offer);

    for (const auto& [id, handler] : handlers)
        connect(actions_.at(id), &QAction::triggered, this, handler);
    // Plain copies: clang before 16 cannot capture a structured binding.
    for (const auto& item : SPEED_ITEMS)
        connect(actions_.at(item.first), &QAction::triggered, this,
                [this, speed = item.second] { OnSpeed(speed); });
    connect(actions_.at(ID_EXIT), &QAction::triggered, this, [this] { close(); });
    for (const auto& [id, pushButton] : buttons_) {
        QAction* action = actions_.at(id);
        QPushButton* button = pushButton;
        connect(button, &QPushButton::clicked, action, &QAction::trigger);
        connect(action, &QAction::changed, button,
                [button, action] { button->setEnabled(action->isEnabled()); });
    }

    for (int id : {ID_PAUSE, ID_SPEED_SLOW, ID_SPEED_NORMAL, ID_SPEED_FAST, ID_SPEED_FASTEST,
                   ID_REPLAY_WINDOW})
        actions_.at(id)->setCheckable(true);
    SyncReplayControls();
}

void CSessionDlg::BuildToolbar() {
    toolbar_ = addToolBar(QStringLiteral("toolbar"));
    toolbar_->setObjectName(Name(128));
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setIconSize(QSize(24, 24));
    toolbar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolbar_->setContextMenuPolicy(Qt::PreventContextMenu);
    const int layout[] = {ID_CREATE,         ID_JOIN, ID_LEAVE,  0, ID_SETTINGS, ID_MANAGE,
                          ID_SAVE_RECORDING, 0,       ID_STATUS, 0, ID_HELP};
    for (int id : layout) {
        if (id == 0) {
            toolbar_->addSeparator();
            continue;
        }
        QAction* action = actions_.at(id);
        action->setIcon(ToolbarIcon(id));
        toolbar_->addAction(action);
    }
}

void CSessionDlg::Start() {
    autoScroll_->setChecked(true);
    core_.Start();
    RefreshTitle();
    // The start-up state shows under the help window.
    ShowNow();
    OnHelp();
}

// --- panes ---

bool CSessionDlg::Deferred(unsigned refresh) {
    if (showing_)
        return false;
    dueRefreshes_ |= refresh;
    if (holds_ == 0 && !frame_.isActive()) {
        const qint64 since = sinceShown_.isValid() ? sinceShown_.elapsed() : FRAME_MS;
        frame_.start(static_cast<int>(std::max<qint64>(0, FRAME_MS - since)));
    }
    return true;
}

void CSessionDlg::HoldRefreshes(bool hold) {
    if (hold) {
        ++holds_;
        return;
    }
    if (holds_ == 0 || --holds_ > 0)
        return;
    ShowNow();
}

void CSessionDlg::ShowNow() {
    frame_.stop();
    if (holds_ > 0 || dueRefreshes_ == 0)
        return;
    // What the session sent goes out before the display work, so that no member's copy of a
    // line waits for the window to show it.
    link_.WriteOutQueued();
    const unsigned due = std::exchange(dueRefreshes_, 0u);
    showing_ = true;
    if (due & REFRESH_CHAT)
        RefreshChat();
    if (due & REFRESH_MESSAGES)
        RefreshMessages();
    if (due & REFRESH_MEMBERS)
        RefreshMembers();
    if (due & REFRESH_TARGET)
        RefreshTarget();
    if (due & REFRESH_TITLE)
        RefreshTitle();
    if (std::exchange(scrollDue_, false))
        ScrollPanes();
    showing_ = false;
    sinceShown_.start();
}

void CSessionDlg::RefreshChat() {
    if (Deferred(REFRESH_CHAT))
        return;
    const Session& s = core_.session();
    const auto rendered = [&s](const LineRecord& line) { return line.text + s.LineSuffix(line); };
    const bool times = s.settings.showTimeOnChat && !s.replayFlag;
    const std::size_t count = s.lines.size();

    scrolling_ = true;
    const bool appendable = chatBuilt_ && times == chatTimes_ && count >= chatShown_ &&
                            (chatShown_ == 0 || (rendered(s.lines.front()) == chatFirst_ &&
                                                 rendered(s.lines[chatShown_ - 1]) == chatLast_));
    std::size_t from = chatShown_;
    // A rebuild keeps the line the user reads at the top of the view.
    const int topLine = appendable ? 0 : chatText_->LineOf(chatTop_);
    if (!appendable) {
        chatText_->Clear();
        chatBuilt_ = true;
        from = 0;
    }
    for (std::size_t i = from; i < count; ++i)
        chatText_->Add(PaneText(rendered(s.lines[i])), FormatOf(ColourOf(s.lines[i], s)));
    chatText_->Flush();
    if (!appendable)
        chatTop_ = chatText_->PositionOfLine(topLine);
    if (appendable)
        NoteArrivals(from);
    findBar_->Refresh();
    RefreshManagement();
    chatShown_ = count;
    chatTimes_ = times;
    chatFirst_ = count ? rendered(s.lines.front()) : std::string();
    chatLast_ = count ? rendered(s.lines.back()) : std::string();
    scrolling_ = false;
    scrollDue_ = true;
}

void CSessionDlg::RefreshMessages() {
    if (Deferred(REFRESH_MESSAGES))
        return;
    const std::string& text = core_.session().messageText;
    scrolling_ = true;
    if (messagesBuilt_ && text.size() >= messagesShown_.size() &&
        text.compare(0, messagesShown_.size(), messagesShown_) == 0) {
        if (text.size() > messagesShown_.size()) {
            QTextCursor cursor(messages_->document());
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(PaneText(std::string_view(text).substr(messagesShown_.size())));
        }
    } else {
        messages_->setPlainText(PaneText(text));
        messagesBuilt_ = true;
    }
    messagesShown_ = text;
    scrolling_ = false;
    scrollDue_ = true;

    const Session& s = core_.session();
    if (s.notices.size() < noticesSeen_)
        noticesSeen_ = 0; // a new session's
    for (; noticesSeen_ < s.notices.size(); ++noticesSeen_) {
        if (s.replayFlag || isSeen())
            continue;
        ++unread_;
        const LineFacts& facts = s.notices[noticesSeen_].facts;
        if (facts.member != s.selfId)
            Attention(ToScreen(facts.name), ToScreen(facts.text));
        RefreshTitle();
    }
    RefreshManagement();
}

void CSessionDlg::NoteArrivals(std::size_t firstLine) {
    const Session& s = core_.session();
    if (s.replayFlag || firstLine >= s.lines.size() || isSeen())
        return;
    unread_ += static_cast<int>(s.lines.size() - firstLine);
    // One request for attention for a batch: the last line in it that concerns the user.
    const LineRecord* concerning = nullptr;
    for (std::size_t i = firstLine; i < s.lines.size(); ++i) {
        const LineFacts& facts = s.lines[i].facts;
        if (facts.kind == LineKind::Chat && facts.member != s.selfId &&
            (facts.toSelf || facts.whisper))
            concerning = &s.lines[i];
    }
    if (concerning != nullptr)
        Attention(ToScreen(concerning->facts.name), ToScreen(concerning->facts.text));
    RefreshTitle();
}

void CSessionDlg::ShowLimitWarning(const QString& text) {
    auto* box = new QMessageBox(QMessageBox::Warning, ProgramName(), text, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("limit"));
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_ShowWithoutActivating);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

void CSessionDlg::Attention(const QString& who, const QString& what) {
    if (!isSeen())
        askAttention(who, what);
}

void CSessionDlg::Seen() {
    if (unread_ == 0)
        return;
    unread_ = 0;
    RefreshTitle();
    ShowNow();
}

void CSessionDlg::BuildTray() {
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    tray_ = new QSystemTrayIcon(ApplicationIcon(), this);
    const auto bringUp = [this] {
        showNormal();
        raise();
        activateWindow();
    };
    auto* menu = new QMenu(this);
    connect(menu->addAction(Utf8("显示窗口")), &QAction::triggered, this, bringUp);
    connect(menu->addAction(Utf8("退出")), &QAction::triggered, this, [this] { close(); });
    tray_->setContextMenu(menu);
    connect(tray_, &QSystemTrayIcon::activated, this,
            [bringUp](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    bringUp();
            });
    tray_->setToolTip(windowTitle());
    tray_->show();
}

void CSessionDlg::ScrollPanes() {
    scrolling_ = true;
    if (autoScroll_->isChecked()) {
        messages_->verticalScrollBar()->setValue(messages_->verticalScrollBar()->maximum());
        chatText_->ScrollToEnd();
    } else {
        messages_->verticalScrollBar()->setValue(messageTop_);
        chatText_->ScrollTo(chatTop_);
    }
    scrolling_ = false;
}

void CSessionDlg::OnAutoScrollClicked() {
    if (autoScroll_->isChecked()) {
        ScrollPanes();
        return;
    }
    messageTop_ = messages_->document()->blockCount();
    chatTop_ = chatText_->End();
}

void CSessionDlg::RefreshMembers() {
    if (Deferred(REFRESH_MEMBERS))
        return;
    const Session& s = core_.session();
    members_->clear();
    const std::vector<std::string> items = MemberItems(s);
    QList<QTreeWidgetItem*> rows;
    for (std::size_t k = 0; k < items.size(); ++k) {
        auto* row = new QTreeWidgetItem;
        row->setText(0, ToScreen(items[k]));
        if (k > 0) {
            if (const Buddy* member = s.PresentAt(static_cast<std::uint16_t>(k))) {
                row->setText(1, QString::number(member->id));
                row->setText(2, QString::fromStdString(FormatClock(member->joinTime)));
            }
            row->setTextAlignment(1, Qt::AlignCenter);
            row->setTextAlignment(2, Qt::AlignCenter);
        }
        rows.append(row);
    }
    members_->addTopLevelItems(rows);
    // The target field names a member of this roster: a rename, a departure or the end of the
    // session changes it as well.
    RefreshTarget();
    RefreshManagement();
}

void CSessionDlg::RefreshTarget() {
    if (Deferred(REFRESH_TARGET))
        return;
    target_->setText(ToScreen(TargetText(core_.session())));
}

void CSessionDlg::RefreshTitle() {
    if (Deferred(REFRESH_TITLE))
        return;
    QString title = ToScreen(TitleText(core_.session(), core_.recorder().state));
    if (unread_ > 0)
        title = QStringLiteral("(%1) ").arg(unread_) + title;
    setWindowTitle(title);
    if (tray_ != nullptr)
        tray_->setToolTip(title);
}

void CSessionDlg::RefreshCommands() {
    const Session& s = core_.session();
    leaveButton_->setText(Utf8(s.inSession && s.isHost ? "关闭会话" : "退出会话"));
    sleepButton_->setText(Utf8(s.asleep ? "回到会话" : "离开一会"));
}

void CSessionDlg::SetWindowMode(WindowMode mode) {
    mode_ = mode;
    const bool loaded = mode == WindowMode::ReplayLoaded;
    showReplayWindow_->setEnabled(loaded);
    for (int id : REPLAY_ITEMS)
        actions_.at(id)->setEnabled(loaded);
}

void CSessionDlg::SetJoinTimer(bool running) {
    joinTicker_.Set(running);
}

// --- the replay ---

void CSessionDlg::SyncReplayControls() {
    const bool open = replayDlg_ != nullptr;
    actions_.at(ID_REPLAY_WINDOW)->setChecked(open);
    showReplayWindow_->setChecked(open);
    actions_.at(ID_PAUSE)->setChecked(core_.recorder().state != ReplayState::Playing);
    for (const auto& [id, speed] : SPEED_ITEMS)
        actions_.at(id)->setChecked(core_.recorder().speed == speed);
}

void CSessionDlg::OpenReplayWindow() {
    replayDlg_ = new CReplayDlg(core_, this);
    connect(replayDlg_, &CReplayDlg::openRecordingRequested, this, &CSessionDlg::OnOpenRecording);
    connect(replayDlg_, &CReplayDlg::played, this, [this] {
        SyncReplayControls();
        RefreshTitle();
    });
    connect(replayDlg_, &CReplayDlg::closed, this, &CSessionDlg::ForgetReplayWindow);
    replayDlg_->ResetReplay();
}

void CSessionDlg::ForgetReplayWindow() {
    if (replayDlg_ == nullptr)
        return;
    replayDlg_->hide();
    replayDlg_->deleteLater();
    replayDlg_ = nullptr;
    SyncReplayControls();
}

void CSessionDlg::OnToggleReplayWindow() {
    // Reachable only while a recording is loaded; a stray click does nothing else.
    if (replayDlg_ != nullptr)
        ForgetReplayWindow();
    else if (mode_ == WindowMode::ReplayLoaded)
        OpenReplayWindow();
    SyncReplayControls();
}

void CSessionDlg::ReplayLoaded() {
    if (replayDlg_ == nullptr)
        OpenReplayWindow();
    else
        replayDlg_->ResetReplay();
    SyncReplayControls();
}

void CSessionDlg::ReplayChanged() {
    SyncReplayControls();
    if (replayDlg_ == nullptr)
        return;
    if (core_.recorder().state == ReplayState::NoReplay) {
        ForgetReplayWindow();
        return;
    }
    replayDlg_->ShowPosition(core_.recorder().log.cursor);
    replayDlg_->UpdateControls();
}

void CSessionDlg::OnOpenRecording() {
    core_.commands().OpenRecording();
}

void CSessionDlg::OnHistoryProperties() {
    if (!core_.commands().HistoryPropertiesBegin())
        return;
    CHistoryPropsDlg properties(core_.recorder().log.header, this);
    dialogs_.Run(properties);
}

void CSessionDlg::OnManageHistory() {
    HistoryWindow history(core_, prompter_, openUrl, HistoryFolders(), this);
    dialogs_.Run(history);
}

void CSessionDlg::OnSaveTranscript() {
    core_.commands().SaveTranscript();
}

void CSessionDlg::OnOpenText() {
    core_.commands().OpenTextRecord();
}

void CSessionDlg::OnPause() {
    core_.replay().TogglePause();
    RefreshTitle();
    SyncReplayControls();
    if (replayDlg_ != nullptr)
        replayDlg_->UpdateControls();
}

void CSessionDlg::OnSpeed(std::uint16_t speed) {
    core_.replay().SetSpeed(speed);
    SyncReplayControls();
}

// --- the member list ---

void CSessionDlg::SelectTarget(int item) {
    if (item >= 0 && item <= core_.session().GetBuddyCount())
        core_.commands().ChooseTarget(item);
}

void CSessionDlg::OnMemberClicked(QTreeWidgetItem* item) {
    if (item != nullptr)
        SelectTarget(members_->indexOfTopLevelItem(item));
}

void CSessionDlg::OnMemberDrop(QDropEvent& drop) {
    drop.acceptProposedAction();
    const QList<QUrl> urls = drop.mimeData()->urls();
    const QString path =
        urls.size() == 1 && urls.front().isLocalFile() ? urls.front().toLocalFile() : QString();
    if (path.isEmpty() || QFileInfo(path).isDir()) {
        prompter_.Inform(Notice::Refused, "无法传输文件",
                         "一次只能传输一个文件，请把单个文件(不是文件夹)拖到成员上。",
                         BoxIcon::Information);
        return;
    }
    // The member dropped on becomes the target, as a click makes it; the offer's own checks
    // and boxes follow (nobody, the own member, a transfer under way).
    QTreeWidgetItem* item = members_->itemAt(drop.position().toPoint());
    SelectTarget(item != nullptr ? members_->indexOfTopLevelItem(item) : 0);
    core_.commands().OfferFileAt(path.toStdString());
}

void CSessionDlg::OnMemberMenuRequested(const QPoint& position) {
    QTreeWidgetItem* item = members_->itemAt(position);
    if (item == nullptr)
        return;
    members_->setCurrentItem(item);
    SelectTarget(members_->indexOfTopLevelItem(item));
    if (core_.session().target != 0)
        memberMenu_->popup(members_->viewport()->mapToGlobal(position));
}

// --- commands ---

void CSessionDlg::OnCreate() {
    Commands& commands = core_.commands();
    if (!commands.CreateBegin())
        return;
    const CreateDialogStart start = commands.CreateDialogValues();
    CreateSessionDialog create(start.hostAddress, start.port, this);
    if (dialogs_.Run(create) != QDialog::Accepted) {
        commands.CreateCancel();
        return;
    }
    HostInfoDialog details(
        start.leaderName, start.topic,
        [&commands](const std::string& name, const std::string& topic) {
            return commands.ValidateHostDetails(name, topic);
        },
        this);
    if (dialogs_.Run(details) != QDialog::Accepted) {
        commands.CreateCancel();
        return;
    }
    commands.CreateFinish(details.Name(), details.Topic());
}

void CSessionDlg::OnJoin() {
    Join(std::nullopt);
}

void CSessionDlg::OnSearch() {
    if (const auto found = RunSearch())
        Join(found);
}

std::optional<SessionFound> CSessionDlg::RunSearch() {
    SearchDialog search(*searchSource_, {link_.Options().port}, this);
    if (dialogs_.Run(search) != QDialog::Accepted)
        return std::nullopt;
    return search.Chosen();
}

void CSessionDlg::Join(const std::optional<SessionFound>& found) {
    Commands& commands = core_.commands();
    if (!commands.JoinBegin())
        return;
    JoinSessionDialog join(
        commands.ProposedJoinName(),
        [&commands](const JoinRequest& request) { return commands.ValidateJoinName(request.name); },
        [this] { return RunSearch(); }, this);
    if (found)
        join.Prefill(*found);
    if (dialogs_.Run(join) != QDialog::Accepted) {
        commands.JoinCancel();
        return;
    }
    commands.JoinFinish(join.Request());
}

void CSessionDlg::OnLeave() {
    core_.commands().Leave();
}

void CSessionDlg::OnSleep() {
    core_.commands().SleepOrWake();
}

void CSessionDlg::OnRename() {
    Commands& commands = core_.commands();
    if (!commands.RenameBegin())
        return;
    RenameDialog rename(
        [&commands](const std::string& name) { return commands.ValidateRename(name); }, this);
    if (dialogs_.Run(rename) == QDialog::Accepted)
        commands.RenameFinish(rename.Name());
}

void CSessionDlg::OnOffer() {
    core_.commands().OfferFile();
}

void CSessionDlg::OnSend() {
    SendInput input;
    input.text = FromScreen(input_->text());
    input.asNotice = asNotice_->isChecked();
    input.whisper = whisper_->isChecked();
    // A replay leaves the input as it is, even its blanks.
    if (core_.recorder().state != ReplayState::NoReplay)
        return;
    const SendOutcome outcome = core_.commands().Send(input);
    input_->setText(ToScreen(outcome.text));
    asNotice_->setChecked(outcome.asNotice);
}

void CSessionDlg::OnClear() {
    core_.commands().Clear();
}

void CSessionDlg::OnManage() {
    MemberCommands& members = core_.members();
    if (!members.Begin())
        return;
    ManagementDialog management(members, this);
    management_ = &management;
    dialogs_.Run(management);
    management_ = nullptr;
}

void CSessionDlg::RefreshManagement() {
    // Many changes of one turn of the event loop make one rebuild.
    if (management_ == nullptr || managementDue_)
        return;
    managementDue_ = true;
    QTimer::singleShot(0, this, [this] {
        managementDue_ = false;
        if (management_ != nullptr)
            management_->Rebuild();
    });
}

void CSessionDlg::OnFind() {
    findBar_->Open();
}

void CSessionDlg::OnSettings() {
    Commands& commands = core_.commands();
    SettingsDialog settings(
        commands.OpenSettings(),
        [&commands](const SettingsValues& values) { return commands.ValidateSettings(values); },
        this);
    if (dialogs_.Run(settings) == QDialog::Accepted)
        commands.ApplySettings(settings.Values());
}

void CSessionDlg::OnStatus() {
    if (!core_.session().inSession) {
        prompter_.Inform(Notice::Refused, "查看会话状态",
                         "目前您没有参与任何会话。您可以通过创建一个新的会话或者加入一个已有的"
                         "会话来参与讨论.",
                         BoxIcon::Information);
        return;
    }
    StatusDialog status(core_.session(), link_.Code(), this);
    dialogs_.Run(status);
}

void CSessionDlg::OnMemberInfo() {
    // The member may have left while the pop-up menu was open.
    const Session& s = core_.session();
    const Buddy* member = s.PresentAt(s.target);
    if (member == nullptr)
        return;
    MemberInfoDialog info(*member, clock_.Now(), this);
    dialogs_.Run(info);
}

void CSessionDlg::OnSaveRecording() {
    core_.commands().SaveRecording();
}

void CSessionDlg::OnHelp() {
    HelpDialog help(this);
    dialogs_.Run(help);
}

void CSessionDlg::OnAbout() {
    AboutDialog about(this);
    dialogs_.Run(about);
}

void CSessionDlg::OnHomePage() {
    openUrl(HomePage());
}

void CSessionDlg::OnRecommend() {
    RecommendDialog recommend(prompter_, openUrl, this);
    dialogs_.Run(recommend);
}

bool CSessionDlg::ExitPrompt() {
    const Session& s = core_.session();
    const char* question = !s.inSession ? "您确认要退出网络会话(Kolvena)吗?"
                           : s.unsaved ? "您确认要退出网络会话(Kolvena)吗? (未保存会话记录!)"
                                       : "您确认要退出网络会话(Kolvena)吗? 目前你正在参与会话.";
    return prompter_.Ask(Question::ExitProgram, "退出Kolvena?", question, BoxButtons::YesNo,
                         BoxIcon::Question) == BoxAnswer::Yes;
}

void CSessionDlg::closeEvent(QCloseEvent* event) {
    if (!ExitPrompt()) {
        event->ignore();
        return;
    }
    // No packet is sent: the members learn of the departure when the connections close.
    joinTicker_.Set(false);
    link_.Shutdown();
    event->accept();
}

bool CSessionDlg::event(QEvent* event) {
    // A paint shows the session as it stands, unless a frame is due: then it shows the
    // session of the last frame, and the due frame follows within FRAME_MS. A paint is due after
    // each frame, once the chat's picture is made; doing the display work again there for the
    // few lines that came meanwhile took as long as the frame's own and held up their relay.
    if (event->type() == QEvent::UpdateRequest && !frame_.isActive())
        ShowNow();
    return QMainWindow::event(event);
}

void CSessionDlg::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if ((event->type() == QEvent::ActivationChange || event->type() == QEvent::WindowStateChange) &&
        isSeen())
        Seen();
}

bool CSessionDlg::eventFilter(QObject* watched, QEvent* event) {
    if (members_ != nullptr && watched == members_->viewport()) {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (drag->mimeData()->hasUrls())
                drag->acceptProposedAction();
            else
                drag->ignore();
            return true;
        }
        case QEvent::Drop:
            OnMemberDrop(*static_cast<QDropEvent*>(event));
            return true;
        default:
            break;
        }
    }
    if (watched == centralWidget() && event->type() == QEvent::Resize) {
        LayOutAll();
        return false;
    }
    // Escape never closes the window nor clears the input.
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
        return true;
    return QMainWindow::eventFilter(watched, event);
}

// --- file transfer ---

void CSessionDlg::OpenProgress(const std::string& fileLine, std::uint32_t chunks,
                               std::uint64_t size) {
    // An earlier window may still be waiting for its give-up question to close.
    if (transferWindow_ != nullptr)
        transferWindow_->Dismiss();
    transferWindow_ = new TransferProgressDialog(prompter_, this);
    connect(transferWindow_, &TransferProgressDialog::giveUpConfirmed, this,
            [this] { transfers_.GiveUp(); });
    transferWindow_->Prepare(fileLine, chunks, size);
}

void CSessionDlg::ShowProgress(std::uint32_t chunk, std::uint32_t chunks, double percent) {
    if (transferWindow_ != nullptr)
        transferWindow_->Step(chunk, chunks, percent);
}

void CSessionDlg::Saved(const std::string& path) {
    core_.commands().Note(FromScreen(QString::fromStdString("-->> 文件已保存: " + path)));
}

void CSessionDlg::CloseProgress() {
    if (transferWindow_ != nullptr)
        transferWindow_->Dismiss();
    transferWindow_ = nullptr;
}

} // namespace kolvena::ui
