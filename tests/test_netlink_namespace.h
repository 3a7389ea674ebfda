// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Network namespaces made by tests and benchmarks of the interface table: each lives as long as
// the object that holds it and takes its links with it when it goes.

#include "support/TestSupport.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sched.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

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

// Programs run by the namespace tests and benchmarks: no shell, output discarded.
using fb::testing_support::RunProgram;

} // namespace fb::testing
