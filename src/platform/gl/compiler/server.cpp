// The compile server's wire format, its start as a fresh process image and
// the program's side of a compile (server.h).
//
// The server is started with posix_spawn, not a bare fork: hotfx already runs
// Mesa's threads and holds the X connection when it first compiles, and a
// forked copy of a threaded process may only call async-signal-safe functions
// until it execs. Its socket becomes descriptor 3 and every other descriptor
// is closed, so the server holds neither X nor GL.
#include "platform/gl/compiler/server.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <climits>
#include <csignal>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr int kCompileSeconds = 10;        // far beyond any real shader on this backend
constexpr uint32_t kMaxField  = 64u << 20; // bounds what a confused peer can make us allocate
constexpr int kServerFd       = 3;         // the socket's descriptor in the server
const char kServerName[]      = "hotfx-compile-server";

struct Server {
    pid_t pid = -1;
    int fd    = -1; // our end of the socket pair
};
Server server;

double Now() {
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec + now.tv_nsec * 1e-9;
}

bool SendAll(int fd, const void *data, size_t size) {
    const char *at = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t sent = send(fd, at, size, MSG_NOSIGNAL); // a dead peer is an error, not SIGPIPE
        if (sent < 0 && errno == ENOTSOCK) sent = write(fd, at, size); // a child's reply file
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        at += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

bool ReceiveAll(int fd, void *data, size_t size, double deadline, bool &timedOut) {
    char *at = static_cast<char *>(data);
    while (size > 0) {
        if (deadline > 0) {
            const double left = deadline - Now();
            pollfd p          = {fd, POLLIN, 0};
            const int ready   = left > 0 ? poll(&p, 1, static_cast<int>(left * 1000) + 1) : 0;
            if (ready < 0 && errno == EINTR) continue;
            if (ready == 0) {
                timedOut = true;
                return false;
            }
            if (ready < 0) return false;
        }
        ssize_t got = recv(fd, at, size, 0);
        if (got < 0 && errno == ENOTSOCK) got = read(fd, at, size); // a child's reply file
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        at += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

bool SendWord(int fd, uint32_t word) {
    return SendAll(fd, &word, sizeof word);
}

bool ReceiveWord(int fd, uint32_t &word, double deadline, bool &timedOut) {
    return ReceiveAll(fd, &word, sizeof word, deadline, timedOut);
}

bool SendString(int fd, const std::string &text) {
    return text.size() <= kMaxField && SendWord(fd, static_cast<uint32_t>(text.size())) &&
           SendAll(fd, text.data(), text.size());
}

bool ReceiveString(int fd, std::string &text, double deadline, bool &timedOut) {
    uint32_t size = 0;
    if (!ReceiveWord(fd, size, deadline, timedOut) || size > kMaxField) return false;
    text.resize(size);
    return ReceiveAll(fd, &text[0], size, deadline, timedOut);
}

// Diagnostics as their count, then each one's file, line, column, end
// column, severity, text and code: at most kMaxField bytes together, as one
// string may take.
constexpr size_t kDiagnosticWords = 7; // with the three strings' lengths

bool SendDiagnostics(int fd, const Diagnostics &diagnostics) {
    size_t bytes = 0;
    for (const Diagnostic &d : diagnostics.items)
        bytes +=
            kDiagnosticWords * sizeof(uint32_t) + d.file.size() + d.text.size() + d.code.size();
    if (bytes > kMaxField || !SendWord(fd, static_cast<uint32_t>(diagnostics.items.size())))
        return false;
    for (const Diagnostic &d : diagnostics.items)
        if (!SendString(fd, d.file) || !SendWord(fd, static_cast<uint32_t>(d.line)) ||
            !SendWord(fd, static_cast<uint32_t>(d.column)) ||
            !SendWord(fd, static_cast<uint32_t>(d.endColumn)) ||
            !SendWord(fd, d.severity == Severity::Warning ? 1 : 0) || !SendString(fd, d.text) ||
            !SendString(fd, d.code))
            return false;
    return true;
}

bool ReceiveDiagnostics(int fd, Diagnostics &diagnostics, double deadline, bool &timedOut) {
    uint32_t count = 0;
    if (!ReceiveWord(fd, count, deadline, timedOut) ||
        count > kMaxField / (kDiagnosticWords * sizeof(uint32_t)))
        return false;
    diagnostics.items.clear();
    size_t bytes = 0;
    for (uint32_t i = 0; i < count; ++i) {
        Diagnostic d;
        uint32_t line = 0, column = 0, endColumn = 0, warning = 0;
        if (!ReceiveString(fd, d.file, deadline, timedOut) ||
            !ReceiveWord(fd, line, deadline, timedOut) ||
            !ReceiveWord(fd, column, deadline, timedOut) ||
            !ReceiveWord(fd, endColumn, deadline, timedOut) ||
            !ReceiveWord(fd, warning, deadline, timedOut) ||
            !ReceiveString(fd, d.text, deadline, timedOut) ||
            !ReceiveString(fd, d.code, deadline, timedOut))
            return false;
        bytes +=
            kDiagnosticWords * sizeof(uint32_t) + d.file.size() + d.text.size() + d.code.size();
        if (bytes > kMaxField) return false;
        d.line      = static_cast<int>(line);
        d.column    = static_cast<int>(column);
        d.endColumn = static_cast<int>(endColumn);
        d.severity  = warning ? Severity::Warning : Severity::Error;
        diagnostics.items.push_back(std::move(d));
    }
    return true;
}

// The helper program beside the running one; in a build tree, where tests
// run from folders of their own, the one the build made.
std::string ServerPath() {
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        std::string path(self, static_cast<size_t>(length));
        path = path.substr(0, path.rfind('/') + 1) + kServerName;
        if (access(path.c_str(), X_OK) == 0) return path;
    }
#ifdef HOTFX_COMPILE_SERVER_BUILD_PATH
    if (access(HOTFX_COMPILE_SERVER_BUILD_PATH, X_OK) == 0) return HOTFX_COMPILE_SERVER_BUILD_PATH;
#endif
    return std::string();
}

void StopServer() {
    if (server.pid > 0) {
        kill(server.pid, SIGKILL);
        while (waitpid(server.pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (server.fd >= 0) close(server.fd);
    server = Server();
}

bool StartServer() {
    const std::string path = ServerPath();
    if (path.empty()) return false;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;

    // The server's end becomes descriptor 3, every other one is closed, and
    // signals start at their defaults, unblocked.
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_adddup2(&actions, fds[1], kServerFd);
    posix_spawn_file_actions_addclosefrom_np(&actions, kServerFd + 1);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const std::string parent = std::to_string(getpid());
    char *const argv[]       = {const_cast<char *>(kServerName), const_cast<char *>(parent.c_str()),
                                nullptr};
    pid_t pid                = -1;
    const int failed = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(fds[1]);
    if (failed != 0) {
        close(fds[0]);
        return false;
    }
    server.pid = pid;
    server.fd  = fds[0];
    return true;
}

} // namespace

bool SendEntryPoint(int fd, const EntryPoint &entry) {
    return SendWord(fd, entry.language) && SendWord(fd, entry.flags) &&
           SendString(fd, entry.entryPoint) && SendString(fd, entry.profile);
}

bool ReceiveEntryPoint(int fd, EntryPoint &entry) {
    bool timedOut = false;
    return ReceiveWord(fd, entry.language, 0, timedOut) &&
           ReceiveWord(fd, entry.flags, 0, timedOut) &&
           ReceiveString(fd, entry.entryPoint, 0, timedOut) &&
           ReceiveString(fd, entry.profile, 0, timedOut);
}

constexpr uint32_t kMaxAhead = 64;

bool SendRequest(int fd, const CompileRequest &request) {
    if (request.ahead.size() > kMaxAhead || !SendEntryPoint(fd, request) ||
        !SendString(fd, request.fileName) || !SendString(fd, request.source) ||
        !SendString(fd, request.workingDirectory) ||
        !SendWord(fd, static_cast<uint32_t>(request.ahead.size())))
        return false;
    for (const EntryPoint &entry : request.ahead)
        if (!SendEntryPoint(fd, entry)) return false;
    if (request.load.size() > kMaxAhead ||
        !SendWord(fd, static_cast<uint32_t>(request.load.size())))
        return false;
    for (const EntryPoint &entry : request.load)
        if (!SendEntryPoint(fd, entry)) return false;
    return true;
}

bool ReceiveRequest(int fd, CompileRequest &request) {
    bool timedOut  = false;
    uint32_t ahead = 0;
    if (!ReceiveEntryPoint(fd, request) || !ReceiveString(fd, request.fileName, 0, timedOut) ||
        !ReceiveString(fd, request.source, 0, timedOut) ||
        !ReceiveString(fd, request.workingDirectory, 0, timedOut) ||
        !ReceiveWord(fd, ahead, 0, timedOut) || ahead > kMaxAhead)
        return false;
    request.ahead.resize(ahead);
    for (EntryPoint &entry : request.ahead)
        if (!ReceiveEntryPoint(fd, entry)) return false;
    uint32_t load = 0;
    if (!ReceiveWord(fd, load, 0, timedOut) || load > kMaxAhead) return false;
    request.load.resize(load);
    for (EntryPoint &entry : request.load)
        if (!ReceiveEntryPoint(fd, entry)) return false;
    return true;
}

bool SendReply(int fd, const CompileReply &reply) {
    const size_t bytes = reply.spirv.size() * sizeof(uint32_t);
    if (bytes > kMaxField || !SendWord(fd, reply.ok ? 1 : 0) ||
        !SendDiagnostics(fd, reply.diagnostics) || !SendWord(fd, reply.packedRegisters) ||
        !SendWord(fd, static_cast<uint32_t>(reply.spirv.size())) ||
        !SendAll(fd, reply.spirv.data(), bytes) ||
        !SendWord(fd, static_cast<uint32_t>(reply.included.size())))
        return false;
    for (const auto &[name, text] : reply.included)
        if (!SendString(fd, name) || !SendString(fd, text)) return false;
    return true;
}

bool ReceiveReply(int fd, CompileReply &reply, double deadline, bool &timedOut) {
    uint32_t ok = 0, words = 0, included = 0;
    if (!ReceiveWord(fd, ok, deadline, timedOut) ||
        !ReceiveDiagnostics(fd, reply.diagnostics, deadline, timedOut) ||
        !ReceiveWord(fd, reply.packedRegisters, deadline, timedOut) ||
        !ReceiveWord(fd, words, deadline, timedOut) || words > kMaxField / sizeof(uint32_t))
        return false;
    reply.ok = ok != 0;
    reply.spirv.resize(words);
    if (!ReceiveAll(fd, reply.spirv.data(), words * sizeof(uint32_t), deadline, timedOut) ||
        !ReceiveWord(fd, included, deadline, timedOut) || included > kMaxField)
        return false;
    reply.included.clear();
    for (uint32_t i = 0; i < included; ++i) {
        std::string name, text;
        if (!ReceiveString(fd, name, deadline, timedOut) ||
            !ReceiveString(fd, text, deadline, timedOut))
            return false;
        reply.included.emplace(std::move(name), std::move(text));
    }
    return true;
}

bool CompileInServer(const CompileRequest &request, CompileReply &reply) {
    // A server that died since the last compile is noticed on sending; the
    // request then goes to a new one.
    bool sent = false;
    for (int attempt = 0; attempt < 2 && !sent; ++attempt) {
        if (server.pid < 0 && !StartServer()) return false;
        sent = SendRequest(server.fd, request);
        if (!sent) StopServer();
    }
    if (!sent) return false;

    bool timedOut = false;
    if (ReceiveReply(server.fd, reply, Now() + kCompileSeconds, timedOut)) return true;

    // The server crashed or hung on this source: say so as a compile error.
    int status = 0;
    if (!timedOut) {
        kill(server.pid, SIGKILL); // a reply cut short from a server still running
        while (waitpid(server.pid, &status, 0) < 0 && errno == EINTR) {
        }
        server.pid = -1;
    }
    StopServer();
    // A crash may have been in a compile ahead, on another entry point: the
    // request alone, in a new server, tells.
    if (!timedOut && !request.ahead.empty()) {
        CompileRequest alone = request;
        alone.ahead.clear();
        return CompileInServer(alone, reply);
    }
    reply = CompileReply();
    if (timedOut)
        reply.diagnostics.Error(request.fileName, 0, 0,
                                "the HLSL compiler did not finish '" + request.entryPoint +
                                    "' within " + std::to_string(kCompileSeconds) +
                                    " seconds and was stopped");
    else
        reply.diagnostics.Error(
            request.fileName, 0, 0,
            "the HLSL compiler (glslang) crashed on '" + request.entryPoint + "'" +
                (WIFSIGNALED(status) ? " with signal " + std::to_string(WTERMSIG(status))
                                     : std::string()) +
                "; look for a syntax error near the last edit");
    return true;
}

namespace {

// A compile the server started ahead of its request, on a worker thread:
// glslang compiles on several threads once its tables are built, and a
// thread shares the server's warm tables and pages, where a forked child
// would copy every page it writes.
struct AheadResult {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    CompileReply reply;
};
struct Ahead {
    EntryPoint entry;
    std::shared_ptr<AheadResult> result;
};

// The content the compiles ahead were started on, and the compiles. A
// dropped compile's thread runs to its end and leaves its result unread.
struct AheadCompiles {
    std::string fileName, workingDirectory, source;
    std::vector<Ahead> compiles;
};

// The compiles ahead not started yet, and the workers that take them: at
// most one per core, each ending when nothing is left to take, so none is
// kept while the server is idle.
struct Job {
    CompileRequest request;
    std::shared_ptr<AheadResult> result;
};
struct Workers {
    std::mutex mutex;
    std::vector<Job> queued;
    long running = 0;
};
Workers workers;

void Run(Job &job) {
    CompileReply reply;
    CompileInThisProcess(job.request, reply);
    {
        std::lock_guard<std::mutex> lock(job.result->mutex);
        job.result->reply = std::move(reply);
        job.result->done  = true;
    }
    job.result->finished.notify_all();
}

// The first queued compile, if any; a worker that finds none ends.
bool NextJob(Job &job, bool worker) {
    std::lock_guard<std::mutex> lock(workers.mutex);
    if (workers.queued.empty()) {
        if (worker) --workers.running;
        return false;
    }
    job = std::move(workers.queued.front());
    workers.queued.erase(workers.queued.begin());
    return true;
}

void Work() {
    for (Job job; NextJob(job, true);)
        Run(job);
}

// Queues a compile and starts a worker for it where a core is free; false
// when no thread is to be had.
bool Queue(Job job) {
    static const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    std::lock_guard<std::mutex> lock(workers.mutex);
    workers.queued.push_back(std::move(job));
    if (workers.running >= std::max(cores, 1L)) return true;
    try {
        std::thread(Work).detach();
        ++workers.running;
    } catch (const std::system_error &) {
        workers.queued.pop_back(); // the request compiles as it comes
        return false;
    }
    return true;
}

// Takes a queued compile back, to run it on the calling thread: true if it
// had not started.
bool Unqueue(const std::shared_ptr<AheadResult> &result) {
    std::lock_guard<std::mutex> lock(workers.mutex);
    for (auto it = workers.queued.begin(); it != workers.queued.end(); ++it)
        if (it->result == result) {
            workers.queued.erase(it);
            return true;
        }
    return false;
}

// New content: the compiles of the old that have not started never will.
void DropAhead(AheadCompiles &ahead) {
    {
        std::lock_guard<std::mutex> lock(workers.mutex);
        workers.queued.clear();
    }
    ahead = AheadCompiles();
}

bool SameContent(const AheadCompiles &ahead, const CompileRequest &request) {
    return ahead.source == request.source && ahead.fileName == request.fileName &&
           ahead.workingDirectory == request.workingDirectory;
}

bool IncludesUnchanged(const IncludedFiles &included) {
    for (const auto &[name, text] : included) {
        std::string now;
        Diagnostics ignored;
        if (ReadSource(name.c_str(), now, ignored) != 0 || now != text) return false;
    }
    return true;
}

// The reply of the compile of the request's entry point ahead, if one ran
// and the files it included still read the same. One still queued is taken
// back and compiled by the caller.
bool TakeAhead(AheadCompiles &ahead, const CompileRequest &request, CompileReply &reply) {
    const EntryPoint &asked = request;
    for (auto it = ahead.compiles.begin(); it != ahead.compiles.end(); ++it) {
        if (!(it->entry == asked)) continue;
        const std::shared_ptr<AheadResult> result = it->result;
        ahead.compiles.erase(it);
        if (Unqueue(result)) return false;
        // While a worker compiles it, the others queued compile here.
        for (Job job;;) {
            {
                std::lock_guard<std::mutex> lock(result->mutex);
                if (result->done) break;
            }
            if (!NextJob(job, false)) break;
            Run(job);
        }
        std::unique_lock<std::mutex> lock(result->mutex);
        result->finished.wait(lock, [&] { return result->done; });
        reply = std::move(result->reply);
        return IncludesUnchanged(reply.included);
    }
    return false;
}

// Queues the compiles of the entries on the request's content that have not
// been started yet, except the request's own.
void StartAhead(AheadCompiles &ahead, const CompileRequest &request,
                const std::vector<EntryPoint> &entries) {
    if (!SameContent(ahead, request)) {
        DropAhead(ahead);
        ahead.fileName         = request.fileName;
        ahead.workingDirectory = request.workingDirectory;
        ahead.source           = request.source;
    }
    for (const EntryPoint &entry : entries) {
        bool started = entry == static_cast<const EntryPoint &>(request);
        for (const Ahead &compile : ahead.compiles)
            started = started || compile.entry == entry;
        if (started) continue;
        Job job{request, std::make_shared<AheadResult>()};
        static_cast<EntryPoint &>(job.request) = entry;
        job.request.ahead.clear();
        job.request.load.clear();
        const std::shared_ptr<AheadResult> result = job.result;
        if (!Queue(std::move(job))) return;
        ahead.compiles.push_back({entry, result});
    }
}

// The file of the last load, watched: when it is saved, its entry points
// compile on the saved content before the reload asks for them, while the
// user is still on the way to the reload key. The reload's requests take
// those results only where their content is the same, as for any compile
// ahead.
struct Watch {
    int inotify = -1, watch = -1;
    std::string folder, name;               // the file's folder and its name there
    std::string fileName, workingDirectory; // as the requests name them
    std::vector<EntryPoint> entries;        // what compiles when the file is saved
};

void WatchLoad(Watch &watch, const CompileRequest &request) {
    const std::string path = request.fileName.empty() || request.fileName[0] == '/'
                                 ? request.fileName
                                 : request.workingDirectory + '/' + request.fileName;
    const size_t slash     = path.rfind('/');
    if (slash == std::string::npos) return;
    // Every entry point of the file's last load; at the first load, which
    // has none before it, those asked so far.
    std::vector<EntryPoint> entries = request.load;
    if (entries.empty() && watch.fileName == request.fileName &&
        watch.workingDirectory == request.workingDirectory)
        entries = std::move(watch.entries);
    if (std::find(entries.begin(), entries.end(), request) == entries.end() &&
        entries.size() < kMaxAhead)
        entries.push_back(request);
    watch.entries            = std::move(entries);
    watch.fileName           = request.fileName;
    watch.workingDirectory   = request.workingDirectory;
    const std::string folder = slash ? path.substr(0, slash) : "/";
    watch.name               = path.substr(slash + 1);
    if (folder == watch.folder && watch.watch >= 0) return;
    if (watch.inotify < 0) watch.inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch.inotify < 0) return;
    if (watch.watch >= 0) inotify_rm_watch(watch.inotify, watch.watch);
    // An editor saves by writing in place or by renaming a new file over it.
    watch.watch  = inotify_add_watch(watch.inotify, folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
    watch.folder = watch.watch >= 0 ? folder : std::string();
}

// Reads the watch's events; true when one says the file was saved.
bool FileSaved(const Watch &watch) {
    bool saved = false;
    alignas(inotify_event) char events[4096];
    ssize_t length;
    while ((length = read(watch.inotify, events, sizeof events)) > 0)
        for (ssize_t at = 0; at < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(events + at);
            saved             = saved || (event->len && watch.name == event->name);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    return saved;
}

// Starts the saved content's compiles, as the reload's requests would read
// it.
void CompileSaved(AheadCompiles &ahead, const Watch &watch) {
    CompileRequest saved; // no entry point of its own: every one goes ahead
    saved.fileName         = watch.fileName;
    saved.workingDirectory = watch.workingDirectory;
    Diagnostics ignored;
    if (chdir(saved.workingDirectory.c_str()) != 0 ||
        ReadSource(saved.fileName.c_str(), saved.source, ignored) != 0 || SameContent(ahead, saved))
        return;
    StartAhead(ahead, saved, watch.entries);
}

// Waits for a request, compiling the watched file's entry points meanwhile
// whenever it is saved; false when the socket has closed or failed.
bool WaitForRequest(int fd, AheadCompiles &ahead, const Watch &watch) {
    for (;;) {
        pollfd p[2]     = {{fd, POLLIN, 0}, {watch.inotify, POLLIN, 0}};
        const int ready = poll(p, watch.inotify >= 0 ? 2 : 1, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return false;
        if (p[0].revents) return true;
        if (FileSaved(watch)) CompileSaved(ahead, watch);
    }
}

} // namespace

int ServeCompiles(int fd) {
    AheadCompiles ahead;
    Watch watch;
    for (;;) {
        CompileRequest request;
        if (!WaitForRequest(fd, ahead, watch) || !ReceiveRequest(fd, request)) return 0;
        CompileReply reply;
        // Includes are looked up from the caller's folder, as they would be
        // in the caller's own process.
        if (!request.workingDirectory.empty() && chdir(request.workingDirectory.c_str()) != 0) {
            reply.diagnostics.Error(request.fileName, 0, 0,
                                    "the compile server cannot enter the working directory '" +
                                        request.workingDirectory + "'");
        } else {
            if (!SameContent(ahead, request)) DropAhead(ahead);
            const bool taken = TakeAhead(ahead, request, reply);
            StartAhead(ahead, request, request.ahead);
            WatchLoad(watch, request);
            if (!taken) {
                reply = CompileReply();
                CompileInThisProcess(request, reply);
            }
        }
        reply.included.clear(); // the caller has no use for them
        if (!SendReply(fd, reply)) return 0;
    }
}
