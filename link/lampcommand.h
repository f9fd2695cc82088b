#pragma once

#include "link/protocol/lamps.h"

#include <functional>

class ReaderLink;

// Sends the lamp command and waits for the reply with the try-again question; sends it again
// while the answer is "try again" and carryOn() still holds (asked after every wait: the caller
// may have gone meanwhile). Returns the last wait's outcome; the reply, if any, is left in the
// link's buffer unexamined. Port errors (AppError) reach the caller.
int sendLampCommand(ReaderLink& link, int index, const std::function<bool()>& carryOn);
