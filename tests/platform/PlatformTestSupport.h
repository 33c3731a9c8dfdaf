// Shared helpers of the platform tests: the Qt application they run in, waiting on the event
// loop, and environment variables set for one scope.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace kovra_test {

// The one QCoreApplication of the test process, made on first use; it lives as long as the process.
inline QCoreApplication& qtApp()
{
    static int argc = 1;
    static char name[] = "platform_tests";
    static char* argv[] = {name, nullptr};
    static auto* app = QCoreApplication::instance() ? QCoreApplication::instance() : new QCoreApplication(argc, argv);
    return *app;
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

// A file's whole content ("" when it cannot be read).
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes a file whole, its folder made first.
inline void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(content), content.size());
}

// Sets an environment variable for one scope and puts the old value back.
struct ScopedEnv {
    ScopedEnv(const char* variable, const QByteArray& value) : name(variable), had(qEnvironmentVariableIsSet(variable))
    {
        qputenv(name, value);
    }
    ~ScopedEnv() { had ? void(qputenv(name, old)) : void(qunsetenv(name)); }
    ScopedEnv(const ScopedEnv&) = delete;

    const char* name;
    bool had;
    QByteArray old = qgetenv(name);
};

} // namespace kovra_test
