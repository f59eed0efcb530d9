#include "front_end.h"

namespace {
FrontEnd installed{};
}

void installFrontEnd(const FrontEnd& frontEnd) { installed = frontEnd; }

void setStatusText(const std::wstring& text) {
    if (installed.setStatusText) installed.setStatusText(text);
}

void enableTerminateButton(bool enabled) {
    if (installed.enableTerminateButton) installed.enableTerminateButton(enabled);
}

void deliverCommand(int commandId) {
    if (installed.deliverCommand) installed.deliverCommand(commandId);
}

void closeMainWindow() {
    if (installed.closeWindow) installed.closeWindow();
}

void tellUser(const std::string& text) {
    if (installed.tellUser) installed.tellUser(text);
}
