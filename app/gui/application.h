#pragma once

namespace vellumar::gui {

// The whole program: start-up, the window, the event loop and the exit clean-up.
int RunApplication(int argc, char** argv);

}  // namespace vellumar::gui
