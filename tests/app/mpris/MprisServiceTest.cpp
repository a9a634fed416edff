// The window as a media player on a real session bus, driven by the
// desktop's own clients (playerctl, gdbus) as separate processes while the
// window's event loop runs. Each test starts a private bus daemon. What is
// heard goes to SDL's disk driver, so that a client's Play, Pause, Next and
// Previous are checked in the audio itself: two tones of different pitch
// tell the items apart.

#include "app/WindowFixture.h"

#include "app/mpris/MprisService.h"
#include "controls/TransparentSlider.h"
#include "playlist/StoredList.h"
#include "support/SessionBus.h"
#include "support/TaggedMedia.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDialog>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <thread>

using namespace window_test;
using testing_support::catchesSignal;
using testing_support::PrivateSessionBus;
using testing_support::readFileBytes;
using testing_support::writeFileBytes;
using testing_support::writeWave;

namespace {

constexpr int kBytesPerSecond = 44100 * 2; // the disk file: 16-bit mono

// The dominant pitch of the last quarter second written to a disk file of
// 16-bit mono, from its sign changes; 0 when silent or shorter.
double recentPitch(const std::string& path) {
    const std::vector<uint8_t> bytes = readFileBytes(path);
    constexpr size_t kSpan = kBytesPerSecond / 4;
    if (bytes.size() < kSpan + 4) {
        return 0.0;
    }
    const size_t from = (bytes.size() - kSpan) & ~size_t{1};
    int changes = 0;
    bool loud = false;
    int previous = 0;
    for (size_t at = from; at + 2 <= bytes.size(); at += 2) {
        const int sample = static_cast<int16_t>(bytes[at] | (bytes[at + 1] << 8));
        loud = loud || std::abs(sample) > 1000;
        if ((sample >= 0) != (previous >= 0)) {
            ++changes;
        }
        previous = sample;
    }
    return loud ? changes / 2.0 * 4.0 : 0.0;
}

bool near(double hz, double wanted) {
    return std::abs(hz - wanted) < wanted * 0.1;
}

class MprisTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        for (const char* tool : {"dbus-daemon", "playerctl", "gdbus"}) {
            ASSERT_FALSE(QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                << tool << " is not installed";
        }
        privateBus = std::make_unique<PrivateSessionBus>();
        ASSERT_TRUE(privateBus->ok()) << "dbus-daemon did not start";
        connectionName = QStringLiteral("mpris-test-%1").arg(++connections);
        bus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(busAddress(), connectionName));
        ASSERT_TRUE(bus->isConnected());
    }

    void TearDown() override {
        service.reset();
        bus.reset();
        QDBusConnection::disconnectFromBus(connectionName);
        WindowTest::TearDown();
        privateBus.reset();
    }

    MprisService& startService() {
        service = std::make_unique<MprisService>(window(), *bus);
        return *service;
    }

    QString busAddress() const { return QString::fromStdString(privateBus->busAddress()); }

    QProcessEnvironment busEnvironment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress());
        return environment;
    }

    // Runs a client to its end while the window's event loop goes on, and
    // returns its standard output without the final newline; a client that
    // failed adds its error output.
    std::string client(const std::string& program, const std::vector<std::string>& arguments) {
        QStringList list;
        for (const std::string& argument : arguments) {
            list << QString::fromStdString(argument);
        }
        QProcess process;
        process.setProcessEnvironment(busEnvironment());
        process.start(QString::fromStdString(program), list);
        EXPECT_TRUE(waitFor([&] { return process.state() == QProcess::NotRunning; }, 15000))
            << program << " " << list.join(QLatin1Char(' ')).toStdString();
        std::string output =
            QString::fromUtf8(process.readAllStandardOutput()).trimmed().toStdString();
        if (process.exitCode() != 0) {
            output += " [failed: " + process.readAllStandardError().trimmed().toStdString() + "]";
        }
        return output;
    }
    std::string playerctl(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"-p", "velumo"});
        return client("playerctl", arguments);
    }
    std::string gdbusCall(const std::string& method, std::vector<std::string> arguments = {}) {
        arguments.insert(arguments.begin(),
                         {"call", "--session", "--dest", MprisService::kServiceName,
                          "--object-path", MprisService::kObjectPath, "--method", method});
        return client("gdbus", arguments);
    }

    std::string status() { return labelText(kIdStatus); }

    std::unique_ptr<PrivateSessionBus> privateBus;
    std::unique_ptr<QDBusConnection> bus;
    std::unique_ptr<MprisService> service;
    QString connectionName;
    static inline int connections = 0;
};

// The transport of playerctl moves the audio as the window's buttons do,
// the metadata and capabilities follow the loaded item, the volume is the
// slider's both ways, the repeat button is the loop status, and every
// change is announced with PropertiesChanged.
TEST_F(MprisTest, ClientsDriveThePlayerAndHearTheChanges) {
    const std::string low = writeWave(dir.file("low tone.wav"), 1, 44100, 20.0, 440.0);
    const std::string high = writeWave(dir.file("high.wav"), 1, 44100, 20.0, 1760.0);
    const std::string heard = dir.file("heard.raw");
    useAudioDriver("disk", heard.c_str());
    ASSERT_EQ(window().addFiles({low, high}), 2);
    EXPECT_EQ(startService().busName().toStdString(), MprisService::kServiceName);

    QProcess monitor;
    monitor.setProcessEnvironment(busEnvironment());
    monitor.start(QStringLiteral("gdbus"),
                  {QStringLiteral("monitor"), QStringLiteral("--session"), QStringLiteral("--dest"),
                   QString::fromLatin1(MprisService::kServiceName), QStringLiteral("--object-path"),
                   QString::fromLatin1(MprisService::kObjectPath)});
    ASSERT_TRUE(waitFor([&] { return monitor.canReadLine(); }));

    EXPECT_EQ(playerctl({"status"}), "Stopped");
    EXPECT_EQ(playerctl({"metadata", "mpris:trackid"}),
              "'" + std::string(MprisService::kNoTrack) + "'");

    playerctl({"play"});
    EXPECT_TRUE(waitFor([&] { return status() == "Playing" && near(recentPitch(heard), 440); }))
        << status() << " " << recentPitch(heard);
    const std::string format = "{{mpris:trackid}}|{{xesam:title}}|{{mpris:length}}|{{xesam:url}}";
    const std::string lowUrl =
        "file://" + QUrl::toPercentEncoding(QString::fromStdString(low), "/").toStdString();
    EXPECT_EQ(playerctl({"metadata", "--format", format}),
              "'" + std::string(MprisService::kTrackPathPrefix) + "1'|low tone.wav|20000000|" +
                  lowUrl);
    EXPECT_NE(lowUrl.find("low%20tone.wav"), std::string::npos);

    // Paused: what follows is silence, and the item stays.
    playerctl({"pause"});
    ASSERT_TRUE(waitFor([&] { return status() == "Paused"; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    QCoreApplication::processEvents();
    const size_t pausedAt = readFileBytes(heard).size();
    waitFor([] { return false; }, 400);
    const std::vector<uint8_t> afterPause = readFileBytes(heard);
    EXPECT_TRUE(std::all_of(afterPause.begin() + static_cast<std::ptrdiff_t>(pausedAt),
                            afterPause.end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(playerctl({"status"}), "Paused");

    playerctl({"play-pause"});
    EXPECT_TRUE(waitFor([&] { return status() == "Playing" && near(recentPitch(heard), 440); }));

    // Next: the second tone, a new track id, and no item after it.
    EXPECT_EQ(playerctl({"metadata", "--format", "{{mpris:trackid}}"}), "'/org/velumo/track/1'");
    playerctl({"next"});
    EXPECT_TRUE(waitFor([&] { return near(recentPitch(heard), 1760); })) << recentPitch(heard);
    EXPECT_EQ(playerctl({"metadata", "--format", "{{mpris:trackid}} {{xesam:title}} {{status}}"}),
              "'/org/velumo/track/2' high.wav Playing");
    EXPECT_EQ(gdbusCall("org.freedesktop.DBus.Properties.Get",
                        {MprisService::kPlayerInterface, "CanGoNext"}),
              "(<false>,)");

    playerctl({"previous"});
    EXPECT_TRUE(waitFor([&] { return near(recentPitch(heard), 440); })) << recentPitch(heard);
    EXPECT_EQ(window().currentIndex, 0);

    // SetPosition and Seek take the position slider's path.
    playerctl({"position", "7"});
    EXPECT_TRUE(waitFor([&] { return window().elapsedSeconds >= 7.0; }));
    EXPECT_LT(window().elapsedSeconds, 9.0);
    playerctl({"position", "5+"});
    EXPECT_TRUE(waitFor([&] { return window().elapsedSeconds >= 12.0; }))
        << window().elapsedSeconds;
    EXPECT_LT(window().elapsedSeconds, 14.0);
    EXPECT_NEAR(std::stod(playerctl({"position"})), window().elapsedSeconds, 1.0);

    playerctl({"play-pause"});
    EXPECT_TRUE(waitFor([&] { return status() == "Paused"; }));
    playerctl({"play-pause"});
    EXPECT_TRUE(waitFor([&] { return status() == "Playing"; }));
    playerctl({"stop"});
    EXPECT_TRUE(waitFor([&] { return status() == "Stopped"; }));

    // The volume is the slider's, whichever side moves it.
    playerctl({"volume", "0.25"});
    EXPECT_TRUE(waitFor([&] { return window().volumeSlider->value() == 16384; }))
        << window().volumeSlider->value();
    EXPECT_EQ(window().volume, 16384);
    window().volumeSlider->setValue(49151);
    EXPECT_NEAR(std::stod(playerctl({"volume"})), 0.75, 0.001);

    // The loop status is the repeat button.
    playerctl({"loop", "Track"});
    EXPECT_EQ(window().repeatMode, kRepeatOne);
    playerctl({"loop", "Playlist"});
    EXPECT_EQ(window().repeatMode, kRepeatAll);
    EXPECT_EQ(playerctl({"loop"}), "Playlist");

    waitFor([] { return false; }, 300);
    monitor.terminate();
    monitor.waitForFinished(5000);
    const std::string announced = QString::fromUtf8(monitor.readAll()).toStdString();
    for (const char* change : {"'PlaybackStatus': <'Playing'>", "'PlaybackStatus': <'Paused'>",
                               "'PlaybackStatus': <'Stopped'>", "'xesam:title': <'high.wav'>",
                               "'mpris:trackid': <objectpath '/org/velumo/track/3'>",
                               "'Volume': <0.250", "'Volume': <0.749", "'LoopStatus': <'Track'>",
                               "'CanGoNext': <true>", "'CanSeek': <true>"}) {
        EXPECT_NE(announced.find(change), std::string::npos) << change << "\n" << announced;
    }
}

// The player's identity, Raise and Quit; a file name that is not UTF-8
// keeps its bytes in the URL; a second player takes a name of its own.
TEST_F(MprisTest, RootInterfaceRaisesQuitsAndSharesTheBus) {
    useAudioDriver("dummy");
    // Another Velumo already holds the usual name.
    const QString otherName = connectionName + QStringLiteral("-other");
    {
        QDBusConnection other = QDBusConnection::connectToBus(busAddress(), otherName);
        ASSERT_TRUE(other.registerService(QString::fromLatin1(MprisService::kServiceName)));
        const QString own = QString::fromLatin1(MprisService::kServiceName) +
                            QStringLiteral(".instance") +
                            QString::number(QCoreApplication::applicationPid());
        EXPECT_EQ(startService().busName(), own);
        const std::string players = client("playerctl", {"--list-all"});
        EXPECT_NE(players.find(own.mid(23).toStdString()), std::string::npos) << players;
        service.reset();
        other.unregisterService(QString::fromLatin1(MprisService::kServiceName));
    }
    QDBusConnection::disconnectFromBus(otherName);
    EXPECT_EQ(startService().busName().toStdString(), MprisService::kServiceName);

    const std::string root =
        gdbusCall("org.freedesktop.DBus.Properties.GetAll", {"org.mpris.MediaPlayer2"});
    for (const char* property :
         {"'Identity': <'Velumo'>", "'DesktopEntry': <'io.github.velumo.Velumo'>",
          "'CanQuit': <true>", "'CanRaise': <true>", "'HasTrackList': <false>",
          "'SupportedUriSchemes': <['file']>", "'audio/mpeg'"}) {
        EXPECT_NE(root.find(property), std::string::npos) << property << "\n" << root;
    }

    // A Latin-1 name, loaded directly: its URL carries the byte itself.
    const std::string latin = writeWave(dir.file("caf\xe9 100%.wav"), 2, 44100, 1.0);
    const std::string latinUrl =
        "file://" +
        QUrl::toPercentEncoding(QString::fromStdString(dir.path().string()), "/").toStdString() +
        "/caf%E9%20100%25.wav";
    ASSERT_EQ(window().loadFile(latin, "caf\xe9"), 0);
    EXPECT_EQ(playerctl({"metadata", "xesam:url"}), latinUrl);
    window().emptyPlayer();
    EXPECT_EQ(gdbusCall("org.freedesktop.DBus.Properties.Get",
                        {"org.mpris.MediaPlayer2.Player", "Metadata"}),
              "(<{'mpris:trackid': <objectpath '" + std::string(MprisService::kNoTrack) + "'>}>,)");

    ASSERT_FALSE(window().isVisible());
    gdbusCall("org.mpris.MediaPlayer2.Raise");
    EXPECT_TRUE(waitFor([&] { return window().isVisible(); }));

    // OpenUri adds the file, its bytes decoded, and plays it.
    gdbusCall("org.mpris.MediaPlayer2.Player.OpenUri", {latinUrl});
    EXPECT_TRUE(waitFor([&] { return status() == "Playing"; })) << status();
    EXPECT_EQ(rowCount(), 1);
    const std::string listPath = window().programFiles().storedListPath();
    std::filesystem::remove(listPath);
    gdbusCall("org.mpris.MediaPlayer2.Quit");
    EXPECT_TRUE(waitFor([&] { return !window().isVisible(); }));
    const StoredListDecoding stored = decodeStoredList(readFileBytes(listPath));
    ASSERT_EQ(stored.rows.size(), 1U);
    EXPECT_EQ(stored.rows[0][4], latin);
}

// The loaded file's tags are its metadata on the bus and the title line's
// tooltip, while the title line and the list keep the row's text; a file
// without tags keeps its name as the title. Tag bytes that are not UTF-8
// reach the bus as text, and tags that look like markup show as written.
TEST_F(MprisTest, TagsReachTheMetadataAndTheTitlesTooltip) {
    if (!testing_support::haveFfmpeg()) {
        GTEST_SKIP() << "the ffmpeg tool is not installed";
    }
    using testing_support::makeTaggedFile;
    useAudioDriver("dummy");
    startService();
    const std::string tagged = dir.file("tagged \xff.mp3");
    ASSERT_TRUE(makeTaggedFile(tagged, {}, {"Song <b>one</b>", "Band & Co", "Rec\xc3\xb6rd"}));
    const std::string odd = dir.file("odd.wav");
    ASSERT_TRUE(makeTaggedFile(odd, {}, {"XXXX", "Y", ""}));
    ASSERT_TRUE(testing_support::replaceInFile(odd, "XXXX", "\xff\xfe\x01Z"));
    const std::string plain = writeWave(dir.file("plain.wav"), 1, 44100, 1.0);

    const struct {
        std::string path;
        std::string row; // the list's title of the item
        std::string metadata;
        std::string toolTip;
    } items[] = {
        {tagged, "tagged \xff.mp3", "Song <b>one</b>|Band & Co|Rec\xc3\xb6rd",
         "<p>Title: Song &lt;b&gt;one&lt;/b&gt;<br>Artist: Band &amp; Co<br>Album: "
         "Rec\xc3\xb6rd</p>"},
        {odd, "odd.wav", "\xc3\xbf\xc3\xbe Z|Y|", "<p>Title: \xc3\xbf\xc3\xbe Z<br>Artist: Y</p>"},
        {plain, "plain.wav", "plain.wav||", ""},
    };
    auto* titleLine = qobject_cast<QLabel*>(window().control(kIdTitle));
    ASSERT_NE(titleLine, nullptr);
    for (const auto& item : items) {
        SCOPED_TRACE(item.row);
        ASSERT_EQ(window().loadFile(item.path, item.row), 0);
        EXPECT_EQ(
            playerctl({"metadata", "--format", "{{xesam:title}}|{{xesam:artist}}|{{xesam:album}}"}),
            item.metadata);
        EXPECT_EQ(labelText(kIdTitle), QString::fromStdString(item.row).toStdString());
        EXPECT_EQ(window().title(), item.row);
        EXPECT_EQ(titleLine->toolTip().toStdString(), item.toolTip);
    }
    // The artists are a list of strings; the bus still serves the window.
    ASSERT_EQ(window().loadFile(tagged, "tagged"), 0);
    EXPECT_NE(gdbusCall("org.freedesktop.DBus.Properties.Get",
                        {MprisService::kPlayerInterface, "Metadata"})
                  .find("'xesam:artist': <['Band & Co']>"),
              std::string::npos);
}

// A held media key on an item that cannot play: each PlayPause would show
// "Fault to open audio file!", and a call handled inside that box's event
// loop would open the next box above it. One box at a time; the calls that
// come while it is open are answered with an error, every call is answered,
// and the player takes calls again once the box is closed.
TEST_F(MprisTest, AFloodOfCallsNeverStacksMessageBoxes) {
    useAudioDriver("dummy");
    writeFileBytes(dir.file("broken.wav"), std::vector<uint8_t>(4096, 0x5A));
    window().addRow("broken.wav", 1, 4, dir.file("broken.wav"));
    window().listView->SelectRow(0);
    startService();

    // Boxes shown as the window shows them: modal, with an event loop of
    // their own, closed a moment later as a user would.
    int open = 0;
    int mostOpen = 0;
    int shown = 0;
    const MessageHandler previous = setMessageHandler([&](const MessageRequest&) {
        ++shown;
        mostOpen = std::max(mostOpen, ++open);
        QDialog box(&window());
        box.setModal(true);
        QTimer::singleShot(300, &box, &QDialog::accept);
        box.exec();
        --open;
        return MessageAnswer::Ok;
    });

    const QString clientName = connectionName + QStringLiteral("-client");
    {
        QDBusConnection client = QDBusConnection::connectToBus(busAddress(), clientName);
        ASSERT_TRUE(client.isConnected());
        std::vector<QDBusPendingCall> calls;
        calls.reserve(300);
        for (int i = 0; i < 300; ++i) {
            calls.push_back(client.asyncCall(QDBusMessage::createMethodCall(
                QString::fromLatin1(MprisService::kServiceName),
                QString::fromLatin1(MprisService::kObjectPath),
                QString::fromLatin1(MprisService::kPlayerInterface), QStringLiteral("PlayPause"))));
        }
        EXPECT_TRUE(waitFor(
            [&] {
                return std::all_of(calls.begin(), calls.end(),
                                   [](const QDBusPendingCall& c) { return c.isFinished(); }) &&
                       open == 0;
            },
            60000));
        const auto refused = std::count_if(calls.begin(), calls.end(),
                                           [](const QDBusPendingCall& c) { return c.isError(); });
        EXPECT_EQ(mostOpen, 1);
        EXPECT_GE(shown, 1);
        EXPECT_GT(refused, 0);
        EXPECT_EQ(static_cast<int>(refused) + shown, 300) << shown << " boxes";

        // Once the box is closed, calls are taken again.
        QDBusPendingCall again = client.asyncCall(QDBusMessage::createMethodCall(
            QString::fromLatin1(MprisService::kServiceName),
            QString::fromLatin1(MprisService::kObjectPath),
            QString::fromLatin1(MprisService::kPlayerInterface), QStringLiteral("Play")));
        EXPECT_TRUE(waitFor([&] { return again.isFinished(); }, 10000));
        EXPECT_FALSE(again.isError()) << again.error().message().toStdString();
        EXPECT_TRUE(waitFor([&] { return shown >= 2 && open == 0; }, 10000));
        EXPECT_EQ(mostOpen, 1);
    }
    QDBusConnection::disconnectFromBus(clientName);
    setMessageHandler(previous);
}

// Arguments at the ends of their range: a seek by the largest offsets goes
// to the item's end or start, and a URL whose path holds a NUL byte names
// no file.
TEST_F(MprisTest, ExtremeSeeksClampAndUrlsWithANulByteAreRefused) {
    useAudioDriver("dummy");
    const std::string tone = writeWave(dir.file("tone.wav"), 1, 44100, 20.0);
    ASSERT_EQ(window().addFiles({tone}), 1);
    MprisService& mpris = startService();
    mpris.play();
    ASSERT_TRUE(waitFor([&] { return status() == "Playing"; })) << status();
    mpris.seek(5'000'000);
    EXPECT_EQ(mpris.position(), 5'000'000);
    mpris.seek(INT64_MIN);
    EXPECT_EQ(mpris.position(), 0);
    mpris.seek(5'000'000);
    mpris.seek(INT64_MAX);
    EXPECT_EQ(mpris.position(), 20'000'000);

    // The path before the NUL names a file that exists.
    const std::string url =
        "file://" + QUrl::toPercentEncoding(QString::fromStdString(tone), "/").toStdString();
    for (const std::string& bad : {url + "%00.wav", url + "%00", std::string("file:///%00")}) {
        mpris.openUri(QString::fromStdString(bad));
    }
    waitFor([] { return false; }, 200);
    EXPECT_EQ(rowCount(), 1);
    for (int row = 0; row < rowCount(); ++row) {
        EXPECT_EQ(window().listView->GetItemText(row, 4).find('\0'), std::string::npos);
    }

    // A file that does not decode gets no row, and is named after the answer.
    const std::string text = dir.file("text.flac");
    writeFileBytes(text, std::vector<uint8_t>(100, 'x'));
    const size_t shown = messages->texts().size();
    mpris.openUri(QString::fromStdString("file://" + text));
    ASSERT_TRUE(waitFor([&] { return messages->texts().size() > shown; }));
    EXPECT_EQ(messages->texts().back(), "These files were not added to the list:\n" + text +
                                            ": not in a known format, or damaged");
    EXPECT_EQ(rowCount(), 1);
}

// Without a bus nothing is registered and the window plays as before; the
// program itself starts on a session bus, answers playerctl and quits on
// request, and with a bus address that leads nowhere runs silently.
TEST_F(MprisTest, TheProgramRunsWithAndWithoutABus) {
    useAudioDriver("dummy");
    const std::string tone = writeWave(dir.file("tone.wav"), 2, 44100, 5.0);
    {
        MprisService none(window(), QDBusConnection(QStringLiteral("no-such-connection")));
        EXPECT_TRUE(none.busName().isEmpty());
        ASSERT_EQ(window().addFiles({tone}), 1);
        window().onCommand(kIdPlay);
        EXPECT_EQ(status(), "Playing");
        window().onCommand(kIdStop);
        EXPECT_TRUE(messages->texts().empty());
    }

    const std::string built = VELUMO_BINARY_DIR "/velumo";
    if (!std::filesystem::exists(built)) {
        GTEST_SKIP() << "velumo is not built";
    }
    const std::string program = dir.file("velumo");
    std::filesystem::copy_file(built, program);
    const std::vector<StoredRow> rows = {{"", "tone.wav", "00:05", "1 KB", tone}};
    writeFileBytes(dir.file("velumo.ini"), encodeStoredList(rows));
    const auto run = [&](const QString& address, QProcess& velumo) {
        QProcessEnvironment environment = busEnvironment();
        if (address.isEmpty()) {
            // No bus configured: neither an address nor the runtime socket.
            environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
            environment.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                               QString::fromStdString(dir.path().string()));
        } else {
            environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        }
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
        velumo.setProcessEnvironment(environment);
        velumo.setProcessChannelMode(QProcess::MergedChannels);
        velumo.start(QString::fromStdString(program), {});
        return velumo.waitForStarted(5000);
    };

    QProcess velumo;
    ASSERT_TRUE(run(busAddress(), velumo));
    EXPECT_TRUE(waitFor([&] { return client("playerctl", {"--list-all"}) == "velumo"; }, 20000));
    playerctl({"play"});
    EXPECT_TRUE(waitFor(
        [&] {
            return playerctl({"metadata", "--format", "{{status}} {{xesam:title}}"}) ==
                   "Playing tone.wav";
        },
        10000));
    gdbusCall("org.mpris.MediaPlayer2.Quit");
    EXPECT_TRUE(velumo.waitForFinished(20000));
    EXPECT_EQ(velumo.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(velumo.exitCode(), 0);

    // No bus, and a bus that is not there: the window runs until asked to
    // stop, and says nothing about it.
    for (const QString& address :
         {QString(), QStringLiteral("unix:path=") + QString::fromStdString(dir.file("no-bus"))}) {
        QProcess silent;
        ASSERT_TRUE(run(address, silent));
        // Running, its bus set up or given up, and ready to stop.
        EXPECT_TRUE(catchesSignal(static_cast<int>(silent.processId()), SIGTERM, 30000))
            << address.toStdString();
        silent.terminate();
        EXPECT_TRUE(silent.waitForFinished(20000));
        EXPECT_EQ(silent.exitCode(), 0);
        const QString said = QString::fromUtf8(silent.readAll());
        EXPECT_FALSE(said.contains(QStringLiteral("bus"), Qt::CaseInsensitive))
            << said.toStdString();
    }
}

} // namespace
