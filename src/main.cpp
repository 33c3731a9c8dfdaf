// Process entry: installs the platform, makes the one application delegate and runs the event loop;
// at quit, takes them down again in the reverse order.
#include "src/AppDelegate.h"
#include "src/HotkeyManager.h"
#include "src/Models.h"

#include "platform/Application.h"
#include "platform/Platform.h"

#include <memory>
#include <vector>

platform::Application* app = nullptr;
// The application does not own its delegate; this keeps it, and everything it holds, alive.
std::unique_ptr<AppDelegate> delegate;

int main(int argc, char** argv)
{
    std::vector<platform::URL> streams;
    streams.reserve(KovraChannel::allChannels.size());
    for (const KovraChannel& channel : KovraChannel::allChannels)
        streams.push_back(channel.streamURL());
    int status = 0;
    auto installed = platform::installPlatform(argc, argv, streams, status);
    if (!installed)
        return status;
    app = &platform::Application::sharedApplication();
    delegate = std::make_unique<AppDelegate>();
    app->setDelegate(delegate.get());
    status = app->run();
    // The units first, while every service they hold still works; then the services.
    app->setDelegate(nullptr);
    delegate.reset();
    hotkeyManagerInstance.reset();
    app = nullptr;
    installed.reset();
    return status;
}
