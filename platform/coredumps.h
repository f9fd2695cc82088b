#pragma once

// Card data lives in this process's memory: keep it out of core dumps, which the system may
// keep where other people can read them. A debugging build keeps its core dumps, and so does
// any build run with TARNAVEL_CORE_DUMPS=1 (for a debugging session on a test reader).
void keepCardDataOutOfCoreDumps();
