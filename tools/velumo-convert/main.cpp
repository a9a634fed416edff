// velumo-convert: converts audio items to 16-bit WAV or MP3 files (mono
// unless --channels 2 asks for stereo) with the same Mixer and writers as
// the Convert dialog.
//
//   velumo-convert [OPTIONS] INPUT OUTPUT
//   velumo-convert [OPTIONS] --format wav|mp3 INPUT... DIRECTORY
//
// An MP3 output needs a sample rate that MP3 holds (MPEG's rates, 8000 to
// 48000 Hz); any other is a usage error. WAV outputs take any rate.
//
// Exit status: 0 when every item was converted, 1 when any item failed, 2
// for a usage error (including an unsupported output format), and 128 plus
// the signal's number when SIGINT, SIGTERM or SIGHUP stopped the run (130,
// 143, 129), as shells report it.

#include "base/FileIo.h"
#include "base/Version.h"
#include "encode/Bitrates.h"
#include "encode/ConversionJob.h"
#include "platform/CdLibrary.h"
#include "platform/MessageBox.h"
#include "playlist/AudioItem.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kProgram = "velumo-convert";
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The help text; BITRATES stands for the list of bitrate texts, MP3RATES for
// the sample rates an MP3 file holds.
const char* const kUsage =
    "Usage: velumo-convert [OPTIONS] INPUT OUTPUT\n"
    "       velumo-convert [OPTIONS] --format wav|mp3 INPUT... DIRECTORY\n"
    "\n"
    "Converts audio items (WAV, MP3, WMA, FLAC, Ogg, Opus or M4A files, or CD\n"
    "tracks named Track-NN) to 16-bit mono PCM (or stereo), written as a WAV\n"
    "file or as an MP3 file.\n"
    "\n"
    "Options:\n"
    "  --rate HZ         output sample rate (default 22050); an MP3 OUTPUT takes\n"
    "                    only MP3RATES\n"
    "  --bitrate TEXT    output sample rate by the main window's bitrate texts:\n"
    "                    BITRATES\n"
    "  --channels 1|2    mono (the default) or stereo output; stereo keeps the\n"
    "                    item's two sides, puts a mono item on both and mixes\n"
    "                    more channels down\n"
    "  --format wav|mp3  convert several INPUTs into the existing DIRECTORY, each\n"
    "                    named after its input with the new extension\n"
    "  --jobs N          conversions run at once (default: processor cores)\n"
    "  --cd PATH         use a disc image (CUE/BIN) or CD device as the first\n"
    "                    CD drive; an INPUT Track-NN is then that track\n"
    "  --yes             overwrite existing outputs without asking\n"
    "  --help            show this help and exit\n"
    "  --version         show the version and exit\n";

// The window's default: kDefaultBitrate, "32KB".
constexpr double kDefaultRate = kDefaultBitrateRate;

// "32KB 48KB ... 192KB", from the table the window's Bitrate box uses.
std::string bitrateTexts() {
    std::string texts;
    for (const Bitrate& bitrate : kBitrates) {
        texts += texts.empty() ? "" : " ";
        texts += bitrate.text;
    }
    return texts;
}

// The rate of a listed bitrate text (exactly as listed); nothing for any
// other text, which on the command line is a mistake, not a default.
std::optional<double> listedBitrate(const std::string& text) {
    for (const Bitrate& bitrate : kBitrates) {
        if (text == bitrate.text) {
            return bitrate.rate;
        }
    }
    return std::nullopt;
}

struct Options {
    double rate = kDefaultRate;
    uint16_t channels = 1;
    bool assumeYes = false;
    unsigned jobs = 0;
    std::string format; // "wav" or "mp3" in directory mode
    std::string cdPath;
    std::vector<std::string> positional;
};

struct Item {
    std::string input;
    std::string output;
    bool ok = false;
    bool unfinished = false; // a signal stopped it
};

// Terminal output: error lines, questions and the progress line share it.
std::mutex terminalMutex;
bool progressShown = false; // Guarded by terminalMutex
bool stderrIsTerminal = false;
bool stdinIsTerminal = false;
bool assumeYes = false;
thread_local std::string currentItem; // the item this thread converts

// The signal that stopped the run; 0 while none has come.
std::atomic<int> interruptSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void onInterrupt(int signal) {
    int none = 0;
    interruptSignal.compare_exchange_strong(none, signal);
    // A second signal of the same kind ends the program at once.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigaction(signal, &action, nullptr);
}

bool interrupted() {
    return interruptSignal.load() != 0;
}

// What the messages of the item this thread converts have said, so that a
// reason already given is not repeated.
thread_local std::string itemMessages;

// Called with terminalMutex held.
void clearProgressLine() {
    if (progressShown) {
        std::fputs("\r\033[K", stderr);
        progressShown = false;
    }
}

std::string oneLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

std::string prefix() {
    std::string p = std::string(kProgram) + ": ";
    if (!currentItem.empty()) {
        p += currentItem + ": ";
    }
    return p;
}

void printError(const std::string& text) {
    std::lock_guard lock(terminalMutex);
    clearProgressLine();
    std::fprintf(stderr, "%s%s\n", prefix().c_str(), oneLine(text).c_str());
}

MessageAnswer handleMessage(const MessageRequest& request) {
    std::lock_guard lock(terminalMutex);
    clearProgressLine();
    std::string text = oneLine(request.text);
    itemMessages += text + "\n";
    if (request.buttons != MessageButtons::YesNo) {
        std::fprintf(stderr, "%s%s\n", prefix().c_str(), text.c_str());
        return MessageAnswer::Ok;
    }
    if (assumeYes) {
        return MessageAnswer::Yes;
    }
    if (!stdinIsTerminal) {
        std::fprintf(stderr, "%s%s no (use --yes to overwrite)\n", prefix().c_str(), text.c_str());
        return MessageAnswer::No;
    }
    std::fprintf(stderr, "%s%s [y/N] ", prefix().c_str(), text.c_str());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        return MessageAnswer::No;
    }
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y') ? MessageAnswer::Yes
                                                                     : MessageAnswer::No;
}

bool parseRate(const std::string& text, double& rate) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 1000 || value > 384000) {
        return false;
    }
    rate = double(value);
    return true;
}

int usageError(const std::string& text) {
    std::fprintf(stderr, "%s: %s\nTry 'velumo-convert --help' for more information.\n", kProgram,
                 text.c_str());
    return kExitUsage;
}

// Parses the command line; returns -1 to go on, or the exit status.
int parseOptions(int argc, char** argv, Options& options) {
    bool onlyPositional = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (onlyPositional || arg.empty() || arg[0] != '-' || arg == "-") {
            options.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyPositional = true;
            continue;
        }
        std::string name = arg;
        std::string value;
        bool hasValue = false;
        if (size_t eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            hasValue = true;
        }
        auto needValue = [&]() -> bool {
            if (hasValue) {
                return true;
            }
            if (i + 1 >= argc) {
                return false;
            }
            value = argv[++i];
            return true;
        };
        if (name == "--help" || name == "-h") {
            std::string usage = kUsage;
            usage.replace(usage.find("BITRATES"), 8, bitrateTexts());
            usage.replace(usage.find("MP3RATES"), 8, Mp3FileWriter::sampleRateList(" ", " "));
            std::fputs(usage.c_str(), stdout);
            return 0;
        }
        if (name == "--version") {
            std::printf("%s %s\n", kProgram, velumoVersion());
            return 0;
        }
        if (name == "--yes" || name == "-y") {
            options.assumeYes = true;
        } else if (name == "--rate") {
            if (!needValue() || !parseRate(value, options.rate)) {
                return usageError("--rate needs a sample rate in Hz between 1000 and 384000");
            }
        } else if (name == "--bitrate") {
            const std::optional<double> rate =
                needValue() ? listedBitrate(value) : std::optional<double>();
            if (!rate) {
                return usageError("--bitrate needs one of the bitrate texts: " + bitrateTexts());
            }
            options.rate = *rate;
        } else if (name == "--channels") {
            if (!needValue() || (value != "1" && value != "2")) {
                return usageError("--channels needs 1 or 2");
            }
            options.channels = value == "1" ? 1 : 2;
        } else if (name == "--format") {
            if (!needValue()) {
                return usageError("--format needs wav or mp3");
            }
            options.format = value;
        } else if (name == "--jobs" || name == "-j") {
            char* end = nullptr;
            long n = needValue() ? std::strtol(value.c_str(), &end, 10) : 0;
            if (!end || *end != '\0' || n < 1 || n > 256) {
                return usageError("--jobs needs a number from 1 to 256");
            }
            options.jobs = unsigned(n);
        } else if (name == "--cd") {
            if (!needValue() || value.empty()) {
                return usageError("--cd needs a disc image or a CD device");
            }
            options.cdPath = value;
        } else {
            return usageError("unknown option " + arg);
        }
    }
    return -1;
}

// The operating system's reason why path cannot be read as an input, or "".
// Never blocks: a FIFO is named as one, not opened.
std::string inputProblem(const std::string& path) {
    return regularFileProblem(path.c_str());
}

// The operating system's reason why path cannot be created or replaced as an
// output, or "".
std::string outputProblem(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            return std::strerror(EISDIR);
        }
        return ::access(path.c_str(), W_OK) == 0 ? std::string() : std::strerror(errno);
    }
    if (errno != ENOENT) {
        return std::strerror(errno);
    }
    std::string directory = std::filesystem::path(path).parent_path().string();
    if (directory.empty()) {
        directory = ".";
    }
    return ::access(directory.c_str(), W_OK | X_OK) == 0 ? std::string() : std::strerror(errno);
}

// After a failed item, one line that names the input or the output and
// says what the operating system refused, as other command-line converters
// do; nothing when the system refused nothing (a file that is not audio).
void printSystemReason(const Item& item, int targetError) {
    std::string name;
    std::string reason;
    if (!isTrackName(item.input)) {
        reason = inputProblem(item.input);
        name = item.input;
    }
    if (reason.empty()) {
        name = item.output;
        reason = targetError != 0 ? std::strerror(targetError) : outputProblem(item.output);
    }
    if (reason.empty() || itemMessages.find(reason) != std::string::npos) {
        return;
    }
    std::lock_guard lock(terminalMutex);
    clearProgressLine();
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, name.c_str(), reason.c_str());
}

// Active jobs, for stopping on an interrupt, and those past opening their
// source (converting), for the progress line.
struct ActiveEntry {
    ConversionJob* job = nullptr;
    bool converting = false;
};
std::mutex activeMutex;
std::map<const Item*, ActiveEntry> active; // Guarded by activeMutex

// Marks a job active (for the progress line and for a stop) while it lives.
class ActiveJob {
  public:
    ActiveJob(const Item& entry, ConversionJob& running) : item(entry) {
        std::lock_guard lock(activeMutex);
        active[&item] = ActiveEntry{&running, false};
    }
    // The job's source is open: the progress line may read its position.
    void converting() {
        std::lock_guard lock(activeMutex);
        active[&item].converting = true;
    }
    ~ActiveJob() {
        std::lock_guard lock(activeMutex);
        active.erase(&item);
    }
    ActiveJob(const ActiveJob&) = delete;
    ActiveJob& operator=(const ActiveJob&) = delete;

  private:
    const Item& item;
};

bool convertItem(Item& item, double rate, uint16_t channels) {
    currentItem = item.input;
    itemMessages.clear();
    ConversionJob job(rate, channels);
    job.SetIdlePriority(false);
    // Active from the start: a signal stops the job while its source is
    // still being opened, too.
    ActiveJob activeJob(item, job);
    const bool ready = job.LoadSource(item.input) && job.SetTarget(item.output);
    if (interrupted()) {
        return false; // nothing written
    }
    if (!ready) {
        printSystemReason(item, 0);
        return false;
    }
    activeJob.converting();
    ConversionJob::Result result = job.RunHere();
    if (result == ConversionJob::Result::Stopped) {
        item.unfinished = true;
        printError("stopped; the output holds what was converted so far");
        return false;
    }
    if (result != ConversionJob::Result::Completed) {
        printSystemReason(item, job.TargetSystemError());
        return false;
    }
    return true;
}

void showProgress() {
    std::string line;
    {
        std::lock_guard lock(activeMutex);
        for (const auto& [item, entry] : active) {
            if (!entry.converting) {
                continue;
            }
            if (!line.empty()) {
                line += "  ";
            }
            line += std::to_string(entry.job->Percent()) + "% " +
                    std::filesystem::path(item->input).filename().string();
        }
    }
    std::lock_guard lock(terminalMutex);
    clearProgressLine();
    if (!line.empty()) {
        std::fprintf(stderr, "%s", line.c_str());
        std::fflush(stderr);
        progressShown = true;
    }
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (int status = parseOptions(argc, argv, options); status >= 0) {
        return status;
    }

    std::vector<Item> items;
    if (options.format.empty()) {
        if (options.positional.size() != 2) {
            return usageError("expected INPUT and OUTPUT, or --format with INPUTs and a DIRECTORY");
        }
        const FileKind kind = fileKind(options.positional[1], ExtensionRule::OfFileName);
        if (kind != FileKind::Wave && kind != FileKind::Mp3) {
            currentItem = options.positional[1];
            printError(ConversionJob::kFormatNotSupportedMessage);
            return kExitUsage;
        }
        items.push_back({options.positional[0], options.positional[1]});
    } else {
        if (options.format != "wav" && options.format != "mp3") {
            currentItem = options.format;
            printError(ConversionJob::kFormatNotSupportedMessage);
            return kExitUsage;
        }
        if (options.positional.size() < 2) {
            return usageError("--format needs at least one INPUT and a DIRECTORY");
        }
        std::filesystem::path directory = options.positional.back();
        std::error_code error;
        if (!std::filesystem::is_directory(directory, error)) {
            return usageError(directory.string() + " is not an existing directory");
        }
        for (size_t i = 0; i + 1 < options.positional.size(); ++i) {
            const std::string& input = options.positional[i];
            std::string name = std::filesystem::path(input).stem().string() + "." + options.format;
            items.push_back({input, (directory / name).string()});
        }
    }

    // MP3 holds only MPEG's rates; anything else would be resampled
    // behind the user's back.
    const bool mp3Output =
        options.format.empty()
            ? fileKind(options.positional[1], ExtensionRule::OfFileName) == FileKind::Mp3
            : options.format == "mp3";
    if (const auto rate = uint32_t(options.rate);
        mp3Output && !Mp3FileWriter::holdsSampleRate(rate)) {
        return usageError("an MP3 file cannot hold " + std::to_string(rate) +
                          " Hz; use --rate with one of " +
                          Mp3FileWriter::sampleRateList(", ", " or ") + ", or a WAV output");
    }

    stderrIsTerminal = isatty(STDERR_FILENO) != 0;
    stdinIsTerminal = isatty(STDIN_FILENO) != 0;
    assumeYes = options.assumeYes;
    setMessageHandler(handleMessage);
    if (!options.cdPath.empty()) {
        registerDiscImage(options.cdPath);
    }
    // The signals are caught before any item starts; the threads started
    // below inherit the mask.
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }

    // Two inputs with the same name would write one output twice at once.
    std::set<std::string> taken;
    std::vector<Item*> work;
    for (Item& item : items) {
        if (!taken.insert(std::filesystem::absolute(item.output).lexically_normal().string())
                 .second) {
            currentItem = item.input;
            printError("another input already writes " + item.output);
            continue;
        }
        work.push_back(&item);
    }
    currentItem.clear();

    unsigned jobs = options.jobs ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    jobs = std::min<unsigned>(jobs, unsigned(std::max<size_t>(work.size(), 1)));
    std::atomic<size_t> next{0};
    std::atomic<unsigned> running{jobs};
    std::vector<std::thread> slots;
    for (unsigned s = 0; s < jobs; ++s) {
        slots.emplace_back([&] {
            for (size_t i; !interrupted() && (i = next.fetch_add(1)) < work.size();) {
                work[i]->ok = convertItem(*work[i], options.rate, options.channels);
            }
            running.fetch_sub(1);
        });
    }
    bool stopping = false;
    while (running.load() > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(stderrIsTerminal ? 200 : 50));
        if (interrupted() && !stopping) {
            stopping = true;
            std::lock_guard lock(activeMutex);
            for (auto& [item, entry] : active) {
                entry.job->Stop();
            }
        }
        if (stderrIsTerminal) {
            showProgress();
        }
    }
    for (auto& slot : slots) {
        slot.join();
    }
    {
        std::lock_guard lock(terminalMutex);
        clearProgressLine();
    }
    if (const int signal = interruptSignal.load(); signal != 0) {
        const auto notDone =
            std::count_if(items.begin(), items.end(), [](const Item& item) { return !item.ok; });
        const auto stopped = std::count_if(items.begin(), items.end(),
                                           [](const Item& item) { return item.unfinished; });
        std::fprintf(stderr,
                     "%s: %s: %ld of %zu items not converted (%ld stopped part-way, their "
                     "outputs incomplete)\n",
                     kProgram, strsignal(signal), static_cast<long>(notDone), items.size(),
                     static_cast<long>(stopped));
        return 128 + signal;
    }
    bool allOk = std::all_of(items.begin(), items.end(), [](const Item& item) { return item.ok; });
    return allOk ? 0 : kExitFailed;
}
