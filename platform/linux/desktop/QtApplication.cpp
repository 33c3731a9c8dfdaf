// The application object on QApplication: runs the event loop, tells the delegate once that
// launching has finished, and ends on the quit entry, SIGINT or SIGTERM with status 0.
#include "platform/linux/desktop/QtApplication.h"

#include "platform/Configuration.h"
#include "platform/linux/desktop/AppIdentity.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::linux_impl {

namespace {

// Write end of the self-pipe; the signal handler may only touch this.
volatile sig_atomic_t signalWriteFd = -1;

extern "C" void onTerminationSignal(int signal)
{
    const int savedErrno = errno;
    const char byte = char(signal);
    if (signalWriteFd >= 0) [[maybe_unused]]
        auto written = ::write(signalWriteFd, &byte, 1);
    errno = savedErrno;
}

// SIGINT and SIGTERM become an ordinary quit on the main thread: the handler writes one byte to
// a socket pair, whose read end the event loop watches.
class TerminationSignals {
public:
    explicit TerminationSignals(QObject* owner)
    {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds_) != 0)
            return;
        signalWriteFd = fds_[1];
        notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read, owner);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, owner, [this] {
            char buffer[16];
            while (::read(fds_[0], buffer, sizeof buffer) > 0) {
            }
            QCoreApplication::exit(0);
        });
        struct sigaction action = {};
        action.sa_handler = onTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int signal : {SIGINT, SIGTERM})
            ::sigaction(signal, &action, &previous_[signal == SIGINT ? 0 : 1]);
        installed_ = true;
    }
    ~TerminationSignals()
    {
        if (installed_) {
            ::sigaction(SIGINT, &previous_[0], nullptr);
            ::sigaction(SIGTERM, &previous_[1], nullptr);
        }
        signalWriteFd = -1;
        notifier_.reset();
        for (int fd : fds_) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    int fds_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction previous_[2] = {};
    bool installed_ = false;
};

class QtApplication final : public Application {
public:
    QtApplication(int& argc, char** argv)
    {
        QApplication::setApplicationName(AppIdentity::programName());
        QApplication::setApplicationDisplayName(AppIdentity::displayName());
        QApplication::setDesktopFileName(AppIdentity::id());
        QApplication::setApplicationVersion(QString::fromStdString(applicationVersion()));
        application_ = std::make_unique<QApplication>(argc, argv);
        // A tray utility: closing any window it may open never ends it.
        QApplication::setQuitOnLastWindowClosed(false);
        signals_ = std::make_unique<TerminationSignals>(application_.get());
    }

    void setDelegate(ApplicationDelegate* delegate) override { delegate_ = delegate; }

    int run() override
    {
        QTimer::singleShot(0, application_.get(), [this] {
            if (launched_ || !delegate_)
                return;
            launched_ = true;
            delegate_->applicationDidFinishLaunching();
        });
        // Quitting runs none of the units' own steps: the process entry takes the objects down
        // once this returns, and the platform the services, in their order.
        return application_->exec();
    }

    void terminate() override { QCoreApplication::exit(0); }

private:
    std::unique_ptr<QApplication> application_;
    std::unique_ptr<TerminationSignals> signals_;
    ApplicationDelegate* delegate_ = nullptr;
    bool launched_ = false;
};

} // namespace

std::shared_ptr<Application> makeApplication(int& argc, char** argv)
{
    return std::make_shared<QtApplication>(argc, argv);
}

} // namespace platform::linux_impl
