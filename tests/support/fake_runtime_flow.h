#pragma once
// The zelk program, run as a real process, through list, start, stop, start again, remove and
// "remove --everything --yes" against the fake runtime program (tests/helpers/fake_podman.cpp)
// copied first on PATH as podman(.exe), with the app's readiness probe answered by a real
// listener on 127.0.0.1. It proves on each platform the program lookup, the runner and the
// quoting of every argument through whole command flows. Reports through GoogleTest.

namespace zelk {

void walk_through_the_fake_runtime();

}  // namespace zelk
