#pragma once

// Network namespaces made by tests and benchmarks of the interface table: each lives as long as
// the object that holds it and takes its links with it when it goes.

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sched.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fb::testing {

// A fresh, empty network namespace, held by a file descriptor. It is made by a short-lived
// thread so that no thread of the process ever leaves its own namespace for it.
class TestNetns {
public:
    static std::unique_ptr<TestNetns> Create() {
        int fd = -1;
        std::thread maker([&fd] {
            if (unshare(CLONE_NEWNET) == 0) {
                fd = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
            }
        });
        maker.join();
        if (fd < 0) {
            return nullptr;
        }
        return std::unique_ptr<TestNetns>(new TestNetns(fd));
    }

    ~TestNetns() { close(m_fd); }
    TestNetns(const TestNetns&) = delete;
    TestNetns& operator=(const TestNetns&) = delete;

    int Fd() const { return m_fd; }

    // A path that names this namespace for programs started by this process.
    std::string Path() const {
        return "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(m_fd);
    }

private:
    explicit TestNetns(int fd)
        : m_fd(fd) {}
    int m_fd;
};

// Puts the calling thread into a namespace for the scope's life, then back into its own.
// Sockets made and programs started meanwhile belong to that namespace.
class NetnsScope {
public:
    explicit NetnsScope(const TestNetns& ns) {
        m_home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        m_entered = m_home >= 0 && setns(ns.Fd(), CLONE_NEWNET) == 0;
    }
    ~NetnsScope() {
        if (m_entered) {
            setns(m_home, CLONE_NEWNET);
        }
        if (m_home >= 0) {
            close(m_home);
        }
    }
    NetnsScope(const NetnsScope&) = delete;
    NetnsScope& operator=(const NetnsScope&) = delete;

    bool Entered() const { return m_entered; }

private:
    int m_home = -1;
    bool m_entered = false;
};

// Runs a program (searched in PATH) with its arguments, no shell; its output goes nowhere.
// Returns its exit status, or -1 when it could not be run.
inline int RunProgram(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace fb::testing
