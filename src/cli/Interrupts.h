// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <mutex>
#include <stop_token>
#include <thread>

#include <signal.h>

namespace norik::cli {

// Ctrl+C (SIGINT) and SIGTERM for the whole process without any code in a signal handler: both signals are
// blocked in every thread and read from a signalfd on a dedicated thread, which may then do anything.
//
// Inside a Scope a signal requests a stop on token() and makes stopDescriptor() readable, so that the
// command can end its network call or blocking read and clean up (spinner line, terminal echo) before it
// exits. Outside any Scope, and on a second signal, the process ends at once with 128 + the signal, as
// the default action would, because nothing then needs cleaning up.
//
// Construct it before any other thread is started: threads inherit the blocked signals only from the
// thread that creates them.
class Interrupts {
public:
    Interrupts();
    ~Interrupts();
    Interrupts(const Interrupts&) = delete;
    Interrupts& operator=(const Interrupts&) = delete;

    [[nodiscard]] std::stop_token token() const { return m_source.get_token(); }
    [[nodiscard]] bool stopRequested() const { return m_source.stop_requested(); }
    // Readable once a stop was requested: poll() it next to a descriptor that a command blocks on.
    [[nodiscard]] int stopDescriptor() const { return m_stopped; }
    // 128 + the signal that requested the stop, as shells report a process ended by a signal.
    [[nodiscard]] int exitCode() const;

    class Scope {
    public:
        explicit Scope(Interrupts& interrupts);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        Interrupts& m_interrupts;
    };

private:
    void watch();
    void handle(int signal);

    std::stop_source m_source;
    sigset_t m_previousMask{};
    int m_signals = -1;         // signalfd for SIGINT and SIGTERM
    int m_shutdown = -1;        // eventfd that ends the watching thread
    int m_stopped = -1;         // eventfd written once when the stop is requested
    mutable std::mutex m_mutex; // orders a signal against a Scope ending, so that no stop goes unseen
    int m_scopes = 0;
    int m_signal = 0;
    std::thread m_thread;
};

} // namespace norik::cli
