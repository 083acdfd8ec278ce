#include <gtest/gtest.h>

#include "fake_runtime_flow.h"

namespace zelk {
namespace {

// zelk.exe finds the fake runtime as podman.exe on PATH, starts it through the Windows runner
// with each argument quoted by the Windows rules, and probes the app through Winsock.
TEST(WindowsFlow, ListStartStopStartRemoveAndRemoveEverything) { walk_through_the_fake_runtime(); }

}  // namespace
}  // namespace zelk
