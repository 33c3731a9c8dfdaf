// `kovra-radio --slot N`: a later launch hands slot N to the running instance over the session
// bus, where it acts as a press of that slot's shortcut. For desktops that bind commands, not
// portal shortcuts, to keys.
#pragma once

namespace platform::linux_impl {

// Takes "--slot N" (N from 1 to 5) at argv[i], moving i past it. A missing or bad N ends the
// process with status 2.
bool takeSlotOption(int argc, char** argv, int& i);

// In a launch that found another instance running: hands it the slot asked for, if any, and
// says what happened. Returns the exit status.
int forwardSlotToRunningInstance();

// In the running instance: answers later launches, and presses the slot this launch was given
// once its shortcut is registered.
void serveSlotCommands();

} // namespace platform::linux_impl
