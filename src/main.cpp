// Process entry: installs the platform, makes the one application delegate and runs the event loop.
#include "src/AppDelegate.h"
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
    platform::installPlatform(argc, argv, streams);
    app = &platform::Application::sharedApplication();
    delegate = std::make_unique<AppDelegate>();
    app->setDelegate(delegate.get());
    return app->run();
}
