// The process on POSIX: pthreads, stop signals as the request to stop, and
// posix_spawn for the desktop program.
#include "platform/process.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

#include "platform/posix/error.h"

extern char** environ;

namespace platform {

namespace {

// The requests to quit that reach a POSIX process from outside: systemd's
// stop, Ctrl-C in a terminal, the end of the terminal session.
void stopSignals(sigset_t& set) {
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
}

struct ThreadStart {
    void (*routine)();
};

void* runThread(void* parameter) {
    ThreadStart* start = static_cast<ThreadStart*>(parameter);
    void (*routine)() = start->routine;
    delete start;
    routine();
    return nullptr;
}

// Creates a detached thread with every signal blocked while it starts, so it
// never takes a signal meant for the main thread's wait.
int createDetachedThread(void* (*routine)(void*), void* parameter, std::size_t stackSize) {
    pthread_attr_t attributes;
    int error = pthread_attr_init(&attributes);
    if (error != 0) return error;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0) pthread_attr_setstacksize(&attributes, stackSize);
    pthread_t thread;
    error = pthread_create(&thread, &attributes, routine, parameter);
    pthread_attr_destroy(&attributes);
    return error;
}

// Started programs are our children until they end; each gets a small thread
// that waits for it, so none stays behind as a zombie. This changes nothing
// process-wide (SIGCHLD keeps its default), so other waits are unaffected.
// Children whose waiter could not be started are collected on the next start.
std::mutex unwatchedMutex;
std::vector<pid_t> unwatchedChildren;

void* waitForChild(void* parameter) {
    pid_t child = static_cast<pid_t>(reinterpret_cast<std::intptr_t>(parameter));
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return nullptr;
}

void collectUnwatchedChildren() {
    std::lock_guard<std::mutex> lock(unwatchedMutex);
    for (std::size_t i = 0; i < unwatchedChildren.size();) {
        pid_t result = waitpid(unwatchedChildren[i], nullptr, WNOHANG);
        if (result == 0) {
            ++i;
        } else {
            unwatchedChildren.erase(unwatchedChildren.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
}

void watchChild(pid_t child) {
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    int error = createDetachedThread(waitForChild, reinterpret_cast<void*>(static_cast<std::intptr_t>(child)),
                                     64 * 1024);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (error != 0) {
        std::lock_guard<std::mutex> lock(unwatchedMutex);
        unwatchedChildren.push_back(child);
    }
}

}  // namespace

int startThread(void (*routine)()) {
    sigset_t set;
    stopSignals(set);
    int error = pthread_sigmask(SIG_BLOCK, &set, nullptr);
    if (error != 0) return error;

    ThreadStart* start = new (std::nothrow) ThreadStart{routine};
    if (!start) return ENOMEM;
    error = createDetachedThread(runThread, start, 0);
    if (error != 0) delete start;
    return error;
}

int waitForStopRequest() {
    sigset_t set;
    stopSignals(set);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    int signalNumber = 0;
    while (sigwait(&set, &signalNumber) != 0) {
    }
    return 0;
}

void exitProcess(int code) {
    // Not exit(): the other thread may be writing the log or waiting for a
    // child, and static objects must not be destroyed under it. Every log
    // line is closed already; only the C streams are flushed.
    std::fflush(nullptr);
    std::_Exit(code);
}

bool startProgram(const std::string& file, const std::string& argument, const std::string& directory,
                  SystemError& failure) {
    collectUnwatchedChildren();

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        failure = posix::errorFrom(ENOMEM);
        return false;
    }
    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        failure = posix::errorFrom(ENOMEM);
        return false;
    }

    int error = posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    if (error == 0)
        error = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Our sockets are close-on-exec already; this also keeps out anything a
    // library opened without that flag. Output and errors stay shared.
    if (error == 0) error = posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif

    // Its own session, so it outlives the launcher and its terminal; default
    // dispositions and an empty mask, not the launcher's blocked stop signals.
    sigset_t defaults, empty;
    sigfillset(&defaults);
    sigdelset(&defaults, SIGKILL);
    sigdelset(&defaults, SIGSTOP);
    sigemptyset(&empty);
    if (error == 0) error = posix_spawnattr_setsigdefault(&attributes, &defaults);
    if (error == 0) error = posix_spawnattr_setsigmask(&attributes, &empty);
    if (error == 0)
        error = posix_spawnattr_setflags(
            &attributes,
            static_cast<short>(POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK));

    pid_t child = -1;
    if (error == 0) {
        // Exactly two arguments: the user id is one of them whatever it holds.
        std::string program = file;
        std::string parameter = argument;
        char* childArguments[] = {&program[0], &parameter[0], nullptr};
        error = posix_spawn(&child, file.c_str(), &actions, &attributes, childArguments, environ);
    }

    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        failure = posix::errorFrom(error);
        return false;
    }

    watchChild(child);
    return true;
}

}  // namespace platform
