#include "link/lampcommand.h"

#include "link/protocol/commands.h"
#include "link/readerlink.h"

int sendLampCommand(ReaderLink& link, int index, const std::function<bool()>& carryOn)
{
    const QByteArray data = lampCommand(index);
    int outcome;
    do {
        link.SendData(data);
        outcome = link.WaitForReply(true);
        if (!carryOn())
            break;
    } while (outcome == WAIT_TRY_AGAIN);
    return outcome;
}
