// Where a time falls on the editor's timeline: 10 px for 3 s, with the time origin half a playhead
// handle in from the left edge of the lanes and the rulers. So the centre line of a handle placed
// for a time, the ruler tick of that time, a clip edge at it and the snap line onto it share one
// pixel column, and a handle at 0 s still fits in its superview.
#pragma once

#include <algorithm>
#include <cmath>

namespace tamberlo::timeline {

constexpr double pixelsPerSecond = 10.0 / 3.0;
// The playhead handles are 14 px wide; their line runs down their centre.
constexpr int handleWidth = 14;
constexpr int origin = handleWidth / 2;

// The x of a time in a lane or a ruler, and the time at an x there (never before 0 s).
inline double xForSeconds(double seconds) { return origin + seconds * pixelsPerSecond; }
inline double secondsAtX(double x) { return std::max(0.0, (x - origin) / 10.0 * 3.0); }

// A handle's leading edge for a time (whole pixels, so its line is one crisp column), and the time
// of a handle whose leading edge is at `left`.
inline int handleLeftForSeconds(double seconds) { return int(std::lround(seconds * pixelsPerSecond)); }
inline double secondsAtHandleLeft(double left) { return secondsAtX(left + origin); }

// The pixel column of the line drawn for the time at `x`: the column of a handle's line.
inline int lineColumnAtX(double x) { return int(std::lround(x - origin)) + origin; }

// The width in pixels of a length of time.
inline double widthForSeconds(double seconds) { return seconds * pixelsPerSecond; }

}  // namespace tamberlo::timeline
