#pragma once

#include <QObject>
#include <QStandardPaths>
#include <QString>
#include <QTimer>
#include <functional>
#include <string>
#include <utility>

#include "record/history_keeper.h"

namespace kolvena {

// The history keeper's one-shot timer on the Qt event loop.
class QtHistoryTimer final : public HistoryTimer {
public:
    QtHistoryTimer() {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (fired_)
                fired_();
        });
    }
    // What a shot does: the keeper's OnTimer.
    void OnFire(std::function<void()> fired) { fired_ = std::move(fired); }
    void Start(int milliseconds) override { timer_.start(milliseconds); }
    void Stop() override { timer_.stop(); }

private:
    QTimer timer_;
    std::function<void()> fired_;
};

// Where the window keeps its history: the application's data folder + "/history"
// (~/.local/share/Kolvena/history on Linux). Needs the application's name set.
inline std::string HistoryFolder() {
    return (QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
            QStringLiteral("/history"))
        .toStdString();
}

} // namespace kolvena
