// Process entry: installs the platform, makes the one application delegate and runs the event loop.
#include "src/AppDelegate.h"

#include "platform/Application.h"
#include "platform/Platform.h"

#include <memory>

platform::Application* app = nullptr;
// The application does not own its delegate; this keeps it, and everything it holds, alive.
std::unique_ptr<AppDelegate> delegate;

int main(int argc, char** argv)
{
    platform::installPlatform(argc, argv);
    app = &platform::Application::sharedApplication();
    delegate = std::make_unique<AppDelegate>();
    app->setDelegate(delegate.get());
    return app->run();
}
