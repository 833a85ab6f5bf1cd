// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Interrupts.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace norik::cli {

namespace {

sigset_t handledSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

void notify(int eventDescriptor) {
    const std::uint64_t one = 1;
    // An eventfd counter cannot overflow from a handful of writes, and a failed wake-up has no remedy.
    static_cast<void>(::write(eventDescriptor, &one, sizeof one));
}

} // namespace

Interrupts::Interrupts() {
    const sigset_t signals = handledSignals();
    pthread_sigmask(SIG_BLOCK, &signals, &m_previousMask);
    m_signals = ::signalfd(-1, &signals, SFD_CLOEXEC);
    m_shutdown = ::eventfd(0, EFD_CLOEXEC);
    m_stopped = ::eventfd(0, EFD_CLOEXEC);
    m_thread = std::thread([this] { watch(); });
}

Interrupts::~Interrupts() {
    notify(m_shutdown);
    m_thread.join();
    for (const int descriptor : {m_signals, m_shutdown, m_stopped}) {
        ::close(descriptor);
    }
    pthread_sigmask(SIG_SETMASK, &m_previousMask, nullptr);
}

int Interrupts::exitCode() const {
    std::lock_guard lock{m_mutex};
    return 128 + m_signal;
}

void Interrupts::watch() {
    std::array<pollfd, 2> watched{pollfd{m_signals, POLLIN, 0}, pollfd{m_shutdown, POLLIN, 0}};
    for (;;) {
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (watched[1].revents != 0) {
            return;
        }
        signalfd_siginfo info{};
        if (watched[0].revents != 0 && ::read(m_signals, &info, sizeof info) == sizeof info) {
            handle(static_cast<int>(info.ssi_signo));
        }
    }
}

void Interrupts::handle(int signal) {
    std::lock_guard lock{m_mutex};
    if (m_scopes == 0 || m_source.stop_requested()) {
        ::_exit(128 + signal);
    }
    m_signal = signal;
    m_source.request_stop();
    notify(m_stopped);
}

Interrupts::Scope::Scope(Interrupts& interrupts) : m_interrupts(interrupts) {
    std::lock_guard lock{m_interrupts.m_mutex};
    ++m_interrupts.m_scopes;
}

Interrupts::Scope::~Scope() {
    std::lock_guard lock{m_interrupts.m_mutex};
    --m_interrupts.m_scopes;
}

} // namespace norik::cli
