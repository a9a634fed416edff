#include "support/SoundServer.h"

#include "support/WaitUntil.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

extern char** environ;

namespace testing_support {

namespace {

bool waitUntil(int timeoutMs, const auto& done) {
    return testing_support::waitUntil(done, std::chrono::milliseconds(timeoutMs),
                                      std::chrono::milliseconds(20));
}

// This process's environment with the given NAME=value entries replacing
// or adding to it.
std::vector<std::string> mergedEnv(const std::vector<std::string>& extra) {
    std::map<std::string, std::string> vars;
    for (char** e = environ; e && *e; ++e) {
        std::string entry = *e;
        vars[entry.substr(0, entry.find('='))] = entry;
    }
    for (const std::string& entry : extra) {
        vars[entry.substr(0, entry.find('='))] = entry;
    }
    std::vector<std::string> out;
    out.reserve(vars.size());
    for (auto& [name, entry] : vars) {
        out.push_back(entry);
    }
    return out;
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

} // namespace

const char* serverKindName(ServerKind kind) {
    return kind == ServerKind::PulseAudio ? "PulseAudio" : "PipeWire";
}

pid_t spawnProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const std::string& log) {
    std::vector<std::string> environment = mergedEnv(env);
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> envp;
    envp.reserve(environment.size() + 1);
    for (std::string& e : environment) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int result = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return result == 0 ? pid : -1;
}

int stopProgram(pid_t pid, int signal, int timeoutMs) {
    if (pid <= 0) {
        return -1;
    }
    ::kill(pid, signal);
    int status = 0;
    pid_t ended = 0;
    waitUntil(timeoutMs, [&] {
        ended = waitpid(pid, &status, WNOHANG);
        return ended != 0;
    });
    if (ended == pid) {
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    ::kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

int waitForProgram(pid_t pid, int timeoutMs) {
    int status = 0;
    pid_t ended = 0;
    waitUntil(timeoutMs, [&] {
        ended = waitpid(pid, &status, WNOHANG);
        return ended != 0;
    });
    if (ended != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

SoundServer::SoundServer(ServerKind kind) : serverKind(kind) {
    runtime = dir.file("run");
    std::filesystem::create_directories(runtime + "/pulse");
    ::chmod(runtime.c_str(), 0700);
    socket = runtime + "/pulse/native";
    // A client that finds no server must fail, not start one of its own.
    writeText(dir.file("client.conf"), "autospawn = no\n");
    const bool started = kind == ServerKind::PulseAudio ? startPulseAudio() : startPipeWire();
    if (started && failure.empty() && !waitUntilAnswering(20000)) {
        failure = std::string(serverKindName(kind)) + " did not answer; its log is in " +
                  dir.file("server.log");
    }
    if (ok() && kind == ServerKind::PipeWire) {
        if (loadModule("module-null-sink", {std::string("sink_name=") + kSinkName}) < 0 ||
            !waitFor("sinks", kSinkName)) {
            failure = "PipeWire would not make the null sink";
        } else if (!pactl({"set-default-sink", kSinkName})) {
            noDefaults = true;
            failure = "PipeWire runs, but wireplumber keeps no default devices here (no "
                      "login session); its log is in " +
                      dir.file("server.log");
        }
    }
}

SoundServer::~SoundServer() {
    for (auto it = pids.rbegin(); it != pids.rend(); ++it) {
        stopProgram(*it, SIGTERM);
    }
}

std::vector<std::string> SoundServer::clientEnv() const {
    return {"PULSE_SERVER=unix:" + socket, "PULSE_CLIENTCONFIG=" + dir.file("client.conf"),
            "XDG_RUNTIME_DIR=" + runtime};
}

void SoundServer::use() const {
    for (const std::string& entry : clientEnv()) {
        const size_t eq = entry.find('=');
        if (entry.compare(0, eq, "XDG_RUNTIME_DIR") != 0) {
            setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
        }
    }
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
}

bool SoundServer::startPulseAudio() {
    const std::string script = dir.file("server.pa");
    // No rewinds: a sink that rewinds mixes a stream that joins into what
    // it had already rendered, which its monitor had already passed on, so
    // the monitor would miss the first milliseconds of every new stream.
    writeText(script, "load-module module-native-protocol-unix auth-anonymous=1 socket=" + socket +
                          "\n"
                          "load-module module-null-sink sink_name=" +
                          kSinkName +
                          " rate=44100 norewinds=1\n"
                          "set-default-sink " +
                          kSinkName + "\n");
    const pid_t pid = spawnProgram({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                    "--use-pid-file=no", "--disable-shm=yes", "--log-target=stderr",
                                    "-F", script},
                                   {"XDG_RUNTIME_DIR=" + runtime, "HOME=" + dir.path().string(),
                                    "DBUS_SESSION_BUS_ADDRESS=disabled:"},
                                   dir.file("server.log"));
    if (pid < 0) {
        failure = "pulseaudio could not be started";
        return false;
    }
    pids.push_back(pid);
    return true;
}

bool SoundServer::startPipeWire() {
    const std::string bus = runtime + "/bus";
    busAddress = "unix:path=" + bus;
    const std::string log = dir.file("server.log");
    const pid_t busPid = spawnProgram(
        {"dbus-daemon", "--session", "--nofork", "--nosyslog", "--address=" + busAddress}, {}, log);
    if (busPid < 0 || !waitUntil(10000, [&] { return std::filesystem::exists(bus); })) {
        failure = "no session bus for PipeWire";
        if (busPid > 0) {
            pids.push_back(busPid);
        }
        return false;
    }
    pids.push_back(busPid);
    const std::vector<std::string> env = {
        "XDG_RUNTIME_DIR=" + runtime, "HOME=" + dir.path().string(),
        "DBUS_SESSION_BUS_ADDRESS=" + busAddress, "PIPEWIRE_RUNTIME_DIR=" + runtime};
    const pid_t core = spawnProgram({"pipewire"}, env, log);
    if (core < 0 ||
        !waitUntil(10000, [&] { return std::filesystem::exists(runtime + "/pipewire-0"); })) {
        failure = "pipewire did not start; its log is in " + log;
        if (core > 0) {
            pids.push_back(core);
        }
        return false;
    }
    pids.push_back(core);
    for (const char* program : {"wireplumber", "pipewire-pulse"}) {
        const pid_t pid = spawnProgram({program}, env, log);
        if (pid < 0) {
            failure = std::string(program) + " could not be started";
            return false;
        }
        pids.push_back(pid);
    }
    return true;
}

bool SoundServer::waitUntilAnswering(int timeoutMs) {
    return waitUntil(timeoutMs,
                     [&] {
                         for (pid_t pid : pids) {
                             int status;
                             if (waitpid(pid, &status, WNOHANG) == pid) {
                                 return true; // a process ended: pactl below cannot succeed
                             }
                         }
                         return std::filesystem::exists(socket) && pactl({"info"});
                     }) &&
           pactl({"info"});
}

bool SoundServer::pactl(const std::vector<std::string>& args, std::string* out) const {
    std::vector<std::string> argv = {"pactl"};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string output = dir.file("pactl.out");
    std::filesystem::remove(output);
    const pid_t pid = spawnProgram(argv, clientEnv(), output);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) {
        return false;
    }
    if (out) {
        std::ifstream in(output);
        std::stringstream text;
        text << in.rdbuf();
        *out = text.str();
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int SoundServer::loadModule(const std::string& name, const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {"load-module", name};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    if (!pactl(argv, &out)) {
        return -1;
    }
    return std::atoi(out.c_str());
}

bool SoundServer::waitFor(const char* kind, const std::string& name, int timeoutMs) const {
    return waitUntil(timeoutMs, [&] {
        std::string out;
        return pactl({"list", "short", kind}, &out) && out.find(name) != std::string::npos;
    });
}

void SoundServer::kill() {
    for (pid_t pid : pids) {
        ::kill(pid, SIGKILL);
    }
    for (pid_t pid : pids) {
        int status;
        waitpid(pid, &status, 0);
    }
    pids.clear();
}

MonitorCapture::MonitorCapture(const SoundServer& server, const std::string& source)
    : file(server.folder().file("monitor.raw")) {
    std::filesystem::remove(file);
    pid = spawnProgram(
        {"parec", "--latency-msec=20", "--raw", "--format=s16le", "--rate=" + std::to_string(kRate),
         "--channels=" + std::to_string(kChannels), "-d", source, "--no-remix", file},
        server.clientEnv(), server.folder().file("parec.log"));
}

MonitorCapture::~MonitorCapture() {
    stop();
}

bool MonitorCapture::waitForBytes(size_t bytes, int timeoutMs) const {
    return waitUntil(timeoutMs, [&] {
        std::error_code error;
        return std::filesystem::file_size(file, error) >= bytes && !error;
    });
}

std::vector<int16_t> MonitorCapture::stop() {
    if (pid > 0) {
        stopProgram(pid, SIGINT);
        pid = -1;
    }
    std::vector<uint8_t> bytes = readFileBytes(file);
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

HeardSound listen(const std::vector<int16_t>& samples, uint16_t channels, uint32_t rate,
                  double minGapMs, int silence) {
    HeardSound heard;
    const size_t frames = channels ? samples.size() / channels : 0;
    auto at = [&](size_t frame) { return int(samples[frame * channels]); };
    size_t first = frames;
    size_t last = 0;
    for (size_t i = 0; i < frames; ++i) {
        if (std::abs(at(i)) > silence) {
            first = std::min(first, i);
            last = i;
        }
    }
    if (first >= frames) {
        return heard;
    }
    heard.soundSeconds = double(last + 1 - first) / rate;
    double sum = 0;
    size_t crossings = 0;
    size_t quiet = 0;
    const auto minGap = size_t(minGapMs * rate / 1000.0);
    for (size_t i = first; i <= last; ++i) {
        const double v = at(i) / 32768.0;
        sum += v * v;
        if (i > first && (at(i - 1) < 0) != (at(i) < 0)) {
            ++crossings;
        }
        if (std::abs(at(i)) <= silence) {
            ++quiet;
        } else {
            if (quiet >= minGap && quiet > 0) {
                ++heard.gaps;
                heard.longestGapMs = std::max(heard.longestGapMs, 1000.0 * double(quiet) / rate);
            }
            quiet = 0;
        }
    }
    heard.rms = std::sqrt(sum / double(last + 1 - first));
    heard.hz = double(crossings) / 2.0 / heard.soundSeconds;
    return heard;
}

std::vector<int16_t> sweepSamples(uint32_t rate, double seconds) {
    const auto frames = size_t(rate * seconds);
    std::vector<int16_t> out(frames);
    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double phase = 2.0 * M_PI * (200.0 * t + 900.0 * t * t / seconds);
        out[i] = int16_t(std::lround(0.5 * 32767.0 * std::sin(phase)));
    }
    return out;
}

long placeFirstSound(const std::vector<int16_t>& heard, uint16_t channels,
                     const std::vector<int16_t>& played, size_t length, int silence,
                     int tolerance) {
    const size_t frames = channels ? heard.size() / channels : 0;
    size_t first = 0;
    while (first < frames && std::abs(int(heard[first * channels])) <= silence) {
        ++first;
    }
    if (first + length > frames || played.size() < length) {
        return -1;
    }
    for (size_t at = 0; at + length <= played.size(); ++at) {
        bool same = true;
        for (size_t i = 0; i < length && same; ++i) {
            same = std::abs(int(heard[(first + i) * channels]) - int(played[at + i])) <= tolerance;
        }
        if (same) {
            return long(at);
        }
    }
    return -1;
}

namespace {

// One line per input, starting with its index; anything else is a warning
// of pactl's own.
bool inputLines(const SoundServer& server, std::vector<std::string>* inputs) {
    std::string out;
    if (!server.pactl({"list", "short", "sink-inputs"}, &out)) {
        return false;
    }
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
            inputs->push_back(line);
        }
    }
    return true;
}

} // namespace

int sinkInputCount(const SoundServer& server) {
    std::vector<std::string> inputs;
    return inputLines(server, &inputs) ? int(inputs.size()) : -1;
}

std::vector<std::string> sinkInputLines(const SoundServer& server) {
    std::vector<std::string> inputs;
    inputLines(server, &inputs);
    return inputs;
}

} // namespace testing_support
