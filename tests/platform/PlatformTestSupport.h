// Shared helpers of the platform tests: the Qt application they run in, waiting on the event
// loop, scratch directories and helper processes that are always stopped.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace kovra_test {

// The one QCoreApplication of the test process, made on first use, deleted after the last test.
inline QCoreApplication& qtApp()
{
    struct Environment : ::testing::Environment {
        void TearDown() override { app.reset(); }
        std::unique_ptr<QCoreApplication> app;
    };
    static Environment* environment = [] {
        auto* env = new Environment;
        ::testing::AddGlobalTestEnvironment(env);
        return env;
    }();
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "platform_tests";
        static char* argv[] = {name, nullptr};
        environment->app = std::make_unique<QCoreApplication>(argc, argv);
    }
    return *QCoreApplication::instance();
}

// Runs the event loop until done() holds or a generous guard passes; returns done().
// The guard only keeps a broken build from hanging; no test asserts on timing.
inline bool runUntil(const std::function<bool()>& done, int guardMs = 30000)
{
    qtApp();
    QDeadlineTimer guard(guardMs);
    while (!done() && !guard.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    return done();
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value) : name_(name), had_(qEnvironmentVariableIsSet(name))
    {
        old_ = qgetenv(name);
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

// A helper process that prints a line starting with readyPrefix once it serves; killed on scope exit.
class Helper {
public:
    Helper(const QString& program, const QStringList& arguments, const QString& readyPrefix)
    {
        process_.setProgram(program);
        process_.setArguments(arguments);
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start();
        if (!process_.waitForStarted(20000))
            return;
        QDeadlineTimer guard(30000);
        while (!guard.hasExpired() && process_.state() == QProcess::Running) {
            if (process_.canReadLine() || process_.waitForReadyRead(200)) {
                while (process_.canReadLine()) {
                    const QString line = QString::fromUtf8(process_.readLine()).trimmed();
                    if (line.startsWith(readyPrefix)) {
                        readyLine_ = line;
                        return;
                    }
                }
            }
        }
    }
    ~Helper()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;

    bool ready() const { return !readyLine_.isEmpty(); }
    const QString& readyLine() const { return readyLine_; }
    // The ready line's words after the prefix.
    QStringList readyWords() const { return readyLine_.split(u' ', Qt::SkipEmptyParts).mid(1); }
    QString errors() { return QString::fromUtf8(process_.readAllStandardError()); }

private:
    QProcess process_;
    QString readyLine_;
};

// A private session bus, so the tests never touch the desktop's own.
class PrivateBus {
public:
    PrivateBus()
        : daemon_(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nosyslog"),
                   QStringLiteral("--print-address=1")},
                  QStringLiteral("unix:"))
    {
        static int counter = 0;
        name_ = QStringLiteral("kovra-test-bus-%1").arg(++counter);
        // The daemon's first line is its address.
        address_ = daemon_.readyLine();
        if (!address_.isEmpty())
            connection_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address_, name_));
    }
    ~PrivateBus()
    {
        connection_.reset();
        QDBusConnection::disconnectFromBus(name_);
    }
    bool ok() const { return connection_ && connection_->isConnected(); }
    const QString& address() const { return address_; }
    QDBusConnection connection() const { return *connection_; }

private:
    Helper daemon_;
    QString name_;
    QString address_;
    std::unique_ptr<QDBusConnection> connection_;
};

} // namespace kovra_test
