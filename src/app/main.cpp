#include <QApplication>
#include <QLabel>

// Until the main window exists, the program shows a placeholder that says so.
int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Kolvena v1.0 未与会话连接\n\n"
                                "主窗口尚在建设中：目前只有会话核心库与测试。\n"
                                "(The main window is not built yet; this is a placeholder.)"));
    label.setWindowTitle(QStringLiteral("Kolvena v1.0 未与会话连接"));
    label.setMargin(24);
    label.show();
    return app.exec();
}
