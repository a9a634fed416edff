#include "app/SingleInstance.h"

#include "app/MainWindow.h"
#include "app/OpenedFiles.h"
#include "app/SessionBus.h"

#include <QDBusMessage>
#include <QTimer>

std::unique_ptr<SingleInstance> SingleInstance::startOnSessionBus(MainWindow& window) {
    if (!sessionBusConfigured()) {
        return std::make_unique<SingleInstance>(window,
                                                QDBusConnection(QStringLiteral("velumo-no-bus")));
    }
    return std::make_unique<SingleInstance>(window, QDBusConnection::sessionBus());
}

SingleInstance::SingleInstance(MainWindow& target, const QDBusConnection& connection)
    : window(target), bus(connection) {
    if (!bus.isConnected()) {
        return;
    }
    // The object first: a program that sees the name finds it at once.
    if (!bus.registerObject(QString::fromLatin1(kObjectPath), this,
                            QDBusConnection::ExportScriptableSlots)) {
        return;
    }
    if (!bus.registerService(QString::fromLatin1(kServiceName))) {
        // Another window answers already (this one was started without
        // files while it ran): it keeps the name.
        bus.unregisterObject(QString::fromLatin1(kObjectPath));
        return;
    }
    owned = true;
}

SingleInstance::~SingleInstance() {
    if (owned) {
        bus.unregisterService(QString::fromLatin1(kServiceName));
        bus.unregisterObject(QString::fromLatin1(kObjectPath));
    }
}

QByteArray SingleInstance::encodePaths(const std::vector<std::string>& paths) {
    QByteArray bytes;
    for (const std::string& path : paths) {
        bytes.append(path.data(), static_cast<qsizetype>(path.size()));
        bytes.append('\0');
    }
    return bytes;
}

std::vector<std::string> SingleInstance::decodePaths(const QByteArray& bytes) {
    std::vector<std::string> paths;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\0', start);
        if (end < 0) {
            end = bytes.size(); // a last path without its NUL still counts
        }
        if (end > start && bytes[start] == '/') {
            paths.emplace_back(bytes.constData() + start, static_cast<size_t>(end - start));
        }
        start = end + 1;
    }
    return paths;
}

bool SingleInstance::OpenFiles(const QByteArray& paths) {
    std::vector<std::string> files = decodePaths(paths);
    if (files.empty()) {
        return false;
    }
    // After the reply: adding many files runs the window's events under a
    // progress dialog, and the caller is waiting only for the answer.
    QTimer::singleShot(0, this, [this, files = std::move(files)] {
        window.raise();
        window.activateWindow();
        addAndPlay(window, files);
    });
    return true;
}

bool SingleInstance::handOver(const std::vector<std::string>& paths) {
    if (paths.empty() || !sessionBusConfigured()) {
        return false;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kServiceName), QString::fromLatin1(kObjectPath),
        QString::fromLatin1(kInterface), QStringLiteral("OpenFiles"));
    call << encodePaths(paths);
    call.setAutoStartService(false);
    // No window owns the name: the bus answers with an error at once.
    const QDBusMessage reply = bus.call(call, QDBus::Block, kAnswerTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1 &&
           reply.arguments().front().toBool();
}
