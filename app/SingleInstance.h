#pragma once
// One window per session for files opened from outside: a second
// `velumo FILE...` hands its files to the window already open and ends.
//
// The window that runs first owns kServiceName on the session bus and
// answers OpenFiles on kObjectPath (interface kInterface):
//   OpenFiles(ay paths) -> b
// paths are absolute file paths as the file system's bytes, each ended by a
// NUL byte (a path cannot hold one, and need not be UTF-8 as a D-Bus string
// must). The window adds and plays them as `velumo FILE...` does
// (addAndPlay), after the reply. The answer is false, and nothing done,
// when no path is absolute: a relative path would be read against the
// wrong folder.
//
// Without a session bus, or with no window answering, the second program
// opens its own window.
//
// User-interface thread only.

#include <QByteArray>
#include <QDBusConnection>
#include <QObject>

#include <memory>
#include <string>
#include <vector>

class MainWindow;

class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.velumo.Velumo")

  public:
    static constexpr const char* kServiceName = "io.github.velumo.Velumo";
    static constexpr const char* kObjectPath = "/io/github/velumo/Velumo";
    static constexpr const char* kInterface = "io.github.velumo.Velumo";
    // How long a second program waits for the running window's answer, in
    // milliseconds, before it opens its own.
    static constexpr int kAnswerTimeoutMs = 10000;

    // Answers for window on the session bus, when there is one and no other
    // window owns the name yet; otherwise the object does nothing.
    static std::unique_ptr<SingleInstance> startOnSessionBus(MainWindow& window);
    SingleInstance(MainWindow& window, const QDBusConnection& connection);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Whether this window owns the name.
    bool registered() const { return owned; }

    // The second program's side: true when a running window took paths
    // (absolute); false without a bus, without such a window, or when it
    // did not answer in time.
    static bool handOver(const std::vector<std::string>& paths);

    // The message body for paths, and back.
    static QByteArray encodePaths(const std::vector<std::string>& paths);
    static std::vector<std::string> decodePaths(const QByteArray& bytes);

  public slots:
    Q_SCRIPTABLE bool OpenFiles(const QByteArray& paths);

  private:
    MainWindow& window;
    QDBusConnection bus;
    bool owned = false;
};
