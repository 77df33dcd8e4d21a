#include "TLQuitSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace {

std::array<int, 2> gPipe{-1, -1};

void onSignal(int) {
    const int saved = errno;
    const char byte = 1;
    (void)!::write(gPipe[0], &byte, 1);
    errno = saved;
}

constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};

} // namespace

TLQuitSignals::TLQuitSignals(QObject* parent) : QObject(parent) {
    if (gPipe[0] >= 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, gPipe.data()) != 0) {
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(gPipe[1], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [] {
        char bytes[16];
        while (::read(gPipe[1], bytes, sizeof bytes) > 0) {
        }
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals) {
        ::sigaction(signal, &action, nullptr);
    }
}

TLQuitSignals::~TLQuitSignals() {
    if (!notifier_) {
        return;
    }
    for (int signal : kSignals) {
        ::signal(signal, SIG_DFL);
    }
    notifier_.reset();
    for (int& fd : gPipe) {
        ::close(fd);
        fd = -1;
    }
}
