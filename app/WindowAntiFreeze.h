// The network library's idle hook as every window needs it: a socket wait on
// the GUI thread slices itself and calls it between slices, so the window
// repaints and takes a close while a transfer waits for the unit's reply.
// No toolkit type belongs here; the window's pump does the toolkit's part.
#pragma once

#include "app/Loader.h"
#include "app/WindowOperations.h"
#include "net/IdComponent.h"

class TWindowAntiFreeze : public TIdAntiFreezeBase {
public:
    TWindowAntiFreeze(TWindowOperations& window, TLoader& loader)
        : window_(window), loader_(loader) {}

    void ProcessEvents() override {
        window_.PumpMessages();
        // After a close the transfer's wait for the unit is pointless.
        loader_.AbortCancelledTransfer();
    }

private:
    TWindowOperations& window_;
    TLoader& loader_;
};
