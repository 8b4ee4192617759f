#pragma once

#include "ImpulseLoaderAsync.h"

// Reaches the loader's private tick and stream table, so that tests and benchmarks can run a tick
// deterministically.
struct ImpulseLoaderTestAccess
{
    static void tick (ImpulseLoaderAsync& loader) { loader.timerCallback(); }
    static void setStreams (ImpulseLoaderAsync& loader, const kto::resources::Entry* streams)
    {
        loader.streams = streams;
    }
};
