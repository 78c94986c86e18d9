#pragma once

// Which side of the horizontal clip plane the view cuts away.
namespace Clip {
enum Direction
{
    NoClip = 0,
    FromTop = 1,    // keeps z <= the clip offset
    FromBottom = 2, // keeps z >= the clip offset
    Slab = 3        // keeps the clip-highlight band about the clip offset
};
} // namespace Clip
