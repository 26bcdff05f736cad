#include "app/UnixSignals.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace app {

namespace {

int g_pair[2] = {-1, -1};

void onSignal(int signal) {
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_pair[0], &byte, 1);
}

void install(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

} // namespace

UnixSignals::UnixSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pair) != 0) {
        return;
    }
    _notifier = new QSocketNotifier(g_pair[1], QSocketNotifier::Read, this);
    connect(_notifier, &QSocketNotifier::activated, this, &UnixSignals::onReadable);
    install(onSignal);
}

UnixSignals::~UnixSignals() {
    if (_notifier == nullptr) {
        return;
    }
    install(SIG_DFL);
    ::close(g_pair[0]);
    ::close(g_pair[1]);
    g_pair[0] = g_pair[1] = -1;
}

void UnixSignals::onReadable() {
    unsigned char byte = 0;
    while (::read(g_pair[1], &byte, 1) == 1) {
        Q_EMIT received(byte);
    }
}

} // namespace app
