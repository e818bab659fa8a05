// The camera's two movie frame sizes. The small one is the size of a new entry, and the
// size the preview, the player and graph building assume until a movie tells its own.
#pragma once

namespace tav {

struct FrameSize {
  int width;
  int height;
};

inline constexpr FrameSize kSmallFrame{320, 240};
inline constexpr FrameSize kLargeFrame{640, 480};

}  // namespace tav
